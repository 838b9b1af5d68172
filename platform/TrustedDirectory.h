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
// tool creates them itself. An item of another kind ends the walk unjudged:
// nothing can be written below it, and only whoever could change the trusted
// directory above it can have put it there.
std::optional<std::string> firstUntrustedDirectory(std::string_view directory);

}  // namespace platform
