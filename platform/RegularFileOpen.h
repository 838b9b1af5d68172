#pragma once

// Opening a regular file for reading, links followed, refusing every other
// type and the files of the kernel's own file systems, which are interfaces
// to the kernel rather than stored bytes (/proc and /sys on Linux, /dev on
// macOS, where /dev/fd/N hands out the opener's own descriptors). Per
// system: platform/linux/RegularFileOpen.cpp, platform/darwin/RegularFileOpen.cpp.

#include <string>

#include "platform/ScopedFd.h"

namespace platform {

// The open file; an invalid descriptor with errno set otherwise (EINVAL for
// an item that is not a stored regular file).
ScopedFd openStoredRegularFile(const std::string& path);

}  // namespace platform
