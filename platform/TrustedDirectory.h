#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The first place on the way from the root down to the directory (the
// directory included) that someone other than root could change: a directory
// not owned by root or writable by its group or by others, or a symbolic link
// not owned by root. Links owned by root are followed. Nothing when every
// existing step is safe; steps that do not exist yet are not judged, since the
// tool creates them itself.
std::optional<std::string> firstUntrustedDirectory(std::string_view directory);

}  // namespace platform
