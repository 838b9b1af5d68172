// Linux: the inode's flags, through the file-system ioctl.

#include "platform/FileFlags.h"

#include <linux/fs.h>
#include <sys/ioctl.h>

namespace platform {

std::optional<bool> isImmutable(int fd) {
  int flags = 0;
  if (ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) return std::nullopt;
  return (flags & FS_IMMUTABLE_FL) != 0;
}

}  // namespace platform
