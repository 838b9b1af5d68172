// macOS: getprogname and the kernel's 64-bit thread id.

#include "platform/LogIdentity.h"

#include <pthread.h>
#include <stdlib.h>

namespace platform {

const char* programShortName() { return getprogname(); }

std::uint64_t threadNumber() {
  std::uint64_t thread = 0;
  pthread_threadid_np(nullptr, &thread);
  return thread;
}

}  // namespace platform
