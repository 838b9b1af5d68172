#include "platform/DescriptorIO.h"

#include <unistd.h>

#include <algorithm>
#include <array>

#include "platform/RetryOnInterrupt.h"

namespace platform {

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = retryOnInterrupt([&] { return ::write(fd, bytes.data(), bytes.size()); });
    if (written < 0) return false;
    if (written == 0) {
      // A write that makes no progress would loop for ever.
      errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

std::optional<std::string> readAll(int fd, std::size_t limit) {
  std::string contents;
  std::array<char, 65536> buffer;
  while (contents.size() < limit) {
    const std::size_t wanted = std::min(buffer.size(), limit - contents.size());
    ssize_t count = retryOnInterrupt([&] { return ::read(fd, buffer.data(), wanted); });
    if (count < 0) return std::nullopt;
    if (count == 0) break;
    contents.append(buffer.data(), static_cast<std::size_t>(count));
  }
  return contents;
}

}  // namespace platform
