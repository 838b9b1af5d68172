#pragma once

#include <string>
#include <string_view>

namespace platform {

// The path with doubled slashes, "." components and a trailing slash taken
// out and ".." components applied to what precedes them, without asking the
// file system. A relative path stays relative; ".." above the root is the root.
std::string stringByStandardizingPath(std::string_view path);

// The standardized path with every symbolic link in its existing ancestors
// resolved. The last component stays as it is, since an operation on a link
// acts on the link itself. Where nothing can be resolved, the standardized
// path is returned.
std::string stringByResolvingSymlinksInAncestors(std::string_view path);

}  // namespace platform
