#include <sys/stat.h>

#include <optional>

#include "platform/FileManager.h"
#include "platform/FileTree.h"
#include "platform/Path.h"
#include "platform/PathSyntax.h"
#include "platform/StagedFile.h"

namespace platform {

// The new contents go to a staged file for the path (StagedFile.h), are
// flushed, and only then renamed over the old file: the path shows either
// the old file or the whole new one, and a full disk or a file-size limit
// never leaves a truncated file. Without a requested mode the file gets 0666 less the umask.
bool FileManager::createFileAtPath(const std::string& path, const std::string& contents,
                                   const FileAttributes* attributes) {
  const std::string file = systemPath(path);
  if (file.empty() || lastPathComponent(file) == "/") return false;
  std::optional<mode_t> mode;
  if (attributes != nullptr && attributes->posixPermissions) {
    mode = static_cast<mode_t>(*attributes->posixPermissions & kPermissionBits);
  }
  std::optional<StagedFile> staged =
      StagedFile::withContents(contents, file, mode ? 0600 : 0666);
  return staged && (!mode || fchmod(staged->fd(), *mode) == 0) && staged->replaceItemAtPath(file);
}

}  // namespace platform
