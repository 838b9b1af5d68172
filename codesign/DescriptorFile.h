#pragma once

// A regular file the engine verifies, read through a descriptor of its own
// by offset. Nothing is mapped, so a file cut short meanwhile makes a read
// come up short rather than fault; nothing is copied, so memory does not
// grow with the file.

#include <memory>

#include "platform/ScopedFd.h"
#include "codesign/FileSource.h"

namespace codesign {

class DescriptorFile final : public FileSource {
 public:
  // 0 and the file; errSecCSRegularFile when the descriptor is not a
  // regular file, 100000 + errno for other system failures, EFBIG among
  // them for a file larger than platform::kMaximumFileRead. The descriptor
  // is duplicated; the caller keeps its own.
  static OSStatus open(int fd, std::unique_ptr<DescriptorFile>* out);

  std::uint64_t size() const override { return _size; }
  std::int64_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override;

 private:
  DescriptorFile(platform::ScopedFd fd, std::uint64_t size) : _fd(std::move(fd)), _size(size) {}
  platform::ScopedFd _fd;
  std::uint64_t _size;
};

}  // namespace codesign
