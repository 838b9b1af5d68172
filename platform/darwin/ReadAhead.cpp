// macOS: no posix_fadvise; F_RDAHEAD turns read-ahead on.

#include "platform/ReadAhead.h"

#include <fcntl.h>

namespace platform {

void adviseSequentialReading(int fd) { (void)fcntl(fd, F_RDAHEAD, 1); }

}  // namespace platform
