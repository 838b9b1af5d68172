#pragma once

// A regular file read whole into memory that the object owns. The engine
// works on this private copy, so that whoever can write the file can
// neither change what is being checked halfway through nor, by cutting the
// file short, make a read of it fault.

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

  // 0 and the contents; errSecCSStaticCodeNotFound when nothing is at the
  // path, errSecCSRegularFile when it is not a regular file (which is then
  // never opened), 100000 + errno for other system failures, EFBIG among
  // them for a file larger than 1 GiB (platform::kMaximumFileRead).
  static OSStatus open(const std::string& path, std::unique_ptr<LoadedFile>* out);

  ByteReader bytes() const;

 private:
  explicit LoadedFile(std::string contents) : _contents(std::move(contents)) {}
  std::string _contents;
};

}  // namespace platform::codesign
