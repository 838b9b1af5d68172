#pragma once

// What the create calls hand out: the open file, read afresh, front to back,
// by every validity check.

#include <memory>

#include "codesign/DescriptorFile.h"

namespace codesign {

class StaticCode {
 public:
  explicit StaticCode(std::unique_ptr<DescriptorFile> file) : _file(std::move(file)) {}
  const FileSource& file() const { return *_file; }

 private:
  std::unique_ptr<DescriptorFile> _file;
};

}  // namespace codesign
