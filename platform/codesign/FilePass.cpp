#include "platform/codesign/FilePass.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "platform/codesign/Status.h"

namespace platform::codesign {
namespace {

// One read: large enough that system calls cost nothing, small enough to
// bound memory.
constexpr std::uint64_t kReadSize = std::uint64_t{2} << 20;
// What each target is handed at a time, so that several digests of the same
// bytes find them in cache.
constexpr std::uint64_t kPieceSize = std::uint64_t{256} << 10;

constexpr std::uint64_t kNone = std::numeric_limits<std::uint64_t>::max();

// The first offset at or after `from` that some target still needs.
std::uint64_t nextNeeded(std::span<const PassTarget> targets, std::uint64_t from) {
  std::uint64_t next = kNone;
  for (const PassTarget& t : targets)
    if (t.end > from && t.begin < t.end) next = std::min(next, std::max(t.begin, from));
  return next;
}

std::uint64_t farthestEnd(std::span<const PassTarget> targets) {
  std::uint64_t end = 0;
  for (const PassTarget& t : targets) end = std::max(end, t.end);
  return end;
}

// Hands [at, at + bytes.size()) of the file to every target it overlaps.
void distribute(std::span<const PassTarget> targets, std::uint64_t at, std::span<const std::uint8_t> bytes) {
  const std::uint64_t end = at + bytes.size();
  for (const PassTarget& t : targets) {
    const std::uint64_t from = std::max(t.begin, at), to = std::min(t.end, end);
    if (from < to) t.take(bytes.subspan(static_cast<std::size_t>(from - at), static_cast<std::size_t>(to - from)));
  }
}

}  // namespace

OSStatus readPass(const FileSource& file, std::span<const PassTarget> targets) {
  const std::uint64_t last = farthestEnd(targets);
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(kReadSize, last)));
  for (std::uint64_t position = nextNeeded(targets, 0); position != kNone;) {
    const std::uint64_t length = std::min(kReadSize, last - position);
    const std::span<std::uint8_t> chunk(buffer.data(), static_cast<std::size_t>(length));
    if (const OSStatus status = readExactly(file, position, chunk)) return status;
    for (std::uint64_t piece = 0; piece < length; piece += kPieceSize)
      distribute(targets, position + piece, std::span<const std::uint8_t>(chunk).subspan(
                                                static_cast<std::size_t>(piece),
                                                static_cast<std::size_t>(std::min(kPieceSize, length - piece))));
    position = nextNeeded(targets, position + length);
  }
  return errSecSuccess;
}

}  // namespace platform::codesign
