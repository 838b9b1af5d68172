#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "Bytes.h"

namespace signer {

// One architecture of a universal file: its fat_arch record and its bytes.
struct FatSlice {
  std::uint32_t cputype = 0;
  std::uint32_t cpusubtype = 0;
  std::uint32_t align = 0;  // log2 of the slice's alignment in the file
  Bytes bytes;
};

// True when the file starts with the 32-bit universal magic.
bool isUniversal(std::span<const std::uint8_t> file);

// The slices of a universal file, in the order of the fat_arch records;
// refuses records that run past the file, overlap, or align beyond 2^30.
std::vector<FatSlice> splitUniversal(std::span<const std::uint8_t> file);

// A universal file holding the slices in this order, each placed at the next
// multiple of its alignment, with zero padding between them and nothing after
// the last.
Bytes joinUniversal(const std::vector<FatSlice>& slices);

}  // namespace signer
