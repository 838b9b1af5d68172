#include "installer/MVDaemonInstaller.h"
#include "platform/Path.h"
#include "platform/PropertyList.h"
#include "suite/MVBrenlowSuite.h"

namespace {

const char* const kLaunchDaemonsDirectory = "/Library/LaunchDaemons";

// The launchd job that runs the installed server: started at load, restarted
// unless it exits cleanly.
platform::PlistValue serverJob(const MVBrenlowSuite& suite) {
  platform::PlistValue keepAlive = platform::PlistValue::dictionary();
  keepAlive.set("SuccessfulExit", platform::PlistValue::boolean(false));
  platform::PlistValue job = platform::PlistValue::dictionary();
  job.set("ProgramArguments", platform::PlistValue::array({platform::PlistValue::string(suite.serverInstalledPath())}));
  job.set("RunAtLoad", platform::PlistValue::boolean(true));
  job.set("KeepAlive", std::move(keepAlive));
  job.set("EnableTransactions", platform::PlistValue::boolean(true));
  job.set("Label", platform::PlistValue::string(suite.serverBundleId()));
  return job;
}

}  // namespace

// Each directory is judged before anything is created or written in it.
void MVDaemonInstaller::start() {
  const MVBrenlowSuite& suite = MVBrenlowSuite::instance();
  requireTrustedDirectory(platform::stringByDeletingLastPathComponent(kLaunchDaemonsDirectory));
  requireRealDirectory(kLaunchDaemonsDirectory);
  installCreateDirectory(kLaunchDaemonsDirectory, 0, 0, "wheel", 0700, 0755);
  requireTrustedDirectory(suite._baseSupportDirectory(std::nullopt, std::nullopt, false));
  const std::string dataDirectory =
      platform::stringByDeletingLastPathComponent(suite.fileAttributeCacheDatabaseFilePath());
  requireRealDirectory(dataDirectory);
  installCreateDirectory(dataDirectory, 0, 0, "wheel", 0777, 0777);
  requireTrustedDirectory(kLaunchDaemonsDirectory);
  installWritePlist(serverJob(suite), suite.serverLaunchDaemonFilePath(), 0644, 0);
  if (system("launchctl load \"%@\"", suite.serverLaunchDaemonFilePath()) != 0) {
    abortWithError("The server could not be started.");
  }
  if (system("launchctl start \"%@\"", suite.serverBundleId()) != 0) {
    abortWithError("The server could not be started.");
  }
}

// launchctl's answers are not consulted: a job that is not loaded is no error.
void MVDaemonInstaller::stop() {
  const MVBrenlowSuite& suite = MVBrenlowSuite::instance();
  system("launchctl remove %@", suite.serverBundleId());
  system("launchctl unload %@", suite.serverLaunchDaemonFilePath());
  // A job file that is there is removed only from a directory that no other
  // user controls; with none there, nothing changes wherever it would be.
  if (_fm->fileExistsAtPath(suite.serverLaunchDaemonFilePath())) {
    requireRealDirectory(kLaunchDaemonsDirectory);
    requireTrustedDirectory(kLaunchDaemonsDirectory);
  }
  installRemoveItem(suite.serverLaunchDaemonFilePath());
}

void MVDaemonInstaller::remove() {
  const MVBrenlowSuite& suite = MVBrenlowSuite::instance();
  stop();
  const std::string supportDirectory = suite._baseSupportDirectory(std::nullopt, std::nullopt, false);
  const std::string server = suite.serverInstalledPath();
  const std::string helper = suite.helperInstalledPath();
  // As in stop, the support directory is judged only when an installed
  // executable is there to delete; with neither there, nothing in it is
  // deleted, not even a staging copy that an earlier version left behind.
  if (!_fm->fileExistsAtPath(server) && !_fm->fileExistsAtPath(helper)) return;
  requireTrustedDirectory(supportDirectory);
  removeAbandonedStagingFiles(supportDirectory);
  installRemoveItem(server);
  installRemoveItem(helper);
}

void MVDaemonInstaller::restart() { system("launchctl stop %@", MVBrenlowSuite::instance().serverBundleId()); }
