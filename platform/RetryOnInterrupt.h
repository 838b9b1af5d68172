#pragma once

#include <cerrno>

namespace platform {

// Repeats a system call for as long as a signal interrupts it (-1 with
// EINTR) and returns the first other result, errno intact.
template <typename Call>
auto retryOnInterrupt(Call call) -> decltype(call()) {
  decltype(call()) result;
  do {
    result = call();
  } while (result == -1 && errno == EINTR);
  return result;
}

}  // namespace platform
