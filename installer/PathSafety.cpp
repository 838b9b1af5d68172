#include <array>
#include <string>
#include <utility>
#include <string_view>

#include "installer/MVDaemonInstaller.h"
#include "platform/FileManager.h"
#include "platform/Path.h"
#include "platform/PathResolution.h"
#include "platform/Text.h"
#include "platform/TrustedDirectory.h"
#include "platform/URL.h"

namespace {

// Inside /Library only these subtrees may be changed; each ends with a
// slash, so the subtree's own directory is not among them.
constexpr std::array<std::string_view, 4> kAllowedLibrarySubtrees{
    "/Library/Application Support/",
    "/Library/LaunchDaemons/",
    "/Library/PreferencePanes/",
    "/Library/LaunchAgents/",
};

// The path as a case-insensitive volume compares names (APFS and HFS+ are
// by default): lower case, with the long s and the "st" ligatures folded to
// their plain letters, so that "/library" or "/SY\uFB06EM" is judged as
// "/Library" or "/System". Every system judges this way: what one refuses,
// the other refuses too.
std::string foldedCase(std::string_view path) {
  std::string folded = platform::lowercaseString(path);
  for (const auto& [letter, plain] : {std::pair<std::string_view, std::string_view>{"\u017F", "s"},
                                      {"\uFB05", "st"}, {"\uFB06", "st"}}) {
    for (std::size_t at = folded.find(letter); at != std::string::npos; at = folded.find(letter, at)) {
      folded.replace(at, letter.size(), plain);
    }
  }
  return folded;
}

// Plain character tests: "/SystemFiles" begins with "/System" and is
// protected too. The protected places are found however their names are
// cased; the subtrees allowed inside /Library only as spelt here.
bool isProtectedLocation(std::string_view path) {
  const std::string folded = foldedCase(path);
  if (folded == "/" || folded == "/applications") return true;
  if (folded.starts_with("/system")) return true;
  if (!folded.starts_with("/library")) return false;
  for (std::string_view subtree : kAllowedLibrarySubtrees) {
    if (path.starts_with(subtree)) return false;
  }
  return true;
}

// The path as given, and where it really leads: the same location reached
// through doubled slashes, "." and ".." components or symbolic links in its
// ancestors is just as protected.
bool reachesProtectedLocation(const std::string& path) {
  return isProtectedLocation(path) || isProtectedLocation(platform::stringByResolvingSymlinksInAncestors(path));
}

bool isLocked(const std::string& path) {
  const std::optional<platform::FileURL> url = platform::fileURLWithPath(path);
  if (!url) return false;
  platform::ErrorSlot ignored;
  return platform::FileManager::defaultManager().isUserImmutable(url->path, &ignored).value_or(false);
}

}  // namespace

void MVDaemonInstaller::checkSafeToModifyItem(const std::optional<std::string>& path) {
  if (!path) abortWithError("Attempted to modify an invalid path (nil).");
  if (path->empty()) abortWithError("Attempted to modify an invalid path (empty).");
  if (reachesProtectedLocation(*path)) abortWithError("Not allowed to modify %@", *path);

  // The item and every existing directory above it, up to but not
  // including the root; a missing one is skipped.
  for (std::string current = *path; !current.empty() && current != "/";
       current = platform::stringByDeletingLastPathComponent(current)) {
    if (platform::FileManager::defaultManager().fileExistsAtPath(current) && isLocked(current)) {
      abortWithError("Path %@ is locked by the user.", current);
    }
  }
}

void MVDaemonInstaller::requireTrustedDirectory(const std::string& directory) {
  if (const std::optional<std::string> untrusted = platform::firstUntrustedDirectory(directory)) {
    abortWithError("Directory %@ is not safe to write into: it must belong to root and be writable by no one else.",
                   *untrusted);
  }
}

void MVDaemonInstaller::requireRealDirectory(const std::string& directory) {
  const std::optional<platform::FileAttributes> attributes = _fm->attributesOfItemAtPath(directory, nullptr);
  if (attributes && attributes->type == platform::NSFileTypeSymbolicLink) {
    abortWithError("Directory %@ is a symbolic link; it must be a real directory.", directory);
  }
}
