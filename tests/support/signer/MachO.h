#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "Bytes.h"

namespace signer {

inline constexpr std::uint32_t kCpuTypeX86_64 = 0x01000007;
inline constexpr std::uint32_t kCpuTypeARM64 = 0x0100000c;

// "arm64", "x86_64", or the CPU type in hex.
std::string archName(std::uint32_t cputype);
// The CPU type of an architecture name; throws for any other name.
std::uint32_t cpuTypeNamed(const std::string& name);

struct FileRange {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

struct SegmentInfo {
  std::uint64_t commandOffset = 0;
  std::uint64_t fileoff = 0;
  std::uint64_t filesize = 0;
};

// What the signer needs to know of one thin 64-bit little-endian Mach-O,
// checked once when parsed: every command, segment and section lies inside
// the slice, and __LINKEDIT ends the slice.
struct MachOLayout {
  std::uint32_t cputype = 0;
  std::uint32_t filetype = 0;
  std::uint32_t ncmds = 0;
  std::uint32_t sizeofcmds = 0;
  std::uint64_t commandsEnd = 0;       // end of the load commands
  std::uint64_t firstSectionData = 0;  // load commands may grow up to here
  SegmentInfo text;
  SegmentInfo linkedit;
  std::optional<FileRange> infoPlist;  // __TEXT,__info_plist
  std::optional<std::uint64_t> codeSignatureCommand;
  FileRange signature;                 // meaningful with codeSignatureCommand
};

MachOLayout parseMachO(std::span<const std::uint8_t> slice);

// A slice laid out for a signature of reservedSize bytes at signatureOffset:
// any earlier signature dropped, LC_CODE_SIGNATURE pointing at the new space
// (added when there was none), __LINKEDIT grown to end with it, and the
// space itself zero-filled.
struct PreparedSlice {
  Bytes bytes;
  std::uint64_t signatureOffset = 0;
  MachOLayout layout;
};

PreparedSlice prepareForSignature(std::span<const std::uint8_t> slice, std::uint32_t reservedSize);

}  // namespace signer
