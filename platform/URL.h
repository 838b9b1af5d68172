#pragma once

#include <optional>
#include <string>

namespace platform {

// A file URL: what the signature check and the lock lookup are handed.
struct FileURL {
  std::string path;
};

// A URL for the path, or nothing when there is no path to make one of.
std::optional<FileURL> fileURLWithPath(const std::optional<std::string>& path);

}  // namespace platform
