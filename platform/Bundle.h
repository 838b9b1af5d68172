#pragma once

#include <optional>
#include <string>
#include <utility>

namespace platform {

// An application bundle: a directory laid out as Name.app/Contents/MacOS.
class Bundle {
 public:
  // A bundle for an existing directory, or nothing.
  static std::optional<Bundle> bundleWithPath(const std::string& path);

  const std::string& bundlePath() const noexcept { return _path; }
  // The full path of the named executable in Contents/MacOS, or nothing when
  // no such file is there.
  std::optional<std::string> pathForAuxiliaryExecutable(const std::string& name) const;

 private:
  explicit Bundle(std::string path) : _path(std::move(path)) {}
  std::string _path;
};

}  // namespace platform
