// macOS: the mode bits, and the access control list, which the mode bits do
// not reflect. Any entry that allows adding, deleting or renaming entries,
// deleting the directory, or changing its permissions or owner makes the
// directory untrusted, whoever it names: root needs no such entry. A list
// that cannot be read is taken as untrusting.

#include "platform/WriteAccess.h"

#include <sys/acl.h>
#include <sys/types.h>

#include <cerrno>
#include <memory>

namespace platform {
namespace {

constexpr acl_permset_mask_t kChangingRights = ACL_ADD_FILE | ACL_ADD_SUBDIRECTORY | ACL_DELETE_CHILD | ACL_DELETE |
                                               ACL_WRITE_SECURITY | ACL_CHANGE_OWNER;

struct AclFree {
  void operator()(void* acl) const { acl_free(acl); }
};
using ScopedAcl = std::unique_ptr<std::remove_pointer_t<acl_t>, AclFree>;

bool entryGrantsChange(acl_entry_t entry) {
  acl_tag_t tag{};
  acl_permset_mask_t rights = 0;
  if (acl_get_tag_type(entry, &tag) != 0 || acl_get_permset_mask_np(entry, &rights) != 0) return true;
  return tag == ACL_EXTENDED_ALLOW && (rights & kChangingRights) != 0;
}

bool listGrantsChange(const std::string& path) {
  errno = 0;
  const ScopedAcl acl(acl_get_link_np(path.c_str(), ACL_TYPE_EXTENDED));
  if (!acl) return errno != ENOENT;  // ENOENT: the item has no list
  acl_entry_t entry{};
  for (int which = ACL_FIRST_ENTRY; acl_get_entry(acl.get(), which, &entry) == 0; which = ACL_NEXT_ENTRY) {
    if (entryGrantsChange(entry)) return true;
  }
  return false;
}

}  // namespace

bool onlyRootMayChange(const std::string& path, const struct stat& status) {
  if (status.st_uid != 0 || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) return false;
  return !listGrantsChange(path);
}

}  // namespace platform
