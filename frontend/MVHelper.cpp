#include "frontend/MVHelper.h"

#include <unistd.h>

#include <array>
#include <chrono>

#include "installer/MVDaemonInstaller.h"
#include "platform/Exception.h"
#include "platform/CallerIdentity.h"
#include "platform/CallerOutput.h"
#include "platform/Format.h"
#include "platform/ProcessState.h"
#include "platform/ResourceLimits.h"
#include "platform/Text.h"
#include "platform/Watchdog.h"

const char* const kGeneralException = "kGeneralException";

namespace {

const char* const kBootstrapCommand = "bootstrap";
const char* const kCheckCommand = "check";
const char* const kRemoveCommand = "remove";
const char* const kStartCommand = "start";
const char* const kStopCommand = "stop";
const char* const kRestartCommand = "restart";

// The longest a root run may take: room for bootstrap to copy and check two
// executables of 1 GiB, the most the signature check reads, several times
// over on a slow disk.
constexpr std::chrono::seconds kRunTimeLimit{300};

struct CommandEntry {
  const char* word;
  bool takesAppPath;  // the first argument
  bool changesState;  // takes the run lock exclusively; otherwise shared
  void (*run)(MVDaemonInstaller& installer, const std::string& appPath);
};

// The whole privileged interface: one word, one installer operation.
const std::array<CommandEntry, 6> kCommandTable{{
    {kBootstrapCommand, true, true, [](MVDaemonInstaller& i, const std::string& p) { i.bootstrapWithAppPath(p); }},
    {kCheckCommand, true, false, [](MVDaemonInstaller& i, const std::string& p) { i.checkWithAppPath(p); }},
    {kRemoveCommand, false, true, [](MVDaemonInstaller& i, const std::string&) { i.remove(); }},
    {kStartCommand, false, true, [](MVDaemonInstaller& i, const std::string&) { i.start(); }},
    {kStopCommand, false, true, [](MVDaemonInstaller& i, const std::string&) { i.stop(); }},
    {kRestartCommand, false, true, [](MVDaemonInstaller& i, const std::string&) { i.restart(); }},
}};

// Real, effective and saved user and group ids all become 0, or the run
// stops here: everything after this runs fully as root, out of the caller's
// reach. The caller can then no longer signal the run, so it must end by
// itself: under root's own limits, never waiting on the caller's
// descriptors, and within a fixed time. Answers who the caller was.
platform::CallerIdentity becomeRoot() {
  const platform::CallerIdentity caller = platform::realIdentity();
  const bool root = geteuid() == 0 && setuid(0) == 0 && setgid(0) == 0 && getuid() == 0;
  if (!root) platform::raise(kGeneralException, "Not Running As Root");
  const bool limitsSet = platform::setRootResourceLimits();
  platform::ignoreCallerSignals();
  platform::startBoundedCallerOutput();
  if (!limitsSet) platform::raise(kGeneralException, "Resource limits for the run could not be set.");
  if (!platform::startWatchdog(kRunTimeLimit)) platform::raise(kGeneralException, "The run's watchdog could not be started.");
  return caller;
}

}  // namespace

MVHelper::MVHelper() : _response(std::make_shared<platform::PlistValue>(platform::PlistValue::dictionary())) {}

void MVHelper::command(const std::string& command, const std::vector<std::string>& args) {
  MVDaemonInstaller installer(becomeRoot(), HELPER_VERSION);
  for (const CommandEntry& entry : kCommandTable) {
    if (command == entry.word) {
      const std::string appPath = entry.takesAppPath ? platform::objectAtIndex(args, 0) : std::string();
      installer.lockForCommand(entry.changesState);
      entry.run(installer, appPath);
      response()->set("success", platform::PlistValue::boolean(true));
      return;
    }
  }
  platform::raise(kGeneralException, platform::format("Command \"%@\" Not Recognized", command));
}
