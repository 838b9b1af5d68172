#include "platform/FileManager.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/Accounts.h"
#include "platform/FileFlags.h"
#include "platform/FileTree.h"
#include "platform/ItemHandle.h"
#include "platform/Path.h"
#include "platform/PathSyntax.h"
#include "platform/RenameNoReplace.h"
#include "platform/RetryOnInterrupt.h"
#include "platform/ScopedFd.h"

namespace platform {

namespace {

// Leaves the current errno (or the one given) in the slot and answers false.
bool fail(ErrorSlot* error, int errnum = errno) {
  if (error != nullptr) *error = Error::posix(errnum);
  return false;
}

std::optional<struct stat> statusOf(const std::string& path, bool followLink) {
  struct stat status {};
  int result = followLink ? stat(path.c_str(), &status) : lstat(path.c_str(), &status);
  if (result != 0) return std::nullopt;
  return status;
}

const char* fileType(mode_t mode) {
  if (S_ISDIR(mode)) return NSFileTypeDirectory;
  if (S_ISREG(mode)) return NSFileTypeRegular;
  if (S_ISLNK(mode)) return NSFileTypeSymbolicLink;
  return NSFileTypeUnknown;
}

// One directory; an explicit mode is set after mkdir so that the umask
// neither widens nor narrows it.
bool makeDirectory(const std::string& path, std::optional<mode_t> mode) {
  if (mkdir(path.c_str(), mode.value_or(0777)) != 0) return false;
  return !mode || changeModeNoFollow(AT_FDCWD, path, *mode) == 0;
}

// The directory and every missing parent, top down; an existing directory
// (or a link to one) is fine anywhere on the way.
bool makeDirectories(const std::string& path, std::optional<mode_t> mode) {
  if (makeDirectory(path, mode)) return true;
  if (errno == EEXIST) {
    std::optional<struct stat> status = statusOf(path, true);
    if (status && S_ISDIR(status->st_mode)) return true;
    errno = EEXIST;
    return false;
  }
  std::string parent = stringByDeletingLastPathComponent(path);
  if (errno != ENOENT || parent.empty() || parent == path) return false;
  if (!makeDirectories(parent, mode)) return false;
  return makeDirectory(path, mode);
}

// The account id that a change names, by number or by name; -1, which
// leaves it unchanged, when the change names none. False for an unknown name
// or a negative number.
template <typename Id, typename Lookup>
bool accountID(const std::optional<std::int32_t>& number, const std::optional<std::string>& name,
               Lookup lookup, Id& id) {
  id = static_cast<Id>(-1);
  if (number) {
    if (*number < 0) return false;
    id = static_cast<Id>(*number);
  } else if (name) {
    std::optional<Id> found = lookup(*name);
    if (!found) return false;
    id = *found;
  }
  return true;
}

bool isOpenableType(mode_t mode) { return S_ISREG(mode) || S_ISDIR(mode); }

std::optional<bool> unsupported() {
  errno = EOPNOTSUPP;
  return std::nullopt;
}

// The inode's immutable flag; nothing, with errno set, when it cannot be
// read. Only regular files and directories are opened, and only they are
// asked: opening a device or a pipe can have effects of its own.
std::optional<bool> immutableFlag(const std::string& item) {
  std::optional<struct stat> status = statusOf(item, false);
  if (!status) return std::nullopt;
  if (!isOpenableType(status->st_mode)) return unsupported();
  ScopedFd fd(retryOnInterrupt([&] { return open(item.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC); }));
  struct stat opened {};
  if (!fd.valid() || fstat(fd.get(), &opened) != 0) return std::nullopt;
  if (!isOpenableType(opened.st_mode)) return unsupported();  // replaced since it was looked at
  return isImmutable(fd.get());
}

}  // namespace

FileManager& FileManager::defaultManager() {
  static FileManager manager;  // holds no state of its own
  return manager;
}

bool FileManager::fileExistsAtPath(const std::string& path) const {
  return statusOf(systemPath(path), false).has_value();
}

bool FileManager::fileExistsAtPath(const std::string& path, bool* isDirectory) const {
  std::optional<struct stat> status = statusOf(systemPath(path), false);
  if (isDirectory != nullptr) *isDirectory = status && S_ISDIR(status->st_mode);
  return status.has_value();
}

bool FileManager::createDirectoryAtPath(const std::string& path, bool withIntermediateDirectories,
                                        const FileAttributes* attributes, ErrorSlot* error) {
  std::optional<mode_t> mode;
  if (attributes != nullptr && attributes->posixPermissions) {
    mode = static_cast<mode_t>(*attributes->posixPermissions & kPermissionBits);
  }
  std::string directory = systemPath(path);
  bool made = withIntermediateDirectories ? makeDirectories(directory, mode) : makeDirectory(directory, mode);
  return made || fail(error);
}

std::optional<FileAttributes> FileManager::attributesOfItemAtPath(const std::string& path,
                                                                  ErrorSlot* error) const {
  std::optional<struct stat> status = statusOf(systemPath(path), false);
  if (!status) {
    fail(error);
    return std::nullopt;
  }
  FileAttributes attributes;
  attributes.type = fileType(status->st_mode);
  attributes.ownerAccountID = static_cast<std::int32_t>(status->st_uid);
  attributes.ownerAccountName = userName(status->st_uid);
  attributes.groupOwnerAccountID = static_cast<std::int32_t>(status->st_gid);
  attributes.groupOwnerAccountName = groupName(status->st_gid);
  attributes.posixPermissions = status->st_mode & kPermissionBits;
  return attributes;
}

// Owner and group go first: changing the owner clears the set-user-ID bit
// on Linux, so the mode must come after it to hold.
bool FileManager::setAttributes(const FileAttributes& attributes, const std::string& path, ErrorSlot* error) {
  std::string item = systemPath(path);
  uid_t uid;
  gid_t gid;
  if (!accountID(attributes.ownerAccountID, attributes.ownerAccountName, userID, uid) ||
      !accountID(attributes.groupOwnerAccountID, attributes.groupOwnerAccountName, groupID, gid)) {
    return fail(error, EINVAL);
  }
  bool changesOwner = uid != static_cast<uid_t>(-1) || gid != static_cast<gid_t>(-1);
  if (changesOwner && fchownat(AT_FDCWD, item.c_str(), uid, gid, AT_SYMLINK_NOFOLLOW) != 0) return fail(error);
  if (attributes.posixPermissions) {
    mode_t mode = static_cast<mode_t>(*attributes.posixPermissions & kPermissionBits);
    if (changeModeNoFollow(AT_FDCWD, item, mode) != 0) return fail(error);
  }
  return true;
}

// The root, "." and ".." are never removed: removing them would empty a
// directory that was not named.
bool FileManager::removeItemAtPath(const std::string& path, ErrorSlot* error) {
  std::string item = systemPath(path);
  std::string last = lastPathComponent(item);
  if (last == "/" || last == "." || last == "..") return fail(error, EINVAL);
  return removeTree(AT_FDCWD, item) || fail(error);
}

// A move never replaces anything, and does not cross file systems.
bool FileManager::moveItemAtPath(const std::string& source, const std::string& destination, ErrorSlot* error) {
  return renameNoReplace(systemPath(source), systemPath(destination)) == 0 || fail(error);
}

bool FileManager::copyItemAtPath(const std::string& source, const std::string& destination, ErrorSlot* error) {
  return copyTree(AT_FDCWD, systemPath(source), AT_FDCWD, systemPath(destination)) || fail(error);
}

std::optional<std::vector<std::string>> FileManager::contentsOfDirectoryAtPath(const std::string& path,
                                                                                ErrorSlot* error) const {
  const std::unique_ptr<DIR, int (*)(DIR*)> directory(opendir(systemPath(path).c_str()), closedir);
  if (!directory) {
    fail(error);
    return std::nullopt;
  }
  std::vector<std::string> names;
  while (const dirent* entry = readdir(directory.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  return names;
}

// The item is found without following a link, and changed through the
// handle on that very item.
bool FileManager::removeSetIDBitsOfItemAtPath(const std::string& path, ErrorSlot* error) {
  const ScopedFd item = openItemNoFollow(systemPath(path));
  struct stat status {};
  if (!item.valid() || fstat(item.get(), &status) != 0) return fail(error);
  if (!S_ISREG(status.st_mode) || (status.st_mode & (S_ISUID | S_ISGID)) == 0) return true;
  return changeModeOfItem(item.get(), status.st_mode & kPermissionBits & ~(S_ISUID | S_ISGID)) == 0 || fail(error);
}

std::optional<bool> FileManager::isUserImmutable(const std::string& path, ErrorSlot* error) const {
  std::optional<bool> flag = immutableFlag(systemPath(path));
  if (!flag) fail(error);
  return flag;
}

}  // namespace platform
