// macOS: arc4random_buf, which draws on the kernel's source and cannot fail.

#include "platform/RandomBytes.h"

#include <stdlib.h>

namespace platform {

bool fillRandom(std::span<unsigned char> bytes) {
  arc4random_buf(bytes.data(), bytes.size());
  return true;
}

}  // namespace platform
