// Linux: the inode flags through the file-system ioctl; nameless files.

#include "common/SystemExpectations.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace testing_support {

bool setImmutable(const std::string& path, bool on) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  int flags = 0;
  bool done = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
  done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  if (fd >= 0) close(fd);
  return done;
}

const bool kStagedCopiesAreNameless = true;

std::vector<std::string> kernelFiles() {
  return {"/proc/self/status", "/sys/kernel/mm/transparent_hugepage/enabled"};
}

}  // namespace testing_support
