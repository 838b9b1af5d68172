#include "platform/Path.h"

#include <unistd.h>

#include <optional>

#include "platform/Accounts.h"
#include "platform/PathSyntax.h"

namespace platform {

namespace {

// Runs of slashes become one and a trailing slash goes, as the platform
// writes every path it builds.
std::string standardized(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  return std::string(withoutTrailingSlashes(out));
}

}  // namespace

std::string stringByExpandingTildeInPath(std::string_view path) {
  if (path.empty() || path.front() != '~') return std::string(path);
  std::size_t slash = path.find('/');
  std::string_view user = path.substr(1, slash == std::string_view::npos ? std::string_view::npos : slash - 1);
  std::string_view rest = slash == std::string_view::npos ? std::string_view() : path.substr(slash);
  std::optional<std::string> home = user.empty() ? homeDirectory(getuid()) : homeDirectory(std::string(user));
  if (!home) return std::string(path);
  return standardized(*home + std::string(rest));
}

std::string stringByAppendingPathComponent(std::string_view path, std::string_view component) {
  if (path.empty()) return standardized(component);
  if (component.empty()) return standardized(path);
  return standardized(std::string(path) + "/" + std::string(component));
}

// A path without a last component (empty, or the root) takes no extension.
std::string stringByAppendingPathExtension(std::string_view path, std::string_view extension) {
  std::string_view base = withoutTrailingSlashes(path);
  if (base.empty() || base == "/") return std::string(path);
  return std::string(base) + "." + std::string(extension);
}

std::string stringByDeletingLastPathComponent(std::string_view path) {
  std::string_view trimmed = withoutTrailingSlashes(path);
  std::size_t slash = trimmed.rfind('/');
  if (slash == std::string_view::npos) return "";
  if (trimmed == "/") return "/";
  std::string_view parent = withoutTrailingSlashes(trimmed.substr(0, slash + 1));
  return std::string(parent);
}

std::string lastPathComponent(std::string_view path) {
  std::string_view trimmed = withoutTrailingSlashes(path);
  if (trimmed == "/") return "/";
  std::size_t slash = trimmed.rfind('/');
  return std::string(slash == std::string_view::npos ? trimmed : trimmed.substr(slash + 1));
}

}  // namespace platform
