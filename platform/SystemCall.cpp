#include "platform/SystemCall.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>

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

std::optional<std::string> symbolicLinkTarget(const std::string& path) {
  std::string target(PATH_MAX, '\0');
  const ssize_t length = readlink(path.c_str(), target.data(), target.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return std::nullopt;
  target.resize(static_cast<std::size_t>(length));
  return target;
}

namespace {

// The kernel's own file systems: their "regular files" are interfaces to the
// kernel, which may act when one is opened or read, and whose size says
// nothing about what a read returns.
bool onKernelFileSystem(int fd) {
  constexpr long kConfigfsMagic = 0x62656570;  // not in the kernel's public headers
  struct statfs system {};
  if (fstatfs(fd, &system) != 0) return true;
  switch (static_cast<long>(system.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case SECURITYFS_MAGIC:
    case EFIVARFS_MAGIC:
    case kConfigfsMagic:
    case TRACEFS_MAGIC:
    case BPF_FS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
      return true;
    default:
      return false;
  }
}

}  // namespace

ScopedFd openRegularFileForReading(const std::string& path) {
  if (path.find('\0') != std::string::npos) {
    errno = ENOENT;  // cut short at the NUL, it would name another item
    return ScopedFd();
  }
  ScopedFd located(retryOnInterrupt([&] { return ::open(path.c_str(), O_PATH | O_CLOEXEC); }));
  struct stat status {};
  if (!located.valid() || fstat(located.get(), &status) != 0) return ScopedFd();
  if (!S_ISREG(status.st_mode) || onKernelFileSystem(located.get())) {
    errno = EINVAL;
    return ScopedFd();
  }
  const std::string inode = "/proc/self/fd/" + std::to_string(located.get());
  return ScopedFd(retryOnInterrupt([&] { return ::open(inode.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY); }));
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

}  // namespace platform
