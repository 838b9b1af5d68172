#include "platform/Bundle.h"

#include <sys/stat.h>

#include "platform/FileManager.h"
#include "platform/Path.h"
#include "platform/PathSyntax.h"

namespace platform {

std::optional<Bundle> Bundle::bundleWithPath(const std::string& path) {
  struct stat status {};
  std::string directory = systemPath(path);
  if (directory.empty() || stat(directory.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return std::nullopt;
  return Bundle(path);
}

std::optional<std::string> Bundle::pathForAuxiliaryExecutable(const std::string& name) const {
  if (name.empty()) return std::nullopt;
  std::string executable = stringByAppendingPathComponent(stringByAppendingPathComponent(_path, "Contents/MacOS"), name);
  if (!FileManager::defaultManager().fileExistsAtPath(executable)) return std::nullopt;
  return executable;
}

}  // namespace platform
