#include "platform/TrustedDirectory.h"

#include <sys/stat.h>

#include "platform/PathResolution.h"
#include "platform/WriteAccess.h"

namespace platform {

// Every place the walk reaches is judged, the root first, links and the
// directories that ".." leads back to included.
std::optional<std::string> firstUntrustedDirectory(std::string_view directory) {
  if (!directory.starts_with('/')) return std::string(directory);  // judged only from the root down
  SymbolicLinkWalk walk(directory);
  do {
    const std::string place = walk.current();
    struct stat status {};
    if (lstat(place.c_str(), &status) != 0) return std::nullopt;  // made later, by the tool
    if (S_ISLNK(status.st_mode)) {
      const std::optional<std::string> target = symbolicLinkTarget(place);
      if (status.st_uid != 0 || !target || !walk.followLink(*target)) return place;
    } else if (!S_ISDIR(status.st_mode)) {
      return std::nullopt;  // nothing lies below it; writing there fails on its own
    } else if (!onlyRootMayChange(place, status)) {
      return place;
    }
  } while (walk.step());
  return std::nullopt;
}

}  // namespace platform
