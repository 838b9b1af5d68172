// macOS: no O_PATH. A link is opened as itself (O_SYMLINK); a regular file
// or a directory is opened for reading without blocking or taking a
// terminal, and must be the item lstat saw. Other types are not opened.

#include "platform/ItemHandle.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/RetryOnInterrupt.h"

namespace platform {

ScopedFd openItemNoFollow(const std::string& path) {
  struct stat seen {};
  if (lstat(path.c_str(), &seen) != 0) return ScopedFd();
  int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  if (S_ISLNK(seen.st_mode)) {
    flags = O_RDONLY | O_SYMLINK | O_NONBLOCK | O_CLOEXEC;
  } else if (!S_ISREG(seen.st_mode) && !S_ISDIR(seen.st_mode)) {
    errno = EOPNOTSUPP;
    return ScopedFd();
  }
  ScopedFd item(retryOnInterrupt([&] { return ::open(path.c_str(), flags); }));
  struct stat opened {};
  if (!item.valid() || fstat(item.get(), &opened) != 0) return ScopedFd();
  if (opened.st_dev != seen.st_dev || opened.st_ino != seen.st_ino) {
    errno = EAGAIN;  // replaced since it was looked at
    return ScopedFd();
  }
  return item;
}

int changeModeOfItem(int item, mode_t mode) { return fchmod(item, mode); }

}  // namespace platform
