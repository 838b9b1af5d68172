#include "codesign/SliceArchitectures.h"

#include <algorithm>
#include <optional>

#include "codesign/ByteReader.h"
#include "codesign/Limits.h"
#include "codesign/Status.h"

namespace codesign {
namespace {

constexpr std::uint32_t kFatMagic = 0xcafebabe;
constexpr std::uint32_t kFatMagic64 = 0xcafebabf;
constexpr std::uint32_t kFatArchBytes = 20;
constexpr std::uint32_t kFatArch64Bytes = 32;
constexpr std::uint32_t kThinMagic = 0xfeedface;
constexpr std::uint32_t kThinMagic64 = 0xfeedfacf;

constexpr std::uint32_t kCpuTypeX86_64 = 0x01000007;
constexpr std::uint32_t kCpuTypeArm64 = 0x0100000c;
constexpr std::uint32_t kCpuSubtypeMask = 0xff000000;  // capability bits
constexpr std::uint32_t kCpuSubtypeX86_64H = 8;
constexpr std::uint32_t kCpuSubtypeArm64E = 2;

bool isThinMagic(std::uint32_t magic) {
  return magic == kThinMagic || magic == kThinMagic64;
}

}  // namespace

// Nothing for an architecture this tool never ships, so that no slice goes
// unchecked under a guessed name.
std::optional<std::string> architectureName(std::uint32_t cpuType, std::uint32_t cpuSubtype) {
  const std::uint32_t subtype = cpuSubtype & ~kCpuSubtypeMask;
  if (cpuType == kCpuTypeArm64) return subtype == kCpuSubtypeArm64E ? "arm64e" : "arm64";
  if (cpuType == kCpuTypeX86_64) return subtype == kCpuSubtypeX86_64H ? "x86_64h" : "x86_64";
  return std::nullopt;
}

OSStatus sliceArchitectures(std::span<const std::uint8_t> start, std::vector<std::string>* names) {
  if (names == nullptr) return errSecCSObjectRequired;
  names->clear();
  const ByteReader reader(start);
  std::uint32_t magic = 0;
  std::uint32_t swapped = 0;
  if (!reader.u32be(0, &magic) || !reader.u32(0, ByteOrder::little, &swapped)) return errSecCSUnsigned;
  if (isThinMagic(magic) || isThinMagic(swapped)) return errSecSuccess;
  if (magic != kFatMagic && magic != kFatMagic64) return errSecCSUnsigned;

  const std::uint32_t entryBytes = magic == kFatMagic64 ? kFatArch64Bytes : kFatArchBytes;
  std::uint32_t count = 0;
  if (!reader.u32be(4, &count) || count == 0 || count > limits::kMaxSlices) return errSecCSBadObjectFormat;
  std::vector<std::string> found;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t entry = 8 + std::uint64_t{i} * entryBytes;
    std::uint32_t cpuType = 0;
    std::uint32_t cpuSubtype = 0;
    if (!inRange(entry, entryBytes, reader.size()) || !reader.u32be(entry, &cpuType) ||
        !reader.u32be(entry + 4, &cpuSubtype)) {
      return errSecCSBadObjectFormat;
    }
    std::optional<std::string> name = architectureName(cpuType, cpuSubtype);
    if (!name || std::find(found.begin(), found.end(), *name) != found.end()) return errSecCSBadObjectFormat;
    found.push_back(std::move(*name));
  }
  *names = std::move(found);
  return errSecSuccess;
}

}  // namespace codesign
