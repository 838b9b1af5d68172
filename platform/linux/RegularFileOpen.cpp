// Linux: the item is located with O_PATH, which opens nothing, judged by
// its type and its file system's magic number, and only then opened for
// reading, through the process's magic link to that very inode.

#include "platform/RegularFileOpen.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <cerrno>

#include "platform/RetryOnInterrupt.h"

namespace platform {
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

ScopedFd openStoredRegularFile(const std::string& path) {
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

}  // namespace platform
