#include <optional>
#include <string>

#include "installer/MVDaemonInstaller.h"
#include "platform/Bundle.h"
#include "platform/CallerIdentity.h"
#include "platform/Exception.h"
#include "platform/FileComparison.h"
#include "platform/FileManager.h"
#include "platform/Format.h"
#include "platform/Log.h"
#include "platform/Path.h"
#include "platform/RegularFile.h"
#include "platform/StagedFile.h"
#include "suite/MVBrenlowSuite.h"

namespace {

const char* const kHelperExecutableName = "helper";
const char* const kServerExecutableName = "brenlowd";
const char* const kBootstrapException = "general";

[[noreturn]] void fail(const std::string& reason) { platform::raise(kBootstrapException, reason); }

// The bundle and its executables as the caller sees them: the lookups are
// made with the caller's rights, so no answer tells what only root could see.
struct BundleExecutables {
  std::optional<std::string> helper;
  std::optional<std::string> server;
};

BundleExecutables openBundle(const std::string& appPath, const platform::CallerIdentity& caller) {
  const platform::ScopedCallerFileAccess asCaller(caller);
  const std::optional<platform::Bundle> bundle = platform::Bundle::bundleWithPath(appPath);
  if (!bundle) fail("Could not load app bundle");
  return {bundle->pathForAuxiliaryExecutable(kHelperExecutableName),
          bundle->pathForAuxiliaryExecutable(kServerExecutableName)};
}

bool verifyAsCaller(const std::optional<std::string>& path, const std::string& identifier,
                    const platform::CallerIdentity& caller) {
  return platform::withCallerFileAccess(
      caller, [&] { return MVBrenlowSuite::instance().checkCodeSignatureAtPath(path, identifier); });
}

// Byte for byte, read in chunks: the bundle's file opened with the caller's
// rights, the installed one as root. A file that cannot be opened never
// matches.
bool haveSameContents(const std::optional<std::string>& source, const std::string& installed,
                      const platform::CallerIdentity& caller) {
  if (!source) return false;
  const platform::ScopedFd sourceFile =
      platform::withCallerFileAccess(caller, [&] { return platform::openRegularFileForReading(*source); });
  const platform::ScopedFd installedFile = platform::openRegularFileForReading(installed);
  return sourceFile.valid() && installedFile.valid() &&
         platform::haveSameContents(sourceFile.get(), installedFile.get());
}

}  // namespace

platform::StagedFile MVDaemonInstaller::stageVerifiedExecutable(const std::optional<std::string>& source,
                                                               const std::string& identifier,
                                                               const std::string& destination) {
  const MVBrenlowSuite& suite = MVBrenlowSuite::instance();
  std::optional<platform::StagedFile> copy;
  if (source) {
    const platform::ScopedFd original =
        platform::withCallerFileAccess(_caller, [&] { return platform::openRegularFileForReading(*source); });
    auto failure = platform::StagedFile::Failure::kSource;
    if (original.valid()) {
      copy = platform::StagedFile::copyOfFile(original.get(), platform::stringByDeletingLastPathComponent(destination),
                                             &failure);
    }
    if (failure == platform::StagedFile::Failure::kDestination) {
      failedCopy(*source, destination, platform::Error::posix(errno));
    }
    if (copy && suite.checkCodeSignatureOfCopy(copy->fd(), identifier, *source)) return std::move(*copy);
  }
  // The copy that failed is gone before anything is said about it. What
  // could not be copied is never installed; the check of the original only
  // says why.
  const bool copied = copy.has_value();
  copy.reset();
  if (!copied) verifyAsCaller(source, identifier, _caller);
  platform::NSLog("code signature check failed for %@", source);
  fail("Code Signature Validation Failed");
}

void MVDaemonInstaller::bootstrapWithAppPath(const std::string& appPath) {
  stop();
  const MVBrenlowSuite& suite = MVBrenlowSuite::instance();
  const BundleExecutables bundle = openBundle(appPath, _caller);
  const std::string supportDirectory = suite._baseSupportDirectory(std::nullopt, std::nullopt, false);
  requireTrustedDirectory(supportDirectory);
  suite.baseSupportDirectory(std::nullopt, std::nullopt);  // made now: the copies are staged there
  checkSafeToModifyItem(suite.helperInstalledPath());
  checkSafeToModifyItem(suite.serverInstalledPath());

  platform::StagedFile helper =
      stageVerifiedExecutable(bundle.helper, suite.helperBundleId(), suite.helperInstalledPath());
  platform::StagedFile server =
      stageVerifiedExecutable(bundle.server, suite.serverBundleId(), suite.serverInstalledPath());
  const std::string helperVersion = versionOfExecutable(helper.fd(), kHelperExecutableName);
  const std::string serverVersion = versionOfExecutable(server.fd(), kServerExecutableName);
  refuseDowngrade(suite.helperInstalledPath(), helperVersion);
  refuseDowngrade(suite.serverInstalledPath(), serverVersion);
  recordInstalledVersions(helperVersion, serverVersion);

  installStagedCopy(helper, *bundle.helper, suite.helperInstalledPath(), _helperPermissions, kInstallReplaceExisting);
  installSetPermissions(suite.helperInstalledPath(), 0, "wheel", _helperPermissions, _helperPermissions);
  installStagedCopy(server, *bundle.server, suite.serverInstalledPath(), 0755, kInstallReplaceExisting);
  installSetPermissions(suite.serverInstalledPath(), 0, "wheel", 0755, 0755);

  if (!suite.checkCodeSignatureAtPath(suite.helperInstalledPath(), suite.helperBundleId()) ||
      !suite.checkCodeSignatureAtPath(suite.serverInstalledPath(), suite.serverBundleId())) {
    // Nothing that failed its check may stay where start or a user would
    // run it as root: the one step of bootstrap that undoes another.
    installRemoveItem(suite.helperInstalledPath());
    installRemoveItem(suite.serverInstalledPath());
    fail("Post-Install Code Signature Validation Failed");
  }
  // Open to every user, but each keeps their own: the sticky bit stops
  // users deleting or replacing each other's files. A link there is an
  // arrangement of root's that is neither followed nor replaced.
  requireRealDirectory(suite.sharedFilesPath());
  installCreateDirectory(suite.sharedFilesPath(), 0, 0, "wheel", 01777, 01777);
  checkWithAppPath(appPath);
}

void MVDaemonInstaller::checkWithAppPath(const std::string& appPath) {
  const MVBrenlowSuite& suite = MVBrenlowSuite::instance();
  const BundleExecutables bundle = openBundle(appPath, _caller);
  if (!verifyAsCaller(bundle.helper, suite.helperBundleId(), _caller)) fail("Helper Needs Update");
  if (!verifyAsCaller(bundle.server, suite.serverBundleId(), _caller)) fail("Server Needs Update");

  if (!haveSameContents(bundle.helper, suite.helperInstalledPath(), _caller)) fail("Helper Needs Update");
  if (!haveSameContents(bundle.server, suite.serverInstalledPath(), _caller)) fail("Server Needs Update");

  const std::optional<platform::FileAttributes> attributes =
      _fm->attributesOfItemAtPath(suite.helperInstalledPath(), nullptr);
  const bool rootOwned = attributes && attributes->groupOwnerAccountID.value_or(-1) == 0 &&
                         attributes->ownerAccountID.value_or(-1) == 0;
  const Permissions mode = attributes ? attributes->posixPermissions.value_or(0) : 0;
  if (!rootOwned || mode != _helperPermissions) fail("Helper Permissions Incorrect");
}
