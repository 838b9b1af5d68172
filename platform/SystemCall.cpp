#include "platform/SystemCall.h"

#include <unistd.h>

#include <array>
#include <climits>

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

std::optional<std::string> readAll(int fd) {
  std::string contents;
  std::array<char, 65536> buffer;
  for (;;) {
    ssize_t count = retryOnInterrupt([&] { return ::read(fd, buffer.data(), buffer.size()); });
    if (count < 0) return std::nullopt;
    if (count == 0) return contents;
    contents.append(buffer.data(), static_cast<std::size_t>(count));
  }
}

std::optional<std::string> symbolicLinkTarget(const std::string& path) {
  std::string target(PATH_MAX, '\0');
  const ssize_t length = readlink(path.c_str(), target.data(), target.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return std::nullopt;
  target.resize(static_cast<std::size_t>(length));
  return target;
}

}  // namespace platform
