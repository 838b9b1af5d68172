#pragma once

// A private copy of a regular file, made in memory that only this object
// holds and mapped read-only for its lifetime. The engine reads code pages
// from the mapping; whoever can write the original can neither change what
// is being checked nor, by cutting the original short, make a read fault.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/codesign/ByteReader.h"
#include "platform/codesign/CodeSigning.h"

namespace platform::codesign {

class LoadedFile {
 public:
  LoadedFile(const LoadedFile&) = delete;
  LoadedFile& operator=(const LoadedFile&) = delete;
  ~LoadedFile();

  // 0 and the copy; errSecCSStaticCodeNotFound when nothing is at the path,
  // errSecCSRegularFile when it is not a regular file (which is then never
  // opened), 100000 + errno for other system failures, EFBIG among them for
  // a file larger than platform::kMaximumFileRead. The copy holds the bytes
  // the file had, up to the size it had when it was opened.
  static OSStatus open(const std::string& path, std::unique_ptr<LoadedFile>* out);

  ByteReader bytes() const;

 private:
  LoadedFile(void* address, std::uint64_t size) : _address(address), _size(size) {}
  void* _address;
  std::uint64_t _size;
};

}  // namespace platform::codesign
