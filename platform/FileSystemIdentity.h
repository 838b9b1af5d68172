#pragma once

// The identity the file system judges the calling thread's accesses by,
// switched without changing the process's own ids: setfsuid and setfsgid
// on Linux, pthread_setugid_np on macOS (which also makes the groups the
// user's own, and cannot be nested). Per system:
// platform/linux/FileSystemIdentity.cpp, platform/darwin/FileSystemIdentity.cpp.

#include <sys/types.h>

#include <optional>

namespace platform {

struct FileSystemIdentity {
  uid_t user = 0;
  gid_t group = 0;
};

// Switches to the user and group and answers what restores the previous
// identity; nothing, with nothing changed, when the switch cannot be made.
std::optional<FileSystemIdentity> assumeFileSystemIdentity(uid_t user, gid_t group);

// Goes back to what assumeFileSystemIdentity answered.
void restoreFileSystemIdentity(const FileSystemIdentity& previous);

}  // namespace platform
