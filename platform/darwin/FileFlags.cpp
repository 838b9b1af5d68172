// macOS: the file's flags in st_flags. The owner may set UF_IMMUTABLE
// without root; SF_IMMUTABLE only root may set.

#include "platform/FileFlags.h"

#include <sys/stat.h>

namespace platform {

std::optional<bool> isImmutable(int fd) {
  struct stat status {};
  if (fstat(fd, &status) != 0) return std::nullopt;
  return (status.st_flags & (UF_IMMUTABLE | SF_IMMUTABLE)) != 0;
}

}  // namespace platform
