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
  const ScopedFd parent = openDirectory(directory);
  if (!parent.valid()) return false;
  std::optional<mode_t> mode;
  if (attributes != nullptr && attributes->posixPermissions) {
    mode = static_cast<mode_t>(*attributes->posixPermissions & kPermissionBits);
  }
  // A new file that no one else can have opened.
  ScopedFd fd;
  const std::optional<std::string> temporary = takeTemporaryName(name, [&](const std::string& candidate) {
    fd.reset(retryOnInterrupt([&] {
      return openat(parent.get(), candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    mode ? 0600 : 0666);
    }));
    return fd.valid();
  });
  if (!temporary) return false;
  bool written = writeContents(fd.get(), contents, mode) &&
                 renameat(parent.get(), temporary->c_str(), parent.get(), name.c_str()) == 0;
  if (!written) unlinkat(parent.get(), temporary->c_str(), 0);
  return written;
}

}  // namespace platform
