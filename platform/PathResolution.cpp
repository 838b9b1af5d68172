#include "platform/PathResolution.h"

#include <climits>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "platform/Path.h"

namespace platform {
namespace {

std::vector<std::string_view> componentsOf(std::string_view path) {
  std::vector<std::string_view> components;
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string_view component = path.substr(0, slash);
    if (!component.empty()) components.push_back(component);
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return components;
}

// The real path of an existing item, or nothing.
std::optional<std::string> realPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
  if (!resolved) return std::nullopt;
  return std::string(resolved.get());
}

}  // namespace

std::string stringByStandardizingPath(std::string_view path) {
  const bool absolute = !path.empty() && path.front() == '/';
  std::vector<std::string_view> kept;
  for (std::string_view component : componentsOf(path)) {
    if (component == ".") continue;
    if (component == ".." && !kept.empty() && kept.back() != "..") {
      kept.pop_back();
    } else if (component == ".." && absolute) {
      continue;  // above the root is the root
    } else {
      kept.push_back(component);
    }
  }
  std::string standardized = absolute ? "/" : "";
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) standardized += '/';
    standardized += kept[i];
  }
  return standardized;
}

std::string stringByResolvingSymlinksInAncestors(std::string_view path) {
  const std::string standardized = stringByStandardizingPath(path);
  if (standardized.empty() || standardized == "/") return standardized;
  // Walk up to the deepest ancestor that exists, resolve it, and put the
  // components below it back unchanged.
  std::string ancestor = stringByDeletingLastPathComponent(standardized);
  std::string rest = lastPathComponent(standardized);
  while (!ancestor.empty()) {
    if (const std::optional<std::string> resolved = realPath(ancestor)) {
      return stringByAppendingPathComponent(*resolved, rest);
    }
    if (ancestor == "/") break;
    rest = stringByAppendingPathComponent(lastPathComponent(ancestor), rest);
    ancestor = stringByDeletingLastPathComponent(ancestor);
  }
  return standardized;
}

}  // namespace platform
