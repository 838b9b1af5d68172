// Linux: glibc's short program name and the kernel's thread id.

#include "platform/LogIdentity.h"

#include <errno.h>
#include <unistd.h>

namespace platform {

const char* programShortName() { return program_invocation_short_name; }

std::uint64_t threadNumber() { return static_cast<std::uint64_t>(gettid()); }

}  // namespace platform
