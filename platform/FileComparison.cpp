#include "platform/FileComparison.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/RetryOnInterrupt.h"

namespace platform {
namespace {

constexpr off_t kChunk = off_t{1} << 20;

// Exactly `length` bytes at `offset`, or false.
bool readAt(int fd, char* buffer, std::size_t length, off_t offset) {
  for (std::size_t done = 0; done < length;) {
    const ssize_t got =
        retryOnInterrupt([&] { return ::pread(fd, buffer + done, length - done, offset + static_cast<off_t>(done)); });
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace

bool haveSameContents(int first, int second) {
  struct stat firstStatus {};
  struct stat secondStatus {};
  if (::fstat(first, &firstStatus) != 0 || ::fstat(second, &secondStatus) != 0) return false;
  if (!S_ISREG(firstStatus.st_mode) || !S_ISREG(secondStatus.st_mode)) return false;
  if (firstStatus.st_size != secondStatus.st_size) return false;
  const off_t size = firstStatus.st_size;
  const auto chunk = static_cast<std::size_t>(std::min(size, kChunk));
  std::vector<char> firstBytes(chunk);
  std::vector<char> secondBytes(chunk);
  for (off_t offset = 0; offset < size; offset += kChunk) {
    const auto length = static_cast<std::size_t>(std::min(size - offset, kChunk));
    if (!readAt(first, firstBytes.data(), length, offset) || !readAt(second, secondBytes.data(), length, offset) ||
        std::memcmp(firstBytes.data(), secondBytes.data(), length) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace platform
