// macOS: fchmodat with AT_SYMLINK_NOFOLLOW changes a link's own mode, so a
// link is refused first. Should a link take the item's place in between,
// the change lands on the link itself, never on its target.

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/FileTree.h"

namespace platform {

int changeModeNoFollow(int dirFd, const std::string& name, mode_t mode) {
  struct stat status {};
  if (fstatat(dirFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return -1;
  if (S_ISLNK(status.st_mode)) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return fchmodat(dirFd, name.c_str(), mode, AT_SYMLINK_NOFOLLOW);
}

}  // namespace platform
