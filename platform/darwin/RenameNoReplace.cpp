// macOS: renameatx_np with RENAME_EXCL.

#include "platform/RenameNoReplace.h"

#include <fcntl.h>
#include <stdio.h>

namespace platform {

int renameNoReplace(const std::string& from, const std::string& to) {
  return renameatx_np(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCL);
}

}  // namespace platform
