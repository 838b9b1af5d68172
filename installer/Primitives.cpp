#include <unistd.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "installer/MVDaemonInstaller.h"
#include "platform/Error.h"
#include "platform/FileManager.h"
#include "platform/Path.h"

namespace {

// The item vanished between the existence test and the removal.
bool isAlreadyGone(const platform::Error& error) {
  return (error.domain() == platform::kPOSIXErrorDomain && error.code() == 2) ||
         (error.domain() == platform::kCocoaErrorDomain && error.code() == 4);
}

UserID effectiveUser() { return static_cast<UserID>(geteuid()); }

// The installed executables, beside which staging copies get their hidden
// temporary names.
constexpr std::array<std::string_view, 2> kStagedNames{"helper", "brenlowd"};

// A temporary name beside `name`: "." + name + "." + anything.
bool isTemporaryNameOf(std::string_view candidate, std::string_view name) {
  return candidate.size() > name.size() + 2 && candidate.front() == '.' && candidate.substr(1).starts_with(name) &&
         candidate[name.size() + 1] == '.';
}

}  // namespace

// An executable about to be replaced or removed loses its set-user-ID bit
// first, on its inode: whoever holds it open could otherwise still run it
// as root after it is gone from its path.
void MVDaemonInstaller::removeSetIDBits(const std::string& item) {
  platform::ErrorSlot error;
  if (!_fm->removeSetIDBitsOfItemAtPath(item, &error) && !(error && isAlreadyGone(*error))) {
    abortWithError("Couldn't remove %@ (%@)", item, error);
  }
}

void MVDaemonInstaller::installRemoveItem(const std::string& path) {
  const std::string item = platform::stringByExpandingTildeInPath(path);
  if (!_fm->fileExistsAtPath(item)) return;
  logInstallerAction("remove %@", item);
  checkSafeToModifyItem(item);
  removeSetIDBits(item);
  platform::ErrorSlot error;
  if (_fm->removeItemAtPath(item, &error)) {
    std::erase(_installedFiles, item);
    return;
  }
  if (error && isAlreadyGone(*error)) return;
  abortWithError("Couldn't remove %@ (%@)", item, error);
}

void MVDaemonInstaller::installCreateDirectory(const std::string& path, std::int32_t flags, UserID user,
                                               const std::optional<std::string>& group, Permissions pmin,
                                               Permissions pmax) {
  const std::string directory = platform::stringByExpandingTildeInPath(path);
  bool isDirectory = false;
  const bool exists = _fm->fileExistsAtPath(directory, &isDirectory);
  if (!exists || !isDirectory) {
    if (exists) installRemoveItem(directory);
    logInstallerAction("creating directory %@", directory);
    platform::FileAttributes attributes;
    attributes.posixPermissions = pmin;
    platform::ErrorSlot error;
    if (!_fm->createDirectoryAtPath(directory, true, &attributes, &error)) {
      abortWithError("Couldn't create directory %@ (%@)", directory, error);
    }
    // Widened with its sign, as every other primitive's flags are 64 bits.
    installAddManifestPath(directory, static_cast<InstallFlags>(static_cast<std::int64_t>(flags)));
  }
  installSetPermissions(directory, user, group, pmin, pmax);
}

void MVDaemonInstaller::installMoveItem(const std::string& path, const std::string& toPath, InstallFlags flags) {
  const std::string source = platform::stringByExpandingTildeInPath(path);
  const std::string destination = platform::stringByExpandingTildeInPath(toPath);
  if (flags & kInstallReplaceExisting) installRemoveItem(destination);
  if (!_fm->fileExistsAtPath(source)) abortWithError("Missing file %@.", source);
  logInstallerAction("move %@ to %@", source, destination);
  checkSafeToModifyItem(source);
  installAddManifestPath(destination, flags);
  platform::ErrorSlot error;
  if (!_fm->moveItemAtPath(source, destination, &error)) {
    abortWithError("Move of %@ to %@ failed (%@).", source, destination, error);
  }
}

void MVDaemonInstaller::installCopyItem(const std::string& path, const std::string& toPath,
                                        Permissions permissions, InstallFlags flags) {
  const std::string source = platform::stringByExpandingTildeInPath(path);
  const std::string destination = platform::stringByExpandingTildeInPath(toPath);
  if (flags & kInstallReplaceExisting) installRemoveItem(destination);
  if (!_fm->fileExistsAtPath(source)) abortWithError("Missing file %@.", source);
  logInstallerAction("copy .../%@ to %@ [%@]", platform::lastPathComponent(source), destination,
                     stringForPermissions(permissions));
  checkSafeToModifyItem(destination);
  platform::ErrorSlot error;
  if (!_fm->copyItemAtPath(source, destination, &error)) failedCopy(source, destination, error);
  installAddManifestPath(destination, flags);
  installSetPermissions(destination, effectiveUser(), std::nullopt, permissions, permissions);
}

void MVDaemonInstaller::installWriteData(const std::optional<std::string>& data, const std::string& toFile,
                                         Permissions permissions, InstallFlags flags) {
  const std::string file = platform::stringByExpandingTildeInPath(toFile);
  if (flags & kInstallReplaceExisting) installRemoveItem(file);
  logInstallerAction("create file %@ [%@]", file, stringForPermissions(permissions));
  checkSafeToModifyItem(file);
  platform::FileAttributes attributes;
  attributes.posixPermissions = permissions;
  if (!platform::FileManager::defaultManager().createFileAtPath(file, data.value_or(""), &attributes)) {
    abortWithError("Write to %@ failed.", file);
  }
  installAddManifestPath(file, flags);
  installSetPermissions(file, effectiveUser(), std::nullopt, permissions, permissions);
}

void MVDaemonInstaller::installWritePlist(const std::optional<platform::PlistValue>& plist, const std::string& toFile,
                                          Permissions permissions, InstallFlags flags) {
  if (!plist) abortWithError("Internal error.");
  const std::string data = platform::xmlPropertyListData(*plist);
  if (data.empty()) abortWithError("Internal error: could not serialize dict for plist.");
  installWriteData(data, toFile, permissions, flags);
}

void MVDaemonInstaller::installApplication(const std::string& path, InstallFlags flags) {
  const std::string name = platform::lastPathComponent(path);
  if (name.empty() || !name.ends_with(".app")) abortWithError("Couldn't install app, name %@ is invalid.", path);
  const std::string destination = platform::stringByAppendingPathComponent("/Applications", name);
  if (flags & kInstallReplaceExisting) installRemoveItem(destination);
  checkSafeToModifyItem(destination);
  installCopyItem(path, destination, 0755, flags);
}

void MVDaemonInstaller::installStagedCopy(platform::StagedFile& copy, const std::string& fromPath,
                                          const std::string& toPath, Permissions permissions, InstallFlags flags) {
  const std::string destination = platform::stringByExpandingTildeInPath(toPath);
  bool isDirectory = false;
  if (_fm->fileExistsAtPath(destination, &isDirectory) && isDirectory) installRemoveItem(destination);
  logInstallerAction("install .../%@ [%@]", platform::lastPathComponent(destination),
                     stringForPermissions(permissions));
  checkSafeToModifyItem(destination);
  if (!copy.setOwnerAndMode(0, 0, static_cast<mode_t>(permissions))) {
    failedCopy(fromPath, destination, platform::Error::posix(errno));
  }
  removeSetIDBits(destination);
  if (!copy.replaceItemAtPath(destination)) failedCopy(fromPath, destination, platform::Error::posix(errno));
  installAddManifestPath(destination, flags);
}

// The copy step's failure, whether a copy was made by path or staged.
void MVDaemonInstaller::failedCopy(const std::string& source, const std::string& destination,
                                   const platform::ErrorSlot& error) {
  abortWithError("Copy of %@ to %@ failed (%@).", source, destination, error);
}

void MVDaemonInstaller::removeAbandonedStagingFiles(const std::string& directory) {
  removeAbandonedTemporaries(directory, std::vector<std::string>(kStagedNames.begin(), kStagedNames.end()));
  // Where copies cannot be nameless they are named in the staging folder,
  // which holds nothing else.
  const std::string staging = platform::stringByAppendingPathComponent(directory, platform::StagedFile::kStagingFolderName);
  const std::optional<std::vector<std::string>> entries = _fm->contentsOfDirectoryAtPath(staging, nullptr);
  for (const std::string& entry : entries.value_or(std::vector<std::string>{})) {
    const std::string path = platform::stringByAppendingPathComponent(staging, entry);
    if (!platform::StagedFile::isHeldByALiveRun(path)) installRemoveItem(path);
  }
}

// The run lock does not reach every folder (nor a support folder that is not
// a directory), so a temporary that a live run holds is left to that run.
void MVDaemonInstaller::removeAbandonedTemporaries(const std::string& directory,
                                                   const std::vector<std::string>& names) {
  const std::optional<std::vector<std::string>> entries = _fm->contentsOfDirectoryAtPath(directory, nullptr);
  for (const std::string& entry : entries.value_or(std::vector<std::string>{})) {
    const bool abandoned = std::ranges::any_of(names, [&](const std::string& name) {
      return isTemporaryNameOf(entry, name);
    });
    const std::string path = platform::stringByAppendingPathComponent(directory, entry);
    if (abandoned && !platform::StagedFile::isHeldByALiveRun(path)) installRemoveItem(path);
  }
}
