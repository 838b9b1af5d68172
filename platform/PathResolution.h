#pragma once

#include <string>
#include <string_view>

namespace platform {

// Where the path really leads: every symbolic link in its ancestors replaced
// by its target and "." and ".." applied as the file system applies them. The
// last component stays as it is, since an operation on a link acts on the
// link itself.
std::string stringByResolvingSymlinksInAncestors(std::string_view path);

}  // namespace platform
