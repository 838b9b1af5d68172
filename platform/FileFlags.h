#pragma once

// The flag that makes a file unchangeable, read from an open descriptor:
// FS_IMMUTABLE_FL on Linux, UF_IMMUTABLE or SF_IMMUTABLE in st_flags on
// macOS. Per system: platform/linux/FileFlags.cpp, platform/darwin/FileFlags.cpp.

#include <optional>

namespace platform {

// True when the file is immutable; nothing, with errno set, when its flags
// cannot be read.
std::optional<bool> isImmutable(int fd);

}  // namespace platform
