#include "codesign/DescriptorFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/ReadAhead.h"
#include "platform/RegularFile.h"
#include "platform/RetryOnInterrupt.h"
#include "codesign/Status.h"

namespace codesign {

OSStatus DescriptorFile::open(int fd, std::unique_ptr<DescriptorFile>* out) {
  out->reset();
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return errSecCSRegularFile;
  if (static_cast<std::uint64_t>(info.st_size) > platform::kMaximumFileRead) return kUnixErrorBase + EFBIG;
  platform::ScopedFd own(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
  if (!own.valid()) return kUnixErrorBase + errno;
  // The engine reads front to back: ask the kernel to read well ahead.
  platform::adviseSequentialReading(own.get());
  out->reset(new (std::nothrow) DescriptorFile(std::move(own), static_cast<std::uint64_t>(info.st_size)));
  return *out ? errSecSuccess : errSecAllocate;
}

std::int64_t DescriptorFile::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  return platform::retryOnInterrupt([&] {
    return static_cast<std::int64_t>(::pread(_fd.get(), out.data(), out.size(), static_cast<off_t>(offset)));
  });
}

}  // namespace codesign
