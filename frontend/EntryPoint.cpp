#include "frontend/EntryPoint.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "frontend/MVHelper.h"
#include "frontend/ResultPrinter.h"
#include "platform/CallerOutput.h"
#include "platform/Exception.h"
#include "platform/Format.h"
#include "platform/ProcessState.h"
#include "platform/PropertyList.h"
#include "platform/Text.h"
#include "platform/Watchdog.h"

namespace {

const char* const kXMLSwitch = "-xml";
const char* const kUsage = "helper is used to install, start, update and remove the brenlowd process.";
const char* const kRunTimedOut = "The run took longer than %d seconds and was stopped.";

// The XML-output flag, set once before the command runs; the watchdog's
// thread reads it too.
std::atomic<bool> gXMLOutput{false};

std::vector<std::string> argumentList(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(platform::validUTF8(argv[i]));
  return args;
}

// Takes every "-xml" out of the list; true when there was one.
bool removeXMLSwitch(std::vector<std::string>& args) {
  const auto removed = std::erase(args, kXMLSwitch);
  return removed > 0;
}

[[noreturn]] void printUsageAndExit() {
  std::printf("%s\n", kUsage);
  std::fflush(stdout);
  std::exit(EXIT_FAILURE);
}

platform::PlistValue failureResponse(const std::string& name, const std::string& reason) {
  platform::PlistValue response = platform::PlistValue::dictionary();
  response.set("success", platform::PlistValue::boolean(false));
  response.set("error", platform::PlistValue::string(reason.empty() ? name : reason));
  return response;
}

// Printing a failure is the last thing a run does; if even that fails, the
// exit status still tells the caller.
[[noreturn]] void reportFailure(const std::string& name, const std::string& reason, bool xmlOutput) noexcept {
  try {
    printResponseAndExit(failureResponse(name, reason), xmlOutput);
  } catch (...) {
    try {
      platform::writeResultToCaller("ERROR\n");
    } catch (...) {
    }
    std::exit(EXIT_FAILURE);
  }
}

// The run's time is up: the watchdog's thread reports it as the run's
// failure, while the command may still be at work.
void reportTimeUp(std::chrono::seconds limit) {
  try {
    const std::string reason = platform::format(kRunTimedOut, static_cast<int>(limit.count()));
    printResponseFromWatchdog(failureResponse(kGeneralException, reason), gXMLOutput.load());
  } catch (...) {
    std::_Exit(EXIT_FAILURE);
  }
}

}  // namespace

void runHelper(int argc, char** argv) {
  // Before anything else: no output may land in a file opened later.
  if (!platform::establishSafeProcessState()) std::_Exit(EXIT_FAILURE);
  std::vector<std::string> args = argumentList(argc, argv);
  if (!args.empty()) args.erase(args.begin());
  const bool xmlOutput = removeXMLSwitch(args);
  gXMLOutput.store(xmlOutput);
  platform::setTimeUpHandler(&reportTimeUp);
  if (args.empty()) printUsageAndExit();
  const std::string command = platform::lowercaseString(args.front());
  args.erase(args.begin());

  try {
    MVHelper helper;
    helper.command(command, args);
    printResponseAndExit(*helper.response(), xmlOutput);
  } catch (const platform::Exception& exception) {
    reportFailure(exception.name(), exception.reason(), xmlOutput);
  } catch (const std::exception& exception) {
    reportFailure("NSInternalInconsistencyException", exception.what(), xmlOutput);
  } catch (...) {
    reportFailure("NSInternalInconsistencyException", "", xmlOutput);
  }
}
