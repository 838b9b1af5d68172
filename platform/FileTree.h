#pragma once

#include <sys/types.h>

#include <string>

#include "platform/ScopedFd.h"

namespace platform {

// The permission bits of a mode: read, write and execute for owner, group
// and others, set-user-ID, set-group-ID and sticky.
inline constexpr mode_t kPermissionBits = 07777;

// Opens the directory at the path for use as a dirFd below (the working
// directory for an empty path); invalid with errno set otherwise.
ScopedFd openDirectory(const std::string& path);

// Whole-tree operations on the item `name` inside the directory `dirFd`
// (AT_FDCWD with a path works too). They never follow a symbolic link, at
// the top or anywhere inside a directory: a link is removed or copied as
// itself. False with errno set on the first failure.

// Removes the item; a directory goes with everything in it.
bool removeTree(int dirFd, const std::string& name);

// Copies the item to `toName` in `toDirFd`, which must not exist yet: a
// regular file with its bytes and permission bits, a directory with its
// contents, a link as a link. Whatever the copy created is removed again
// when it fails.
bool copyTree(int dirFd, const std::string& name, int toDirFd, const std::string& toName);

// Changes the mode of the item itself; a symbolic link fails with
// EOPNOTSUPP rather than passing the change to its target.
int changeModeNoFollow(int dirFd, const std::string& name, mode_t mode);

}  // namespace platform
