// Linux: posix_fadvise.

#include "platform/ReadAhead.h"

#include <fcntl.h>

namespace platform {

void adviseSequentialReading(int fd) { (void)posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL); }

}  // namespace platform
