#include "installer/MVDaemonInstaller.h"
#include "platform/FileManager.h"
#include "platform/Log.h"
#include "platform/Path.h"
#include "platform/PropertyList.h"
#include "platform/TrustedDirectory.h"
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

// A real directory that only root can change: the job folder must be one
// before root reads, writes or deletes anything in it.
bool isRootsOwnFolder(const platform::FileManager& fileManager, const std::string& folder) {
  const std::optional<platform::FileAttributes> attributes = fileManager.attributesOfItemAtPath(folder, nullptr);
  if (attributes && attributes->type == platform::NSFileTypeSymbolicLink) return false;
  return !platform::firstUntrustedDirectory(folder);
}

// launchd reads the job file it is handed as root, and obeys its label: only
// a file no other user could have written or laid there may reach it. In a
// folder of root's, a missing job file can only be made by root.
bool isRootsOwnJobFile(const platform::FileManager& fileManager, const std::string& jobFile) {
  const std::optional<platform::FileAttributes> job = fileManager.attributesOfItemAtPath(jobFile, nullptr);
  if (!job) return true;
  return job->type == platform::NSFileTypeRegular && job->ownerAccountID == 0 &&
         (job->posixPermissions.value_or(0777) & 0022) == 0;
}

}  // namespace

// Temporaries that a run killed between naming the job file and renaming it
// left in the job folder, which only root can change by now.
void MVDaemonInstaller::removeAbandonedJobFiles() {
  const std::string jobFile = MVBrenlowSuite::instance().serverLaunchDaemonFilePath();
  removeAbandonedTemporaries(kLaunchDaemonsDirectory, {platform::lastPathComponent(jobFile)});
}

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
  installCreateDirectory(dataDirectory, 0, 0, "wheel", 01777, 01777);  // shared, yet each user's own
  requireTrustedDirectory(kLaunchDaemonsDirectory);
  removeAbandonedJobFiles();
  installWritePlist(serverJob(suite), suite.serverLaunchDaemonFilePath(), 0644, 0);
  if (system("launchctl load \"%@\"", suite.serverLaunchDaemonFilePath()) != 0) {
    abortWithError("The server could not be started.");
  }
  if (system("launchctl start \"%@\"", suite.serverBundleId()) != 0) {
    abortWithError("The server could not be started.");
  }
}

// launchctl's answers are not consulted: a job that is not loaded is no error.
// The folder and the job file are judged before launchctl runs: a file
// someone else could have laid there is not handed to it, and the job is
// stopped by its label alone.
void MVDaemonInstaller::stop() {
  const MVBrenlowSuite& suite = MVBrenlowSuite::instance();
  const std::string jobFile = suite.serverLaunchDaemonFilePath();
  const bool rootsFolder = isRootsOwnFolder(*_fm, kLaunchDaemonsDirectory);
  const bool rootsJobFile = rootsFolder && isRootsOwnJobFile(*_fm, jobFile);
  system("launchctl remove %@", suite.serverBundleId());
  if (rootsJobFile) {
    system("launchctl unload %@", jobFile);
  } else {
    platform::NSLog("Job file %@ is not one only root could have laid there; the job is stopped by its label alone.",
                    jobFile);
  }
  // A job file that is there is removed only from a directory that no other
  // user controls; with none there, nothing changes wherever it would be.
  if (_fm->fileExistsAtPath(jobFile)) {
    requireRealDirectory(kLaunchDaemonsDirectory);
    requireTrustedDirectory(kLaunchDaemonsDirectory);
  }
  if (rootsFolder) removeAbandonedJobFiles();
  installRemoveItem(jobFile);
}

void MVDaemonInstaller::remove() {
  const MVBrenlowSuite& suite = MVBrenlowSuite::instance();
  stop();
  const std::string supportDirectory = suite._baseSupportDirectory(std::nullopt, std::nullopt, false);
  const std::string server = suite.serverInstalledPath();
  const std::string helper = suite.helperInstalledPath();
  // As in stop, the support directory is judged only when an installed
  // executable is there to delete; with neither there, nothing in it is
  // deleted but what the run lock clears of dead runs.
  if (!_fm->fileExistsAtPath(server) && !_fm->fileExistsAtPath(helper)) return;
  requireTrustedDirectory(supportDirectory);
  installRemoveItem(server);
  installRemoveItem(helper);
}

void MVDaemonInstaller::restart() { system("launchctl stop %@", MVBrenlowSuite::instance().serverBundleId()); }
