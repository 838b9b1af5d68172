#include "platform/FileTree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <memory>
#include <optional>
#include <vector>

#include "platform/DescriptorIO.h"
#include "platform/PathSyntax.h"
#include "platform/RetryOnInterrupt.h"
#include "platform/ScopedFd.h"

namespace platform {

ScopedFd openDirectory(const std::string& path) {
  const std::string directory = systemPath(path);
  return ScopedFd(retryOnInterrupt(
      [&] { return ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
}

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using ScopedDir = std::unique_ptr<DIR, DirCloser>;

ScopedFd openNoFollow(int dirFd, const std::string& name, int flags) {
  return ScopedFd(retryOnInterrupt(
      [&] { return openat(dirFd, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK); }));
}

ScopedFd openDirectory(int dirFd, const std::string& name) {
  return openNoFollow(dirFd, name, O_RDONLY | O_DIRECTORY);
}

// The names in the directory, "." and ".." left out, read in full before
// anything in it changes.
std::optional<std::vector<std::string>> entryNames(int directory) {
  ScopedFd copy(fcntl(directory, F_DUPFD_CLOEXEC, 0));
  if (!copy.valid()) return std::nullopt;
  ScopedDir dir(fdopendir(copy.get()));
  if (!dir) return std::nullopt;
  static_cast<void>(copy.release());  // the DIR stream owns it now
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* entry = readdir(dir.get())) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  if (errno != 0) return std::nullopt;
  return names;
}

bool failRemoving(int dirFd, const std::string& name, bool isDirectory) {
  int saved = errno;
  if (isDirectory) {
    removeTree(dirFd, name);
  } else {
    unlinkat(dirFd, name.c_str(), 0);
  }
  errno = saved;
  return false;
}

bool copyBytes(int from, int to) {
  for (;;) {
    char buffer[65536];
    ssize_t count = retryOnInterrupt([&] { return read(from, buffer, sizeof buffer); });
    if (count <= 0) return count == 0;
    if (!writeAll(to, std::string_view(buffer, static_cast<std::size_t>(count)))) return false;
  }
}

bool copyFile(int dirFd, const std::string& name, int toDirFd, const std::string& toName) {
  ScopedFd from = openNoFollow(dirFd, name, O_RDONLY);
  struct stat status {};
  if (!from.valid() || fstat(from.get(), &status) != 0) return false;
  if (!S_ISREG(status.st_mode)) {
    errno = EOPNOTSUPP;  // replaced since it was looked at
    return false;
  }
  ScopedFd to(retryOnInterrupt([&] {
    return openat(toDirFd, toName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  }));
  if (!to.valid()) return false;
  if (copyBytes(from.get(), to.get()) && fchmod(to.get(), status.st_mode & kPermissionBits) == 0) return true;
  return failRemoving(toDirFd, toName, false);
}

bool copyDirectory(int dirFd, const std::string& name, int toDirFd, const std::string& toName) {
  ScopedFd from = openDirectory(dirFd, name);
  struct stat status {};
  if (!from.valid() || fstat(from.get(), &status) != 0) return false;
  // Listed before the copy exists, so that a copy made inside the source
  // is not copied into itself.
  std::optional<std::vector<std::string>> names = entryNames(from.get());
  if (!names || mkdirat(toDirFd, toName.c_str(), 0700) != 0) return false;
  ScopedFd to = openDirectory(toDirFd, toName);
  bool copied = to.valid();
  for (std::size_t i = 0; copied && i < names->size(); ++i) {
    copied = copyTree(from.get(), (*names)[i], to.get(), (*names)[i]);
  }
  if (copied && fchmod(to.get(), status.st_mode & kPermissionBits) == 0) return true;
  return failRemoving(toDirFd, toName, true);
}

bool copyLink(int dirFd, const std::string& name, int toDirFd, const std::string& toName) {
  char target[PATH_MAX];
  ssize_t length = readlinkat(dirFd, name.c_str(), target, sizeof target);
  if (length < 0) return false;
  if (static_cast<std::size_t>(length) == sizeof target) {
    errno = ENAMETOOLONG;
    return false;
  }
  return symlinkat(std::string(target, static_cast<std::size_t>(length)).c_str(), toDirFd, toName.c_str()) == 0;
}

}  // namespace

bool removeTree(int dirFd, const std::string& name) {
  struct stat status {};
  if (fstatat(dirFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (!S_ISDIR(status.st_mode)) return unlinkat(dirFd, name.c_str(), 0) == 0;
  ScopedFd directory = openDirectory(dirFd, name);
  if (!directory.valid()) return false;
  std::optional<std::vector<std::string>> names = entryNames(directory.get());
  if (!names) return false;
  for (const std::string& entry : *names) {
    if (!removeTree(directory.get(), entry)) return false;
  }
  return unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) == 0;
}

bool copyTree(int dirFd, const std::string& name, int toDirFd, const std::string& toName) {
  struct stat status {};
  if (fstatat(dirFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (S_ISREG(status.st_mode)) return copyFile(dirFd, name, toDirFd, toName);
  if (S_ISDIR(status.st_mode)) return copyDirectory(dirFd, name, toDirFd, toName);
  if (S_ISLNK(status.st_mode)) return copyLink(dirFd, name, toDirFd, toName);
  errno = EOPNOTSUPP;  // devices, pipes and sockets are not copied
  return false;
}

}  // namespace platform
