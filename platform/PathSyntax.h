#pragma once

#include <deque>
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

// The path's components in order, without the empty ones that doubled and
// trailing slashes make; "." and ".." stay for the caller to apply.
inline std::deque<std::string> pathComponents(std::string_view path) {
  std::deque<std::string> components;
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    if (slash != 0) components.emplace_back(path.substr(0, slash));
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return components;
}

}  // namespace platform
