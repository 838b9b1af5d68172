#pragma once

// One front-to-back pass over parts of a file: large reads into two reused
// buffers, the next one read ahead while this one is handed, a piece at a
// time while it is in cache, to every consumer whose range it covers.
// Memory does not grow with the file.

#include <cstdint>
#include <functional>
#include <span>

#include "codesign/FileSource.h"

namespace codesign {

struct PassTarget {
  std::uint64_t begin = 0;  // file offsets, end exclusive
  std::uint64_t end = 0;
  // Receives the range's bytes in order, each exactly once.
  std::function<void(std::span<const std::uint8_t>)> take;
};

// 0 once every target has had all of its bytes; otherwise the status of the
// first read that failed or came up short (see readExactly), after which no
// target is complete.
OSStatus readPass(const FileSource& file, std::span<const PassTarget> targets);

}  // namespace codesign
