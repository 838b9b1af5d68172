#include "platform/URL.h"

namespace platform {

std::optional<FileURL> fileURLWithPath(const std::optional<std::string>& path) {
  if (!path || path->empty()) return std::nullopt;
  return FileURL{*path};
}

}  // namespace platform
