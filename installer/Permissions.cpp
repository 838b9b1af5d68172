#include "installer/MVDaemonInstaller.h"
#include "platform/FileAttributes.h"
#include "platform/Path.h"

namespace {

// Every bit of pmin set and no bit outside pmax: a test on bits, not a
// numeric interval (0720 is not between 0700 and 0755).
bool isInRange(Permissions value, Permissions pmin, Permissions pmax) {
  return (value & ~pmax) == 0 && (value & pmin) == pmin;
}

// An id that the databases do not name shows as its number.
std::string nameOrNumber(const std::optional<std::string>& name, std::optional<std::int32_t> id) {
  return name ? *name : std::to_string(id.value_or(-1));
}

// Only two real names that are equal count: numbers shown for unnamed ids
// say nothing about a user's own group.
bool groupIsNamedLikeOwner(const platform::FileAttributes& attributes) {
  return attributes.ownerAccountName && attributes.ownerAccountName == attributes.groupOwnerAccountName;
}

}  // namespace

std::string MVDaemonInstaller::stringForPermissions(Permissions permissions) const {
  std::string text;
  for (const int shift : {6, 3, 0}) {
    const Permissions triplet = (permissions >> shift) & 07;
    text += (triplet & 04) ? 'r' : '-';
    text += (triplet & 02) ? 'w' : '-';
    text += (triplet & 01) ? 'x' : '-';
  }
  return text;
}

// Reads the item, puts every difference into one change, applies it once and
// reads again: a second difference means the change did not hold.
void MVDaemonInstaller::installSetPermissions(const std::string& path, UserID user,
                                              const std::optional<std::string>& group, Permissions pmin,
                                              Permissions pmax) {
  const std::string item = platform::stringByExpandingTildeInPath(path);
  platform::ErrorSlot error;
  for (int pass = 0;; ++pass) {
    const std::optional<platform::FileAttributes> attributes = _fm->attributesOfItemAtPath(item, &error);
    if (!attributes) abortWithError("Couldn't get attributes of item %@ (%@).", item, error);
    const std::string groupName = nameOrNumber(attributes->groupOwnerAccountName, attributes->groupOwnerAccountID);
    const std::string ownerName = nameOrNumber(attributes->ownerAccountName, attributes->ownerAccountID);
    const Permissions permissions = attributes->posixPermissions.value_or(0);
    const UserID owner = attributes->ownerAccountID.value_or(-1);

    if (attributes->type == platform::NSFileTypeDirectory) {
      logInstallerAction("permissions check: %@ [%@] %@/%@", item, stringForPermissions(permissions), ownerName,
                         groupName);
    } else {
      logInstallerAction("permissions check: .../%@ [%@] %@/%@", platform::lastPathComponent(item),
                         stringForPermissions(permissions), ownerName, groupName);
    }

    platform::FileAttributes change;
    if (group && attributes->groupOwnerAccountName != *group && !groupIsNamedLikeOwner(*attributes)) {
      logInstallerAction("fixing permissions: group is %@ expected %@ for file %@", groupName, *group, item);
      change.groupOwnerAccountName = *group;
    }
    if (owner != user) {
      logInstallerAction("fixing permissions: owner id is %d expected %d for file %@", owner, user, item);
      change.ownerAccountID = user;
    }
    if (!isInRange(permissions, pmin, pmax)) {
      logInstallerAction("fixing permissions: currently %@ [%o], expected between %o-%o for file %@",
                         stringForPermissions(permissions), permissions, pmin, pmax, item);
      change.posixPermissions = pmin;
    }

    if (change.empty()) return;
    if (pass != 0) abortWithError("Couldn't set attributes of item %@ (%@).", item, error);
    if (!_fm->setAttributes(change, item, &error)) {
      abortWithError("Couldn't set attributes of item %@ (%@).", item, error);
    }
  }
}
