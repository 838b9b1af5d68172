#include "platform/codesign/LoadedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>

#include <cerrno>
#include <new>

#include "platform/ScopedFd.h"
#include "platform/SystemCall.h"
#include "platform/codesign/Status.h"

namespace platform::codesign {
namespace {

// Once the copy is made nothing may change it, not even by mistake here.
constexpr int kSeals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL;

OSStatus statusForErrno(int error) {
  if (error == ENOENT || error == ENOTDIR) return errSecCSStaticCodeNotFound;
  if (error == EINVAL) return errSecCSRegularFile;  // see openRegularFileForReading
  return kUnixErrorBase + error;
}

// Only root can change a root-owned file that its group and others may not
// write: such a file is read where it lies, without the copy. Root's own
// files are what the tool checks most (its private copies and what it
// installed).
bool onlyRootCanChange(int file) {
  struct stat info {};
  return ::fstat(file, &info) == 0 && info.st_uid == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

OSStatus sizeOf(int file, std::uint64_t* size) {
  struct stat info {};
  if (::fstat(file, &info) != 0) return statusForErrno(errno);
  if (static_cast<std::uint64_t>(info.st_size) > kMaximumFileRead) return kUnixErrorBase + EFBIG;
  *size = static_cast<std::uint64_t>(info.st_size);
  return errSecSuccess;
}

// Copies up to `size` bytes of `from` into `to` inside the kernel, quicker
// than through a buffer of ours. A file that shrank meanwhile gives fewer.
bool copyInto(int to, int from, std::uint64_t size) {
  off_t offset = 0;
  while (static_cast<std::uint64_t>(offset) < size) {
    const auto left = static_cast<std::size_t>(size - static_cast<std::uint64_t>(offset));
    const ssize_t copied = retryOnInterrupt([&] { return ::sendfile(to, from, &offset, left); });
    if (copied < 0) return false;
    if (copied == 0) break;
  }
  return true;
}

// A sealed copy of the open regular file in anonymous memory, and its size.
OSStatus copyOf(int file, ScopedFd* copy, std::uint64_t* size) {
  std::uint64_t original = 0;
  if (const OSStatus status = sizeOf(file, &original)) return status;
  copy->reset(::memfd_create("code", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (!copy->valid() || !copyInto(copy->get(), file, original) || ::fcntl(copy->get(), F_ADD_SEALS, kSeals) != 0) {
    return statusForErrno(errno);
  }
  return sizeOf(copy->get(), size);
}

}  // namespace

LoadedFile::~LoadedFile() {
  if (_address != nullptr) ::munmap(_address, static_cast<std::size_t>(_size));
}

OSStatus LoadedFile::open(const std::string& path, std::unique_ptr<LoadedFile>* out) {
  out->reset();
  if (path.empty()) return errSecCSStaticCodeNotFound;
  const ScopedFd file = openRegularFileForReading(path);
  if (!file.valid()) return statusForErrno(errno);
  return openDescriptor(file.get(), out);
}

OSStatus LoadedFile::openDescriptor(int fd, std::unique_ptr<LoadedFile>* out) {
  out->reset();
  struct stat status {};
  if (::fstat(fd, &status) != 0) return statusForErrno(errno);
  if (!S_ISREG(status.st_mode)) return errSecCSRegularFile;
  const ScopedFd file(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
  if (!file.valid()) return statusForErrno(errno);
  ScopedFd copy;
  std::uint64_t size = 0;
  const bool inPlace = onlyRootCanChange(file.get());
  if (const OSStatus status = inPlace ? sizeOf(file.get(), &size) : copyOf(file.get(), &copy, &size)) return status;
  void* address = nullptr;
  if (size > 0) {
    address = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE, inPlace ? file.get() : copy.get(), 0);
    if (address == MAP_FAILED) return statusForErrno(errno);
  }
  out->reset(new (std::nothrow) LoadedFile(address, size));
  if (*out) return errSecSuccess;
  if (address != nullptr) ::munmap(address, static_cast<std::size_t>(size));
  return errSecAllocate;
}

ByteReader LoadedFile::bytes() const {
  if (_address == nullptr) return ByteReader();
  return ByteReader(std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(_address),
                                                  static_cast<std::size_t>(_size)));
}

}  // namespace platform::codesign
