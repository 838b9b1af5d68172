// Linux: O_TMPFILE, and linkat(AT_EMPTY_PATH) to name the file.

#include "platform/NamelessFile.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/RetryOnInterrupt.h"

namespace platform {

int openNamelessFile(int directory, mode_t mode) {
  const int file = retryOnInterrupt([&] { return ::openat(directory, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode); });
  // A file system without O_TMPFILE answers EOPNOTSUPP; a kernel that
  // predates it, EISDIR or EINVAL.
  if (file < 0 && (errno == EISDIR || errno == EINVAL)) errno = EOPNOTSUPP;
  return file;
}

bool linkNamelessFile(int file, int directory, const char* name) {
  return ::linkat(file, "", directory, name, AT_EMPTY_PATH) == 0;
}

}  // namespace platform
