#pragma once

// Bytes from the kernel's random source, never from a seed of our own. Per
// system: platform/linux/RandomBytes.cpp, platform/darwin/RandomBytes.cpp.

#include <span>

namespace platform {

// True when every byte was filled.
bool fillRandom(std::span<unsigned char> bytes);

}  // namespace platform
