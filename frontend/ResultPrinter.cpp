#include "frontend/ResultPrinter.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/CallerOutput.h"
#include "platform/Format.h"

namespace {

// Taken by whichever prints the run's result first: the command's thread
// or the watchdog's.
std::atomic<bool> gResultTaken{false};

bool successOf(const platform::PlistValue& response) {
  const platform::PlistValue* success = response.find("success");
  return success && success->kind() == platform::PlistValue::Kind::Boolean && success->booleanValue();
}

std::string textOf(const platform::PlistValue& response, bool success) {
  const platform::PlistValue* error = response.find("error");
  if (error && error->kind() == platform::PlistValue::Kind::String) {
    return platform::format("ERROR: %s\n", error->stringValue());
  }
  return success ? "OK\n" : "ERROR\n";
}

std::string outputOf(const platform::PlistValue& response, bool xmlOutput) {
  return xmlOutput ? platform::xmlPropertyListData(response) : textOf(response, successOf(response));
}

}  // namespace

void printResponseAndExit(const platform::PlistValue& response, bool xmlOutput) {
  if (gResultTaken.exchange(true)) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));  // the watchdog ends the process
  }
  platform::writeResultToCaller(outputOf(response, xmlOutput));
  std::exit(successOf(response) ? EXIT_SUCCESS : EXIT_FAILURE);
}

void printResponseFromWatchdog(const platform::PlistValue& response, bool xmlOutput) {
  if (gResultTaken.exchange(true)) return;
  platform::writeResultToCaller(outputOf(response, xmlOutput));
  std::_Exit(successOf(response) ? EXIT_SUCCESS : EXIT_FAILURE);
}
