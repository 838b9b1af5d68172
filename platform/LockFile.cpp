#include "platform/LockFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/DescriptorIO.h"
#include "platform/FileTree.h"
#include "platform/RetryOnInterrupt.h"

namespace platform {
namespace {

constexpr mode_t kLockFileMode = 0600;

// Opened without following a link or waiting on a special file; kept only
// when it is a regular file of root's, and then made root's alone.
std::optional<ScopedFd> openLockFile(const std::string& directory, const std::string& name, int flags) {
  const ScopedFd parent = openDirectory(directory);
  if (!parent.valid()) return std::nullopt;
  ScopedFd file(retryOnInterrupt([&] {
    return ::openat(parent.get(), name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, kLockFileMode);
  }));
  struct stat status {};
  if (!file.valid() || ::fstat(file.get(), &status) != 0) return std::nullopt;
  if (!S_ISREG(status.st_mode) || status.st_uid != 0) {
    errno = EPERM;
    return std::nullopt;
  }
  if ((status.st_mode & 07777) != kLockFileMode && (flags & O_ACCMODE) != O_RDONLY &&
      ::fchmod(file.get(), kLockFileMode) != 0) {
    return std::nullopt;
  }
  return file;
}

}  // namespace

std::optional<LockFile> LockFile::create(const std::string& directory, const std::string& name) {
  std::optional<ScopedFd> file = openLockFile(directory, name, O_RDWR | O_CREAT);
  if (!file) return std::nullopt;
  return LockFile(std::move(*file));
}

std::optional<LockFile> LockFile::openExisting(const std::string& directory, const std::string& name) {
  std::optional<ScopedFd> file = openLockFile(directory, name, O_RDONLY);
  if (!file) return std::nullopt;
  return LockFile(std::move(*file));
}

bool LockFile::lock(Access access, const std::function<void()>& waiting) {
  const int operation = access == Access::kExclusive ? LOCK_EX : LOCK_SH;
  if (::flock(_file.get(), operation | LOCK_NB) == 0) return true;
  if (errno != EWOULDBLOCK) return false;
  waiting();
  return retryOnInterrupt([&] { return ::flock(_file.get(), operation); }) == 0;
}

std::optional<std::string> LockFile::record() const {
  if (::lseek(_file.get(), 0, SEEK_SET) != 0) return std::nullopt;
  std::optional<std::string> contents = readAll(_file.get(), kMaximumRecord + 1);
  if (contents && contents->size() > kMaximumRecord) {
    errno = EFBIG;
    return std::nullopt;
  }
  return contents;
}

bool LockFile::replaceRecord(std::string_view record) {
  if (record.size() > kMaximumRecord) {
    errno = EFBIG;
    return false;
  }
  return ::lseek(_file.get(), 0, SEEK_SET) == 0 && writeAll(_file.get(), record) &&
         ::ftruncate(_file.get(), static_cast<off_t>(record.size())) == 0 &&
         retryOnInterrupt([&] { return ::fsync(_file.get()); }) == 0;
}

}  // namespace platform
