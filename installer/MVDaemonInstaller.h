#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/CallerIdentity.h"
#include "platform/FileManager.h"
#include "platform/LockFile.h"
#include "platform/Format.h"
#include "platform/PropertyList.h"
#include "platform/StagedFile.h"

using Permissions = std::uint64_t;
using InstallFlags = std::uint64_t;
using UserID = std::int32_t;

inline constexpr InstallFlags kInstallReplaceExisting = 1;
inline constexpr InstallFlags kInstallTemporary = 2;

// Carries out every privileged command: installs, checks, starts, stops and
// removes the server. Every failure is raised as a platform::Exception; the
// installer catches nothing and undoes nothing.
class MVDaemonInstaller {
 public:
  MVDaemonInstaller();
  // The caller who started the run: the bundle is read with their rights,
  // and only root may install older executables over newer ones, or a
  // helper older than the running one (`ownVersion`).
  explicit MVDaemonInstaller(const platform::CallerIdentity& caller,
                             std::optional<std::string> ownVersion = std::nullopt);
  // For tests: the installer's own file manager stands in for the platform's.
  explicit MVDaemonInstaller(std::unique_ptr<platform::FileManager> fileManager,
                             const platform::CallerIdentity& caller = {});

  // Takes the run lock in the support directory before a command: exclusive
  // for a command that changes state, shared for one that does not (and
  // then only where the lock is there). It is held until the installer goes.
  void lockForCommand(bool changesState);

  // Commands.
  void bootstrapWithAppPath(const std::string& appPath);
  void checkWithAppPath(const std::string& appPath);
  void remove();
  void start();
  void stop();
  void restart();

  // Action log, aborts and shell commands.
  template <typename... Args>
  void logInstallerAction(std::string_view format, const Args&... args) {
    logInstallerMessage(platform::format(format, args...));
  }
  template <typename... Args>
  [[noreturn]] void abortWithNotice(std::string_view format, const Args&... args) {
    raiseFormatted("abortWithNotice", platform::format(format, args...));
  }
  template <typename... Args>
  [[noreturn]] void abortWithError(std::string_view format, const Args&... args) {
    raiseFormatted("abortWithError", platform::format(format, args...));
  }
  template <typename... Args>
  int system(std::string_view format, const Args&... args) {
    return runCommandLine(platform::format(format, args...));
  }
  void installAddManifestPath(const std::string& path, InstallFlags flags);

  // Ownership and permissions.
  std::string stringForPermissions(Permissions permissions) const;
  void installSetPermissions(const std::string& path, UserID user,
                             const std::optional<std::string>& group, Permissions pmin,
                             Permissions pmax);

  // Path safety and the install primitives.
  void checkSafeToModifyItem(const std::optional<std::string>& path);
  void installRemoveItem(const std::string& path);
  void installCreateDirectory(const std::string& path, std::int32_t flags, UserID user,
                              const std::optional<std::string>& group, Permissions pmin,
                              Permissions pmax);
  void installMoveItem(const std::string& path, const std::string& toPath, InstallFlags flags);
  void installCopyItem(const std::string& path, const std::string& toPath,
                       Permissions permissions, InstallFlags flags);
  void installWriteData(const std::optional<std::string>& data, const std::string& toFile,
                        Permissions permissions, InstallFlags flags);
  void installWritePlist(const std::optional<platform::PlistValue>& plist,
                         const std::string& toFile, Permissions permissions, InstallFlags flags);
  void installApplication(const std::string& path, InstallFlags flags);
  // Puts a verified copy of `fromPath` in place of the item at the path in
  // one rename, owned by root and group wheel with the permissions given.
  void installStagedCopy(platform::StagedFile& copy, const std::string& fromPath, const std::string& toPath,
                         Permissions permissions, InstallFlags flags);
  // Removes the staging copies that runs killed before their rename left
  // beside the installed executables in the directory.
  void removeAbandonedStagingFiles(const std::string& directory);
  // Removes the hidden temporaries ("." + name + "." + anything) beside the
  // names in the directory, except those a live run still holds.
  void removeAbandonedTemporaries(const std::string& directory, const std::vector<std::string>& names);
  // The same for the job file's temporaries in the job folder.
  void removeAbandonedJobFiles();

  // Directories another user could change are never written into: every
  // existing directory from the root down to `directory` must belong to root
  // and be writable by no one else.
  void requireTrustedDirectory(const std::string& directory);
  // Root creates, writes and deletes only in a real directory: a symbolic
  // link at `directory`, whoever laid it, would carry that work elsewhere.
  void requireRealDirectory(const std::string& directory);

  // Manifests.
  void cleanupInstalledFiles();
  void cleanupTempFiles();

  const std::vector<std::string>& installedFiles() const noexcept { return _installedFiles; }
  const std::vector<std::string>& tempFiles() const noexcept { return _tempFiles; }

  bool verbose = false;

 private:
  void logInstallerMessage(const std::string& message);
  [[noreturn]] void raiseFormatted(const char* name, std::string reason);
  int runCommandLine(const std::string& commandLine);
  void cleanupFiles(const std::vector<std::string>& manifest);
  void removeSetIDBits(const std::string& item);
  [[noreturn]] void failedCopy(const std::string& source, const std::string& destination,
                               const platform::ErrorSlot& error);
  platform::StagedFile stageVerifiedExecutable(const std::optional<std::string>& source,
                                               const std::string& identifier, const std::string& destination);
  // Versions (the floor is the run lock's record).
  std::string versionOfExecutable(int executable, const std::string& name);
  void refuseDowngrade(const std::string& installedPath, const std::string& version);
  std::vector<std::string> versionFloors(const std::string& installedPath);
  void recordInstalledVersions(const std::string& helperVersion, const std::string& serverVersion);
  std::string runLockPath() const;

  std::vector<std::string> _installedFiles;
  std::vector<std::string> _tempFiles;
  std::unique_ptr<platform::FileManager> _fm;
  platform::CallerIdentity _caller;
  std::optional<std::string> _ownVersion;
  std::optional<platform::LockFile> _runLock;
  Permissions _helperPermissions = 04755;
};
