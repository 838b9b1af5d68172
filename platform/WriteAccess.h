#pragma once

// Whether anyone but root may change a directory: its owner and mode bits,
// and on macOS its access control list, whose entries do not show in the
// mode bits (Linux shows them in the group bits). Per system:
// platform/linux/WriteAccess.cpp, platform/darwin/WriteAccess.cpp.

#include <sys/stat.h>

#include <string>

namespace platform {

// `status` is the lstat of `path`. True only when root owns it and no one
// else is granted the right to add, remove or rename entries in it or to
// change who may.
bool onlyRootMayChange(const std::string& path, const struct stat& status);

}  // namespace platform
