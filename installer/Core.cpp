#include <algorithm>
#include <utility>

#include "installer/MVDaemonInstaller.h"
#include "platform/CallerOutput.h"
#include "platform/Exception.h"
#include "platform/FileManager.h"
#include "platform/Shell.h"

MVDaemonInstaller::MVDaemonInstaller() : MVDaemonInstaller(platform::CallerIdentity{}) {}

MVDaemonInstaller::MVDaemonInstaller(const platform::CallerIdentity& caller, std::optional<std::string> ownVersion)
    : MVDaemonInstaller(std::make_unique<platform::FileManager>(), caller) {
  _ownVersion = std::move(ownVersion);
}

MVDaemonInstaller::MVDaemonInstaller(std::unique_ptr<platform::FileManager> fileManager,
                                     const platform::CallerIdentity& caller)
    : _fm(std::move(fileManager)), _caller(caller) {}

void MVDaemonInstaller::logInstallerMessage(const std::string& message) {
  if (!verbose) return;
  platform::writeToCaller(platform::CallerStream::kError, message + "\n");
}

void MVDaemonInstaller::raiseFormatted(const char* name, std::string reason) {
  platform::raise(name, std::move(reason));
}

int MVDaemonInstaller::runCommandLine(const std::string& commandLine) {
  const int status = platform::runShellCommand(commandLine);
  logInstallerAction("%@: %d", commandLine, status);
  return status;
}

void MVDaemonInstaller::installAddManifestPath(const std::string& path, InstallFlags flags) {
  std::vector<std::string>& manifest = (flags & kInstallTemporary) ? _tempFiles : _installedFiles;
  if (std::find(manifest.begin(), manifest.end(), path) != manifest.end()) return;
  manifest.push_back(path);
}

void MVDaemonInstaller::cleanupInstalledFiles() { cleanupFiles(_installedFiles); }

void MVDaemonInstaller::cleanupTempFiles() { cleanupFiles(_tempFiles); }

// Deletes what the manifest lists, first recorded first, past every failure.
// The safety gate does not apply here, and the manifest stays as it is.
void MVDaemonInstaller::cleanupFiles(const std::vector<std::string>& manifest) {
  for (const std::string& path : manifest) {
    logInstallerAction("cleanup: deleting %@", path);
    platform::FileManager::defaultManager().removeItemAtPath(path, nullptr);
  }
}
