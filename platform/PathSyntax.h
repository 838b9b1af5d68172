#pragma once

#include <string>
#include <string_view>

namespace platform {

// The path without trailing slashes; the root stays "/".
inline std::string_view withoutTrailingSlashes(std::string_view path) {
  std::size_t end = path.find_last_not_of('/');
  if (end == std::string_view::npos) return path.substr(0, 1);
  return path.substr(0, end + 1);
}

// The path as it is handed to the system. Trailing slashes go: they would
// make the system follow a symbolic link at the last component. A path with
// a NUL byte would be cut short there and name another item, so it becomes
// the empty path, which every system call refuses.
inline std::string systemPath(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return std::string();
  return std::string(withoutTrailingSlashes(path));
}

}  // namespace platform
