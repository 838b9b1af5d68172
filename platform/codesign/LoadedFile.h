#pragma once

// A regular file mapped read-only for the object's lifetime. A file that
// someone other than root could write is first copied into sealed memory that
// only this object holds, so that whoever can write the original can neither
// change what is being checked nor, by cutting it short, make a read fault;
// a file only root can change is mapped where it lies, read once, page by
// page, never copied.

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
  // The same for a file already open; errSecCSRegularFile for anything but a
  // regular file.
  static OSStatus openDescriptor(int fd, std::unique_ptr<LoadedFile>* out);

  ByteReader bytes() const;

 private:
  LoadedFile(void* address, std::uint64_t size) : _address(address), _size(size) {}
  void* _address;
  std::uint64_t _size;
};

}  // namespace platform::codesign
