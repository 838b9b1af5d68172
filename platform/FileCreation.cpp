#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "platform/DescriptorIO.h"
#include "platform/FileManager.h"
#include "platform/FileTree.h"
#include "platform/Path.h"
#include "platform/PathSyntax.h"
#include "platform/RetryOnInterrupt.h"
#include "platform/ScopedFd.h"
#include "platform/TemporaryName.h"

namespace platform {

namespace {

// Creates a new file in the directory that no one else can have opened;
// its name is left in `temporary`.
ScopedFd createTemporary(int directory, const std::string& name, mode_t mode, std::string& temporary) {
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    std::optional<std::string> candidate = temporaryName(name);
    if (!candidate) return ScopedFd();
    ScopedFd fd(retryOnInterrupt([&] {
      return openat(directory, candidate->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    }));
    if (fd.valid() || errno != EEXIST) {
      temporary = *candidate;
      return fd;
    }
  }
  return ScopedFd();
}

// Every byte on disk, then the mode: a file-size limit or a full disk shows
// here, before anything is renamed.
bool writeContents(int fd, const std::string& contents, std::optional<mode_t> mode) {
  return writeAll(fd, contents) && retryOnInterrupt([&] { return fsync(fd); }) == 0 &&
         (!mode || fchmod(fd, *mode) == 0);
}

}  // namespace

// The new contents are written and flushed to a file beside the old one and
// renamed over it, so that the path shows either the old file or the whole
// new one: a full disk or a file-size limit never leaves a truncated file.
// Without a requested mode the file gets 0666 less the umask.
bool FileManager::createFileAtPath(const std::string& path, const std::string& contents,
                                   const FileAttributes* attributes) {
  std::string file = systemPath(path);
  std::string name = lastPathComponent(file);
  std::string directory = stringByDeletingLastPathComponent(file);
  if (file.empty() || name == "/") return false;
  ScopedFd parent(retryOnInterrupt(
      [&] { return open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
  if (!parent.valid()) return false;
  std::optional<mode_t> mode;
  if (attributes != nullptr && attributes->posixPermissions) {
    mode = static_cast<mode_t>(*attributes->posixPermissions & kPermissionBits);
  }
  std::string temporary;
  ScopedFd fd = createTemporary(parent.get(), name, mode ? 0600 : 0666, temporary);
  if (!fd.valid()) return false;
  bool written = writeContents(fd.get(), contents, mode) &&
                 renameat(parent.get(), temporary.c_str(), parent.get(), name.c_str()) == 0;
  if (!written) unlinkat(parent.get(), temporary.c_str(), 0);
  return written;
}

}  // namespace platform
