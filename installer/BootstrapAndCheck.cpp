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

// A private copy of one of the bundle's executables, made in the support
// directory (root's alone) with no execute bit, and removed when it goes out
// of scope. Whoever owns the bundle can change the original at any moment;
// the copy is what gets verified and what gets installed.
class StagedExecutable {
 public:
  StagedExecutable(const std::optional<std::string>& source, const std::string& directory)
      : _source(source), _copy(source ? platform::createPrivateCopyOfFile(*source, directory) : std::nullopt) {}
  ~StagedExecutable() {
    if (_copy) platform::FileManager::defaultManager().removeItemAtPath(*_copy, nullptr);
  }
  StagedExecutable(const StagedExecutable&) = delete;
  StagedExecutable& operator=(const StagedExecutable&) = delete;

  // Bootstrap refuses an executable whose copy does not verify, naming the
  // bundle's file in the log before it raises.
  const std::string& verifiedCopy(const std::string& identifier) const {
    const MVBrenlowSuite& suite = MVBrenlowSuite::instance();
    if (_copy && suite.checkCodeSignatureOfCopy(*_copy, identifier, *_source)) return *_copy;
    // What could not be copied is never installed; the check of the
    // original only says why.
    if (!_copy) suite.checkCodeSignatureAtPath(_source, identifier);
    platform::NSLog("code signature check failed for %@", _source);
    fail("Code Signature Validation Failed");
  }

 private:
  std::optional<std::string> _source;
  std::optional<std::string> _copy;
};

}  // namespace

void MVDaemonInstaller::bootstrapWithAppPath(const std::string& appPath) {
  stop();
  const MVBrenlowSuite& suite = MVBrenlowSuite::instance();
  const platform::Bundle bundle = openBundle(appPath);
  const std::string supportDirectory = suite._baseSupportDirectory(std::nullopt, std::nullopt, false);
  requireTrustedDirectory(supportDirectory);
  suite.baseSupportDirectory(std::nullopt, std::nullopt);  // made now: the private copies are staged there

  const StagedExecutable helper(bundle.pathForAuxiliaryExecutable(kHelperExecutableName), supportDirectory);
  const std::string& helperCopy = helper.verifiedCopy(suite.helperBundleId());
  const StagedExecutable server(bundle.pathForAuxiliaryExecutable(kServerExecutableName), supportDirectory);
  const std::string& serverCopy = server.verifiedCopy(suite.serverBundleId());

  installCopyItem(helperCopy, suite.helperInstalledPath(), 0755, kInstallReplaceExisting);
  installSetPermissions(suite.helperInstalledPath(), 0, "wheel", 0755, 0755);
  installSetPermissions(suite.helperInstalledPath(), 0, "wheel", _helperPermissions, _helperPermissions);
  installCopyItem(serverCopy, suite.serverInstalledPath(), 0755, kInstallReplaceExisting);
  installSetPermissions(suite.serverInstalledPath(), 0, "wheel", 0755, 0755);

  if (!suite.checkCodeSignatureAtPath(suite.helperInstalledPath(), suite.helperBundleId()) ||
      !suite.checkCodeSignatureAtPath(suite.serverInstalledPath(), suite.serverBundleId())) {
    // Nothing that failed its check may stay where start or a user would
    // run it as root: the one step of bootstrap that undoes another.
    installRemoveItem(suite.helperInstalledPath());
    installRemoveItem(suite.serverInstalledPath());
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
