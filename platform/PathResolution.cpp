#include "platform/PathResolution.h"

#include <deque>
#include <optional>
#include <vector>

#include "platform/Path.h"
#include "platform/PathSyntax.h"
#include "platform/SystemCall.h"

namespace platform {
namespace {

// The lexical form: what a path that loops through too many links is
// judged by.
std::string stringByStandardizingPath(std::string_view path) {
  const bool absolute = !path.empty() && path.front() == '/';
  std::vector<std::string> kept;
  for (std::string& component : pathComponents(path)) {
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
  std::deque<std::string> pending = pathComponents(path);
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
    const std::optional<std::string> target = pending.empty() ? std::nullopt : symbolicLinkTarget(candidate);
    if (!target) {
      resolved = candidate;
      continue;
    }
    if (++links > kMaximumSymbolicLinks) return stringByStandardizingPath(path);
    std::deque<std::string> targetComponents = pathComponents(*target);
    pending.insert(pending.begin(), targetComponents.begin(), targetComponents.end());
    if (target->starts_with('/')) resolved.assign(1, '/');  // an absolute target starts again at the root
  }
  return resolved;
}

}  // namespace platform
