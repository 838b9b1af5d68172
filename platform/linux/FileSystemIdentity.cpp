// Linux: setfsuid and setfsgid.

#include "platform/FileSystemIdentity.h"

#include <sys/fsuid.h>

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

std::optional<FileSystemIdentity> assumeFileSystemIdentity(uid_t user, gid_t group) {
  const FileSystemIdentity previous{currentFileSystemUser(), currentFileSystemGroup()};
  if (switchTo(user, group)) return previous;
  switchTo(previous.user, previous.group);
  return std::nullopt;
}

void restoreFileSystemIdentity(const FileSystemIdentity& previous) {
  setfsuid(previous.user);
  setfsgid(previous.group);
}

}  // namespace platform
