// Linux: an O_PATH descriptor, which opens nothing, and a mode changed
// through the process's magic link to that very inode.

#include "platform/ItemHandle.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "platform/RetryOnInterrupt.h"

namespace platform {

ScopedFd openItemNoFollow(const std::string& path) {
  return ScopedFd(retryOnInterrupt([&] { return ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC); }));
}

int changeModeOfItem(int item, mode_t mode) {
  const std::string inode = "/proc/self/fd/" + std::to_string(item);
  return chmod(inode.c_str(), mode);
}

}  // namespace platform
