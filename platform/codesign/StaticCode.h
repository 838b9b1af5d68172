#pragma once

// What SecStaticCodeCreateWithPath hands out: the file's contents, read
// once, for as long as the object lives.

#include <memory>

#include "platform/codesign/LoadedFile.h"

namespace platform::codesign {

class StaticCode {
 public:
  explicit StaticCode(std::unique_ptr<LoadedFile> file) : _file(std::move(file)) {}
  const LoadedFile& file() const { return *_file; }

 private:
  std::unique_ptr<LoadedFile> _file;
};

}  // namespace platform::codesign
