#include "frontend/ResultPrinter.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/Format.h"

namespace {

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

}  // namespace

void printResponseAndExit(const platform::PlistValue& response, bool xmlOutput) {
  const bool success = successOf(response);
  const std::string output = xmlOutput ? platform::xmlPropertyListData(response) : textOf(response, success);
  std::fwrite(output.data(), 1, output.size(), stdout);
  std::fflush(stdout);
  std::exit(success ? EXIT_SUCCESS : EXIT_FAILURE);
}
