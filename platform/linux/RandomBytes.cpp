// Linux: getrandom.

#include "platform/RandomBytes.h"

#include <sys/random.h>

namespace platform {

bool fillRandom(std::span<unsigned char> bytes) {
  return getrandom(bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size());
}

}  // namespace platform
