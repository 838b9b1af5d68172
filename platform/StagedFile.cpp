#include "platform/StagedFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/DescriptorIO.h"
#include "platform/NamelessFile.h"
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

// The staging folder inside the directory open at `directory`, made on
// demand; refused (EPERM) unless it is a real folder of this process's user
// that no one else may enter, which only its owner could have spoiled.
ScopedFd openStagingFolder(int directory) {
  if (::mkdirat(directory, StagedFile::kStagingFolderName, 0700) != 0 && errno != EEXIST) return ScopedFd();
  ScopedFd folder(retryOnInterrupt([&] {
    return ::openat(directory, StagedFile::kStagingFolderName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }));
  struct stat status {};
  if (!folder.valid() || ::fstat(folder.get(), &status) != 0) return ScopedFd();
  if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid() || (status.st_mode & 07777) != 0700) {
    errno = EPERM;
    return ScopedFd();
  }
  return folder;
}

// A new file in the folder under a fresh hidden temporary name beside
// `base` ("." + base + "." + random digits): the file, and its name.
std::optional<std::pair<ScopedFd, StagedName>> createNamedFile(ScopedFd folder, const std::string& base, mode_t mode) {
  ScopedFd file;
  const std::optional<std::string> name = takeTemporaryName(base, [&](const std::string& candidate) {
    file.reset(retryOnInterrupt([&] {
      return ::openat(folder.get(), candidate.c_str(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, mode);
    }));
    return file.valid();
  });
  if (!name) return std::nullopt;
  return std::make_pair(std::move(file), StagedName(std::move(folder), *name));
}

}  // namespace

StagedName& StagedName::operator=(StagedName&& other) noexcept {
  if (this != &other) {
    remove();
    _folder = std::move(other._folder);
    _name = std::move(other._name);
  }
  return *this;
}

void StagedName::remove() noexcept {
  if (_folder.valid()) ::unlinkat(_folder.get(), _name.c_str(), 0);
  _folder.reset();
}

std::optional<StagedFile> StagedFile::copyOfFile(int source, const std::string& directory, Failure* failure,
                                                 Staging staging) {
  const auto failed = [failure](Failure side, int error) {
    *failure = side;
    if (error != 0) errno = error;
    return std::nullopt;
  };
  struct stat status {};
  if (::fstat(source, &status) != 0) return failed(Failure::kSource, 0);
  if (!S_ISREG(status.st_mode)) return failed(Failure::kSource, EINVAL);
  if (static_cast<std::uint64_t>(status.st_size) > kMaximumFileRead) return failed(Failure::kSource, EFBIG);
  std::optional<StagedFile> copy = create(directory, 0600, staging, [](int parent, mode_t mode) {
    ScopedFd folder = openStagingFolder(parent);
    return folder.valid() ? createNamedFile(std::move(folder), "copy", mode) : std::nullopt;
  });
  if (!copy) return failed(Failure::kDestination, 0);
  if (!copyData(source, copy->fd(), status.st_size, failure)) return std::nullopt;
  return copy;
}

std::optional<StagedFile> StagedFile::withContents(const std::string& contents, const std::string& path, mode_t mode,
                                                   Staging staging) {
  const std::string file = systemPath(path);
  const std::string name = lastPathComponent(file);
  std::optional<StagedFile> staged =
      create(stringByDeletingLastPathComponent(file), mode, staging, [&](int parent, mode_t wanted) {
        ScopedFd folder(retryOnInterrupt([&] { return ::fcntl(parent, F_DUPFD_CLOEXEC, 0); }));
        return folder.valid() ? createNamedFile(std::move(folder), name, wanted) : std::nullopt;
      });
  if (!staged || !writeAll(staged->fd(), contents) || retryOnInterrupt([&] { return ::fsync(staged->fd()); }) != 0) {
    return std::nullopt;
  }
  return staged;
}

template <typename Named>
std::optional<StagedFile> StagedFile::create(const std::string& directory, mode_t mode, Staging staging,
                                             Named named) {
  const ScopedFd parent = openDirectory(directory);
  if (!parent.valid()) return std::nullopt;
  std::optional<std::pair<ScopedFd, StagedName>> made;
  if (staging == Staging::kNamelessWherePossible) {
    ScopedFd file(openNamelessFile(parent.get(), mode));
    if (file.valid()) {
      made.emplace(std::move(file), StagedName());
    } else if (errno != EOPNOTSUPP) {
      return std::nullopt;
    }
  }
  if (!made) made = named(parent.get(), mode);
  if (!made || retryOnInterrupt([&] { return ::flock(made->first.get(), LOCK_EX | LOCK_NB); }) != 0) {
    return std::nullopt;
  }
  return StagedFile(std::move(made->first), std::move(made->second));
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
  if (!_name.named()) return linkOver(parent.get(), name);
  if (::renameat(_name.folder(), _name.name().c_str(), parent.get(), name.c_str()) != 0) return false;
  _name.installed();
  return true;
}

// A nameless file is linked under a hidden temporary name beside `name`
// and renamed over it.
bool StagedFile::linkOver(int parent, const std::string& name) {
  const std::optional<std::string> temporary = takeTemporaryName(name, [&](const std::string& candidate) {
    return linkNamelessFile(_file.get(), parent, candidate.c_str());
  });
  if (!temporary) return false;
  if (::renameat(parent, temporary->c_str(), parent, name.c_str()) == 0) return true;
  const int error = errno;
  ::unlinkat(parent, temporary->c_str(), 0);
  errno = error;
  return false;
}

}  // namespace platform
