// macOS: no O_PATH. The path is resolved first and judged by where it
// leads: anything under /dev (whose /dev/fd/N hands out the opener's own
// descriptors) is refused by its spelling, case folded, before it is
// opened. The resolved path is then opened with no link followed anywhere
// (O_NOFOLLOW_ANY), so that what is opened is what was judged, without
// blocking or taking a terminal, and checked again by type and file system.

#include "platform/RegularFileOpen.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "platform/RetryOnInterrupt.h"

namespace platform {
namespace {

bool underDevices(const std::string& resolved) {
  std::string folded;
  for (char c : resolved) folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded == "/dev" || folded.starts_with("/dev/");
}

bool onKernelFileSystem(int fd) {
  struct statfs system {};
  if (fstatfs(fd, &system) != 0) return true;
  return std::strcmp(system.f_fstypename, "devfs") == 0 || std::strcmp(system.f_fstypename, "fdesc") == 0;
}

ScopedFd refuse() {
  errno = EINVAL;
  return ScopedFd();
}

}  // namespace

ScopedFd openStoredRegularFile(const std::string& path) {
  char resolved[PATH_MAX] = {};
  if (realpath(path.c_str(), resolved) == nullptr) return ScopedFd();
  struct stat seen {};
  if (underDevices(resolved) || lstat(resolved, &seen) != 0 || !S_ISREG(seen.st_mode)) return refuse();
  ScopedFd fd(retryOnInterrupt(
      [&] { return ::open(resolved, O_RDONLY | O_NOFOLLOW_ANY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); }));
  struct stat opened {};
  if (!fd.valid() || fstat(fd.get(), &opened) != 0) return ScopedFd();
  if (!S_ISREG(opened.st_mode) || onKernelFileSystem(fd.get())) return refuse();
  const int flags = fcntl(fd.get(), F_GETFL);
  if (flags == -1 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) == -1) return ScopedFd();
  return fd;
}

}  // namespace platform
