#include "platform/RegularFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>

#include "platform/DescriptorIO.h"
#include "platform/PathSyntax.h"
#include "platform/RegularFileOpen.h"

namespace platform {

ScopedFd openRegularFileForReading(const std::string& path) {
  if (path.find('\0') != std::string::npos) {
    errno = ENOENT;  // cut short at the NUL, it would name another item
    return ScopedFd();
  }
  return openStoredRegularFile(path);
}

std::optional<std::string> contentsOfRegularFile(const std::string& path) {
  const ScopedFd fd = openRegularFileForReading(path);
  struct stat status {};
  if (!fd.valid() || fstat(fd.get(), &status) != 0) return std::nullopt;
  const auto size = static_cast<std::uint64_t>(status.st_size);
  if (size > kMaximumFileRead) {
    errno = EFBIG;
    return std::nullopt;
  }
  return readAll(fd.get(), static_cast<std::size_t>(size));
}

std::optional<std::string> dataWithContentsOfFile(const std::string& path) {
  return contentsOfRegularFile(systemPath(path));
}

}  // namespace platform
