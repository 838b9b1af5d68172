#include "platform/CallerIdentity.h"

#include <unistd.h>

#include "platform/Exception.h"
#include "platform/FileSystemIdentity.h"

namespace platform {

CallerIdentity realIdentity() { return {getuid(), getgid()}; }

ScopedCallerFileAccess::ScopedCallerFileAccess(const CallerIdentity& caller) {
  const std::optional<FileSystemIdentity> previous = assumeFileSystemIdentity(caller.user, caller.group);
  if (!previous) raise("NSInternalInconsistencyException", "Could not take the caller's file access.");
  _previousUser = previous->user;
  _previousGroup = previous->group;
}

ScopedCallerFileAccess::~ScopedCallerFileAccess() { restoreFileSystemIdentity({_previousUser, _previousGroup}); }

}  // namespace platform
