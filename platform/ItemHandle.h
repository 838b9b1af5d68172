#pragma once

// A handle on the item a path names itself (a final symbolic link is not
// followed), for reading its status and changing its mode without the
// effects that opening a device or a pipe for reading can have. Per system:
// platform/linux/ItemHandle.cpp, platform/darwin/ItemHandle.cpp.

#include <sys/types.h>

#include <string>

#include "platform/ScopedFd.h"

namespace platform {

// A descriptor for fstat and changeModeOfItem. A regular file, a directory
// and a symbolic link always open; other types may fail with EOPNOTSUPP.
ScopedFd openItemNoFollow(const std::string& path);

// Changes the mode of the item `item` was opened on: 0, or -1 with errno.
int changeModeOfItem(int item, mode_t mode);

}  // namespace platform
