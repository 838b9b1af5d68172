#include "platform/codesign/MappedFile.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/codesign/Status.h"

namespace platform::codesign {
namespace {

// Owns a descriptor; the mapping stays valid after it is closed.
class ScopedFd {
 public:
  explicit ScopedFd(int fd) : _fd(fd) {}
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  ~ScopedFd() {
    if (_fd >= 0) ::close(_fd);
  }
  int get() const { return _fd; }

 private:
  int _fd;
};

int openRetrying(const char* path) {
  int fd = -1;
  do {
    fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

OSStatus statusForErrno(int error) {
  return error == ENOENT || error == ENOTDIR ? errSecCSStaticCodeNotFound : kUnixErrorBase + error;
}

}  // namespace

MappedFile::~MappedFile() {
  if (_address != nullptr) ::munmap(_address, static_cast<std::size_t>(_size));
}

OSStatus MappedFile::open(const std::string& path, std::unique_ptr<MappedFile>* out) {
  out->reset();
  if (path.empty() || path.find('\0') != std::string::npos) return errSecCSStaticCodeNotFound;
  const ScopedFd fd(openRetrying(path.c_str()));
  if (fd.get() < 0) return statusForErrno(errno);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return statusForErrno(errno);
  if (!S_ISREG(info.st_mode)) return errSecCSRegularFile;
  const auto size = static_cast<std::uint64_t>(info.st_size);
  if (size != static_cast<std::size_t>(size)) return kUnixErrorBase + EFBIG;
  void* address = nullptr;
  if (size > 0) {
    address = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE, fd.get(), 0);
    if (address == MAP_FAILED) return statusForErrno(errno);
    ::madvise(address, static_cast<std::size_t>(size), MADV_SEQUENTIAL);
  }
  out->reset(new MappedFile(address, size));
  return errSecSuccess;
}

ByteReader MappedFile::bytes() const {
  if (_address == nullptr) return ByteReader();
  return ByteReader(std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(_address),
                                                  static_cast<std::size_t>(_size)));
}

}  // namespace platform::codesign
