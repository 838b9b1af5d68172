// Linux: the kernel's fchmodat2 (6.6 and later) refuses a symbolic link by
// itself; before it existed the C library did the same through /proc, which
// a sandbox may not have.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "platform/FileTree.h"

namespace platform {
namespace {

#ifdef SYS_fchmodat2
constexpr long kFchmodat2 = SYS_fchmodat2;
#else
constexpr long kFchmodat2 = 452;  // Linux 6.6; one number on every architecture since 5.1
#endif

}  // namespace

int changeModeNoFollow(int dirFd, const std::string& name, mode_t mode) {
  long result = syscall(kFchmodat2, dirFd, name.c_str(), mode, AT_SYMLINK_NOFOLLOW);
  if (result == 0 || (errno != ENOSYS && errno != EPERM)) return static_cast<int>(result);
  return fchmodat(dirFd, name.c_str(), mode, AT_SYMLINK_NOFOLLOW);
}

}  // namespace platform
