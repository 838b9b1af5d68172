#pragma once

// Where the engine's bytes come from: a file read by offset, a piece at a
// time, never mapped and never held whole. What was read is the whole basis
// of the verdict; a file that changes meanwhile makes the reads disagree
// with the signature, or come up short.

#include <cstdint>
#include <span>

#include "codesign/CodeSigning.h"

namespace codesign {

class FileSource {
 public:
  virtual ~FileSource() = default;

  // The size the file had when it was opened; nothing past it is read.
  virtual std::uint64_t size() const = 0;

  // Reads up to out.size() bytes at offset: how many (0 at the end of the
  // file), or -1 with errno set.
  virtual std::int64_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) const = 0;
};

// Fills out with the bytes at offset. 0; errSecCSSignatureFailed when the
// file ends sooner than it did when it was opened (it was cut short since);
// 100000 + errno when it cannot be read.
OSStatus readExactly(const FileSource& file, std::uint64_t offset, std::span<std::uint8_t> out);

// Bytes already in memory, read as a file (fuzzing and tests).
class MemorySource final : public FileSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> bytes) : _bytes(bytes) {}
  std::uint64_t size() const override { return _bytes.size(); }
  std::int64_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override;

 private:
  std::span<const std::uint8_t> _bytes;
};

}  // namespace codesign
