#pragma once

// Asks the kernel to read well ahead of a reader that goes front to back; a
// hint only, whose failure changes nothing. Per system:
// platform/linux/ReadAhead.cpp, platform/darwin/ReadAhead.cpp.

namespace platform {

void adviseSequentialReading(int fd);

}  // namespace platform
