// macOS: no nameless files; every staged file is named in the staging folder.

#include "platform/NamelessFile.h"

#include <errno.h>

namespace platform {

int openNamelessFile(int, mode_t) {
  errno = EOPNOTSUPP;
  return -1;
}

bool linkNamelessFile(int, int, const char*) {
  errno = EOPNOTSUPP;
  return false;
}

}  // namespace platform
