// macOS: chflags and the user-immutable flag; no nameless files.

#include "common/SystemExpectations.h"

#include <sys/stat.h>
#include <unistd.h>

namespace testing_support {

bool setImmutable(const std::string& path, bool on) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) return false;
  const unsigned int flags = on ? (status.st_flags | UF_IMMUTABLE) : (status.st_flags & ~UF_IMMUTABLE);
  return chflags(path.c_str(), flags) == 0;
}

const bool kStagedCopiesAreNameless = false;

std::vector<std::string> kernelFiles() { return {"/dev/fd/0", "/dev/null"}; }

}  // namespace testing_support
