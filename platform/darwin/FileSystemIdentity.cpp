// macOS: pthread_setugid_np, per thread. KAUTH_UID_NONE and KAUTH_GID_NONE
// give the thread back the process's identity. Work the system does on its
// own threads on the tool's behalf still runs as root.

#include "platform/FileSystemIdentity.h"

#include <sys/kauth.h>
#include <unistd.h>

// The headers mark the call deprecated as error-prone; it is still the one
// way to have the kernel judge one thread's file accesses as another user.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"

namespace platform {

std::optional<FileSystemIdentity> assumeFileSystemIdentity(uid_t user, gid_t group) {
  if (pthread_setugid_np(user, group) != 0) return std::nullopt;
  return FileSystemIdentity{KAUTH_UID_NONE, KAUTH_GID_NONE};
}

void restoreFileSystemIdentity(const FileSystemIdentity& previous) {
  (void)pthread_setugid_np(previous.user, previous.group);
}

}  // namespace platform

#pragma clang diagnostic pop
