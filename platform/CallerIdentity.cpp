#include "platform/CallerIdentity.h"

#include <sys/fsuid.h>
#include <unistd.h>

#include "platform/Exception.h"

namespace platform {
namespace {

// setfsuid and setfsgid answer with the previous value whether or not they
// succeeded; asking again with an impossible value reads the current one.
uid_t currentFileSystemUser() { return static_cast<uid_t>(setfsuid(static_cast<uid_t>(-1))); }
gid_t currentFileSystemGroup() { return static_cast<gid_t>(setfsgid(static_cast<gid_t>(-1))); }

bool switchTo(uid_t user, gid_t group) {
  setfsgid(group);
  setfsuid(user);
  return currentFileSystemUser() == user && currentFileSystemGroup() == group;
}

}  // namespace

CallerIdentity realIdentity() { return {getuid(), getgid()}; }

ScopedCallerFileAccess::ScopedCallerFileAccess(const CallerIdentity& caller)
    : _previousUser(currentFileSystemUser()), _previousGroup(currentFileSystemGroup()) {
  if (!switchTo(caller.user, caller.group)) {
    switchTo(_previousUser, _previousGroup);
    raise("NSInternalInconsistencyException", "Could not take the caller's file access.");
  }
}

ScopedCallerFileAccess::~ScopedCallerFileAccess() {
  setfsuid(_previousUser);
  setfsgid(_previousGroup);
}

}  // namespace platform
