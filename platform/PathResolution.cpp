#include "platform/PathResolution.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <deque>
#include <optional>
#include <vector>

#include "platform/Path.h"

namespace platform {
namespace {

// More links than this on one path is a loop.
constexpr int kMaximumLinks = 40;

std::deque<std::string> componentsOf(std::string_view path) {
  std::deque<std::string> components;
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string_view component = path.substr(0, slash);
    if (!component.empty()) components.emplace_back(component);
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return components;
}

std::optional<std::string> linkTarget(const std::string& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return std::nullopt;
  std::string target(static_cast<std::size_t>(PATH_MAX), '\0');
  const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
  if (length <= 0) return std::nullopt;
  target.resize(static_cast<std::size_t>(length));
  return target;
}

// The lexical form: what a path that loops through too many links is
// judged by.
std::string stringByStandardizingPath(std::string_view path) {
  const bool absolute = !path.empty() && path.front() == '/';
  std::vector<std::string> kept;
  for (std::string& component : componentsOf(path)) {
    if (component == ".") continue;
    if (component == ".." && !kept.empty() && kept.back() != "..") {
      kept.pop_back();
    } else if (component == ".." && absolute) {
      continue;  // above the root is the root
    } else {
      kept.push_back(std::move(component));
    }
  }
  std::string standardized = absolute ? "/" : "";
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) standardized += '/';
    standardized += kept[i];
  }
  return standardized;
}

}  // namespace

// Walks the components as the kernel does, replacing each link met before
// the last component by its target, whether or not that target exists (a
// dangling link is still where a creation would lead), and applying ".."
// to what the links led to.
std::string stringByResolvingSymlinksInAncestors(std::string_view path) {
  std::deque<std::string> pending = componentsOf(path);
  std::string resolved = path.starts_with('/') ? "/" : "";
  int links = 0;
  while (!pending.empty()) {
    std::string component = std::move(pending.front());
    pending.pop_front();
    if (component == ".") continue;
    if (component == "..") {
      resolved = resolved.empty() ? ".." : stringByDeletingLastPathComponent(resolved);
      continue;
    }
    const std::string candidate = resolved.empty() ? component : stringByAppendingPathComponent(resolved, component);
    const std::optional<std::string> target = pending.empty() ? std::nullopt : linkTarget(candidate);
    if (!target) {
      resolved = candidate;
      continue;
    }
    if (++links > kMaximumLinks) return stringByStandardizingPath(path);
    std::deque<std::string> targetComponents = componentsOf(*target);
    pending.insert(pending.begin(), targetComponents.begin(), targetComponents.end());
    if (target->starts_with('/')) resolved.assign(1, '/');  // an absolute target starts again at the root
  }
  return resolved;
}

}  // namespace platform
