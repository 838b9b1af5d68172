#pragma once

// What SecStaticCodeCreateWithPath hands out: the file, mapped read-only
// for as long as the object lives.

#include <memory>

#include "platform/codesign/MappedFile.h"

namespace platform::codesign {

class StaticCode {
 public:
  explicit StaticCode(std::unique_ptr<MappedFile> file) : _file(std::move(file)) {}
  const MappedFile& file() const { return *_file; }

 private:
  std::unique_ptr<MappedFile> _file;
};

}  // namespace platform::codesign
