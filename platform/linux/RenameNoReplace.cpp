// Linux: renameat2 with RENAME_NOREPLACE.

#include "platform/RenameNoReplace.h"

#include <fcntl.h>
#include <stdio.h>

namespace platform {

int renameNoReplace(const std::string& from, const std::string& to) {
  return renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
}

}  // namespace platform
