#include <optional>
#include <string>

#include "installer/MVDaemonInstaller.h"
#include "platform/Bundle.h"
#include "platform/Exception.h"
#include "platform/FileManager.h"
#include "platform/Log.h"
#include "suite/MVBrenlowSuite.h"

namespace {

const char* const kHelperExecutableName = "helper";
const char* const kServerExecutableName = "brenlowd";
const char* const kBootstrapException = "general";

[[noreturn]] void fail(const char* reason) { platform::raise(kBootstrapException, reason); }

platform::Bundle openBundle(const std::string& appPath) {
  std::optional<platform::Bundle> bundle = platform::Bundle::bundleWithPath(appPath);
  if (!bundle) fail("Could not load app bundle");
  return *bundle;
}

// Whole files, byte for byte; a file that cannot be read never matches.
bool haveSameContents(const std::optional<std::string>& source, const std::string& installed) {
  if (!source) return false;
  const std::optional<std::string> sourceData = platform::dataWithContentsOfFile(*source);
  const std::optional<std::string> installedData = platform::dataWithContentsOfFile(installed);
  return sourceData && installedData && *sourceData == *installedData;
}

// Bootstrap refuses an executable of the bundle that does not verify, naming
// it in the log before it raises.
void requireVerifiedSource(const std::optional<std::string>& path, const std::string& identifier) {
  if (MVBrenlowSuite::instance().checkCodeSignatureAtPath(path, identifier)) return;
  platform::NSLog("code signature check failed for %@", path);
  fail("Code Signature Validation Failed");
}

}  // namespace

void MVDaemonInstaller::bootstrapWithAppPath(const std::string& appPath) {
  stop();
  const MVBrenlowSuite& suite = MVBrenlowSuite::instance();
  const platform::Bundle bundle = openBundle(appPath);
  const std::optional<std::string> helperSource = bundle.pathForAuxiliaryExecutable(kHelperExecutableName);
  requireVerifiedSource(helperSource, suite.helperBundleId());
  const std::optional<std::string> serverSource = bundle.pathForAuxiliaryExecutable(kServerExecutableName);
  requireVerifiedSource(serverSource, suite.serverBundleId());

  installCopyItem(*helperSource, suite.helperInstalledPath(), 0755, kInstallReplaceExisting);
  installSetPermissions(suite.helperInstalledPath(), 0, "wheel", 0755, 0755);
  installSetPermissions(suite.helperInstalledPath(), 0, "wheel", _helperPermissions, _helperPermissions);
  installCopyItem(*serverSource, suite.serverInstalledPath(), 0755, kInstallReplaceExisting);
  installSetPermissions(suite.serverInstalledPath(), 0, "wheel", 0755, 0755);

  if (!suite.checkCodeSignatureAtPath(suite.helperInstalledPath(), suite.helperBundleId()) ||
      !suite.checkCodeSignatureAtPath(suite.serverInstalledPath(), suite.serverBundleId())) {
    fail("Post-Install Code Signature Validation Failed");
  }
  installCreateDirectory(suite.sharedFilesPath(), 0, 0, "wheel", 0777, 0777);
  checkWithAppPath(appPath);
}

void MVDaemonInstaller::checkWithAppPath(const std::string& appPath) {
  const MVBrenlowSuite& suite = MVBrenlowSuite::instance();
  const platform::Bundle bundle = openBundle(appPath);
  const std::optional<std::string> helperSource = bundle.pathForAuxiliaryExecutable(kHelperExecutableName);
  if (!suite.checkCodeSignatureAtPath(helperSource, suite.helperBundleId())) fail("Helper Needs Update");
  const std::optional<std::string> serverSource = bundle.pathForAuxiliaryExecutable(kServerExecutableName);
  if (!suite.checkCodeSignatureAtPath(serverSource, suite.serverBundleId())) fail("Server Needs Update");

  if (!haveSameContents(helperSource, suite.helperInstalledPath())) fail("Helper Needs Update");
  if (!haveSameContents(serverSource, suite.serverInstalledPath())) fail("Server Needs Update");

  const std::optional<platform::FileAttributes> attributes =
      _fm->attributesOfItemAtPath(suite.helperInstalledPath(), nullptr);
  const bool rootOwned = attributes && attributes->groupOwnerAccountID.value_or(-1) == 0 &&
                         attributes->ownerAccountID.value_or(-1) == 0;
  const Permissions mode = attributes ? attributes->posixPermissions.value_or(0) : 0;
  if (!rootOwned || mode != _helperPermissions) fail("Helper Permissions Incorrect");
}
