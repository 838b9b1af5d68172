#include "platform/StagedFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

#include "platform/DescriptorIO.h"
#include "platform/FileTree.h"
#include "platform/Path.h"
#include "platform/PathSyntax.h"
#include "platform/RegularFile.h"
#include "platform/RetryOnInterrupt.h"
#include "platform/TemporaryName.h"

namespace platform {
namespace {

constexpr std::size_t kCopyChunk = std::size_t{1} << 20;

// Copies bytes [from, to) of `source` to the same offsets of `copy`.
bool copyRange(int source, int copy, off_t from, off_t to, std::vector<char>& buffer,
               StagedFile::Failure* failure) {
  while (from < to) {
    const auto wanted = static_cast<std::size_t>(std::min<off_t>(to - from, static_cast<off_t>(buffer.size())));
    const ssize_t got = retryOnInterrupt([&] { return ::pread(source, buffer.data(), wanted, from); });
    if (got <= 0) {
      // A file cut short while it is copied is a failed read, not a short copy.
      if (got == 0) errno = EIO;
      *failure = StagedFile::Failure::kSource;
      return false;
    }
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = retryOnInterrupt([&] { return ::pwrite(copy, buffer.data() + done, got - done, from + done); });
      if (put <= 0) {
        if (put == 0) errno = EIO;
        *failure = StagedFile::Failure::kDestination;
        return false;
      }
      done += put;
    }
    from += got;
  }
  return true;
}

// The data of `source` up to `size`, hole by hole; the copy is then made
// `size` long, its holes unwritten.
bool copyData(int source, int copy, off_t size, StagedFile::Failure* failure) {
  std::vector<char> buffer(kCopyChunk);
  for (off_t offset = 0; offset < size;) {
    const off_t data = ::lseek(source, offset, SEEK_DATA);
    if (data < 0 && errno == ENXIO) break;  // only a hole is left
    const off_t hole = data < 0 ? -1 : ::lseek(source, data, SEEK_HOLE);
    if (hole < 0) {
      *failure = StagedFile::Failure::kSource;
      return false;
    }
    if (!copyRange(source, copy, std::min(data, size), std::min(hole, size), buffer, failure)) return false;
    offset = hole;
  }
  if (::ftruncate(copy, size) != 0 || retryOnInterrupt([&] { return ::fsync(copy); }) != 0) {
    *failure = StagedFile::Failure::kDestination;
    return false;
  }
  return true;
}

}  // namespace

std::optional<StagedFile> StagedFile::copyOfFile(int source, const std::string& directory, Failure* failure) {
  const auto failed = [failure](Failure side, int error) {
    *failure = side;
    if (error != 0) errno = error;
    return std::nullopt;
  };
  struct stat status {};
  if (::fstat(source, &status) != 0) return failed(Failure::kSource, 0);
  if (!S_ISREG(status.st_mode)) return failed(Failure::kSource, EINVAL);
  if (static_cast<std::uint64_t>(status.st_size) > kMaximumFileRead) return failed(Failure::kSource, EFBIG);
  std::optional<StagedFile> copy = createIn(directory, 0600);
  if (!copy) return failed(Failure::kDestination, 0);
  if (!copyData(source, copy->fd(), status.st_size, failure)) return std::nullopt;
  return copy;
}

std::optional<StagedFile> StagedFile::withContents(const std::string& contents, const std::string& directory,
                                                   mode_t mode) {
  std::optional<StagedFile> file = createIn(directory, mode);
  if (!file || !writeAll(file->fd(), contents) || retryOnInterrupt([&] { return ::fsync(file->fd()); }) != 0) {
    return std::nullopt;
  }
  return file;
}

std::optional<StagedFile> StagedFile::createIn(const std::string& directory, mode_t mode) {
  const ScopedFd parent = openDirectory(directory);
  if (!parent.valid()) return std::nullopt;
  ScopedFd file(retryOnInterrupt([&] { return ::openat(parent.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode); }));
  if (!file.valid() || retryOnInterrupt([&] { return ::flock(file.get(), LOCK_EX | LOCK_NB); }) != 0) {
    return std::nullopt;
  }
  return StagedFile(std::move(file));
}

// Taking the lock, when no one holds it, changes nothing: the descriptor and
// with it the lock go at once, and a staged file's run locks it only once,
// before it has a name.
bool StagedFile::isHeldByALiveRun(const std::string& path) {
  const ScopedFd file = openRegularFileForReading(path);
  if (!file.valid()) return false;
  return retryOnInterrupt([&] { return ::flock(file.get(), LOCK_EX | LOCK_NB); }) != 0 && errno == EWOULDBLOCK;
}

bool StagedFile::setOwnerAndMode(uid_t user, gid_t group, mode_t mode) {
  return ::fchown(_file.get(), user, group) == 0 && ::fchmod(_file.get(), mode) == 0;
}

bool StagedFile::replaceItemAtPath(const std::string& path) {
  const std::string file = systemPath(path);
  const std::string name = lastPathComponent(file);
  const ScopedFd parent = openDirectory(stringByDeletingLastPathComponent(file));
  if (!parent.valid()) return false;
  const std::optional<std::string> temporary = takeTemporaryName(name, [&](const std::string& candidate) {
    return ::linkat(_file.get(), "", parent.get(), candidate.c_str(), AT_EMPTY_PATH) == 0;
  });
  if (!temporary) return false;
  if (::renameat(parent.get(), temporary->c_str(), parent.get(), name.c_str()) == 0) return true;
  const int error = errno;
  ::unlinkat(parent.get(), temporary->c_str(), 0);
  errno = error;
  return false;
}

}  // namespace platform
