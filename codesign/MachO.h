#pragma once

// The Mach-O container: a thin file or a universal file of thin slices,
// checked once when it is parsed. Only the universal table and each slice's
// header and load commands are read, by offset; the parsed form keeps
// offsets and sizes, and a digest of each slice's head so that a later read
// of those bytes can be held to what was parsed.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "codesign/ByteReader.h"
#include "codesign/CodeSigning.h"
#include "codesign/FileSource.h"
#include "codesign/RequirementSubject.h"

namespace codesign {

struct FileRange {
  std::uint64_t offset = 0;  // relative to the slice
  std::uint64_t size = 0;
};

// One architecture: where it lies in the file and what its load commands say.
struct MachOSlice {
  std::uint64_t offset = 0;  // in the file
  std::uint64_t size = 0;
  std::int32_t cputype = 0;
  std::int32_t cpusubtype = 0;
  std::uint32_t align = 0;   // log2, from the universal header; 0 for a thin file
  std::uint32_t filetype = 0;
  std::optional<FileRange> codeSignature;  // LC_CODE_SIGNATURE's dataoff and datasize
  std::optional<FileRange> infoPlist;      // section __TEXT,__info_plist
  bool endsAtSliceEnd = false;  // __LINKEDIT (or LC_SYMTAB's strings) ends the slice
  std::uint64_t headSize = 0;   // the header and load commands, as parsed
  Bytes headDigest;             // their SHA-256
};

struct MachOFile {
  bool universal = false;
  std::vector<MachOSlice> slices;  // in the order the file lists them
  bool containerClean = true;      // universal gaps bounded by alignment, no trailing bytes
  std::vector<FileRange> gaps;     // universal gaps (file offsets), which must also be zero
};

// Parses the file. 0 and the container; errSecCSUnsigned for a file that is
// not a signable Mach-O at all (another format, a 64-bit universal header, a
// file type that carries no signature); errSecCSBadObjectFormat for a Mach-O
// that is malformed; errSecCSInternalError for two universal records at one
// offset; a read's status (see readExactly). On failure, *why (when given)
// says what is wrong and where.
OSStatus parseMachO(const FileSource& file, MachOFile* out, std::string* why = nullptr);

// The slice the engine validates first (and alone without
// kSecCSCheckAllArchitectures): the host's architecture when present,
// otherwise the first listed.
std::size_t mainSliceIndex(const MachOFile& file);

}  // namespace codesign
