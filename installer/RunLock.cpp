// One run at a time: two runs at once could each judge the installation
// before the other changes it (a remove between a bootstrap's version check
// and its install would take the floor away), or clean up what the other
// is still writing.

#include <cerrno>
#include <optional>
#include <string>

#include "installer/MVDaemonInstaller.h"
#include "platform/Error.h"
#include "platform/LockFile.h"
#include "platform/Log.h"
#include "platform/Path.h"
#include "platform/TrustedDirectory.h"
#include "suite/MVBrenlowSuite.h"

namespace {

const char* const kRunLockName = ".lock";

void sayWaiting() { platform::NSLog("Waiting for another run of helper to finish."); }

}  // namespace

std::string MVDaemonInstaller::runLockPath() const {
  return platform::stringByAppendingPathComponent(
      MVBrenlowSuite::instance()._baseSupportDirectory(std::nullopt, std::nullopt, false), kRunLockName);
}

// A command that changes nothing waits only for runs that change something,
// and only where root's lock is there to wait on. One that changes state
// locks the support directory when it is root's alone. Where it is not, or
// no directory can be there, nothing in it can be installed or removed
// either: the command's own steps refuse to write there and say why, and
// what it does elsewhere needs no lock.
void MVDaemonInstaller::lockForCommand(bool changesState) {
  const MVBrenlowSuite& suite = MVBrenlowSuite::instance();
  const std::string directory = suite._baseSupportDirectory(std::nullopt, std::nullopt, false);
  if (!changesState) {
    _runLock = platform::LockFile::openExisting(directory, kRunLockName);
    if (_runLock && !_runLock->lock(platform::LockFile::Access::kShared, sayWaiting)) _runLock.reset();
    return;
  }
  if (platform::firstUntrustedDirectory(directory)) return;
  suite.baseSupportDirectory(std::nullopt, std::nullopt);
  bool isDirectory = false;
  if (!_fm->fileExistsAtPath(directory, &isDirectory) || !isDirectory) return;
  _runLock = platform::LockFile::create(directory, kRunLockName);
  if (!_runLock || !_runLock->lock(platform::LockFile::Access::kExclusive, sayWaiting)) {
    const platform::Error error = platform::Error::posix(errno);
    abortWithError("Couldn't lock %@ (%@)", runLockPath(), error);
  }
  // No other run that stages can be alive now: what staging copies are
  // left, and not held, were left by runs that died.
  removeAbandonedStagingFiles(directory);
}
