#include "platform/PathResolution.h"

#include <unistd.h>

#include <climits>
#include <optional>
#include <vector>

#include "platform/Path.h"
#include "platform/PathSyntax.h"

namespace platform {

std::optional<std::string> symbolicLinkTarget(const std::string& path) {
  std::string target(PATH_MAX, '\0');
  const ssize_t length = readlink(path.c_str(), target.data(), target.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return std::nullopt;
  target.resize(static_cast<std::size_t>(length));
  return target;
}
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

// ".." from the place: its parent, or one more level up where a relative
// path has already climbed out of where it started.
std::string parentOf(const std::string& place) {
  if (place.empty() || lastPathComponent(place) == "..") return stringByAppendingPathComponent(place, "..");
  return stringByDeletingLastPathComponent(place);
}

}  // namespace

SymbolicLinkWalk::SymbolicLinkWalk(std::string_view path)
    : _pending(pathComponents(path)), _current(path.starts_with('/') ? "/" : "") {}

bool SymbolicLinkWalk::step() {
  while (!_pending.empty()) {
    std::string component = std::move(_pending.front());
    _pending.pop_front();
    if (component == ".") continue;
    _current = component == ".." ? parentOf(_current) : stringByAppendingPathComponent(_current, component);
    return true;
  }
  return false;
}

// A relative target is read from the folder that holds the link.
bool SymbolicLinkWalk::followLink(const std::string& target) {
  if (_links == kMaximumSymbolicLinks) return false;
  ++_links;
  const std::deque<std::string> components = pathComponents(target);
  _pending.insert(_pending.begin(), components.begin(), components.end());
  _current = target.starts_with('/') ? "/" : stringByDeletingLastPathComponent(_current);
  return true;
}

// Every link met before the last component is followed, whether or not its
// target exists: a dangling link is still where a creation would lead.
std::string stringByResolvingSymlinksInAncestors(std::string_view path) {
  SymbolicLinkWalk walk(path);
  while (walk.step() && !walk.atEnd()) {
    const std::optional<std::string> target = symbolicLinkTarget(walk.current());
    if (target && !walk.followLink(*target)) return stringByStandardizingPath(path);
  }
  return walk.current();
}

}  // namespace platform
