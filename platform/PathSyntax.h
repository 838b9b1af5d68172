#pragma once

#include <string_view>

namespace platform {

// The path without trailing slashes; the root stays "/". A trailing slash
// would make the system follow a symbolic link at the last component.
inline std::string_view withoutTrailingSlashes(std::string_view path) {
  std::size_t end = path.find_last_not_of('/');
  if (end == std::string_view::npos) return path.substr(0, 1);
  return path.substr(0, end + 1);
}

}  // namespace platform
