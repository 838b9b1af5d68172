#pragma once

// A regular file mapped read-only into memory, owned for the lifetime of the
// object. The engine reads code pages straight from the mapping, page by
// page, so a file is never copied whole.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/codesign/ByteReader.h"
#include "platform/codesign/CodeSigning.h"

namespace platform::codesign {

class MappedFile {
 public:
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();

  // 0 and the mapping; errSecCSStaticCodeNotFound when nothing is at the
  // path, errSecCSRegularFile when it is not a regular file, 100000 + errno
  // for other system failures.
  static OSStatus open(const std::string& path, std::unique_ptr<MappedFile>* out);

  ByteReader bytes() const;

 private:
  MappedFile(void* address, std::uint64_t size) : _address(address), _size(size) {}
  void* _address;
  std::uint64_t _size;
};

}  // namespace platform::codesign
