#pragma once

// Renaming that never replaces what is already at the destination, in one
// step of the kernel's. Per system: platform/linux/RenameNoReplace.cpp,
// platform/darwin/RenameNoReplace.cpp.

#include <string>

namespace platform {

// 0, or -1 with errno (EEXIST when the destination exists).
int renameNoReplace(const std::string& from, const std::string& to);

}  // namespace platform
