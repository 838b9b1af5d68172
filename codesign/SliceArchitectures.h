#pragma once

// The architectures of a universal Mach-O file, in file order, read from the
// start of the file: how the macOS build opens each slice of a universal
// file on its own (the Security framework names a slice by architecture).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "codesign/CodeSigning.h"
#include "codesign/Limits.h"

namespace codesign {

// Enough of a file's start for every entry a universal header may declare.
inline constexpr std::size_t kSliceTableBytes = 8 + 32 * std::size_t{limits::kMaxSlices};

// The framework's name for a slice's architecture ("arm64", "x86_64h", ...),
// or nothing for one this tool never ships.
std::optional<std::string> architectureName(std::uint32_t cpuType, std::uint32_t cpuSubtype);

// errSecSuccess with one name per slice ("arm64", "x86_64", ...) for a
// universal file, and with no names for a thin Mach-O file; errSecCSUnsigned
// when `start` is no Mach-O file at all; errSecCSBadObjectFormat for a
// header that is cut short, declares too many or no slices, names one
// architecture twice or one the tool does not know.
OSStatus sliceArchitectures(std::span<const std::uint8_t> start, std::vector<std::string>* names);

}  // namespace codesign
