// signature-check: verifies one Mach-O file's code signature as the
// framework would, with the caller's rights, and prints the framework's
// status. Exit status 0 when it verified, 1 when it did not, 2 on bad usage.

#include <iostream>

#include "verifier/Arguments.h"
#include "verifier/Check.h"
#include "verifier/Report.h"

namespace {

constexpr int kVerified = 0;
constexpr int kFailed = 1;
constexpr int kBadUsage = 2;

// One line on standard error; the usage line too when the words were wrong.
int usageError(const std::string& problem, bool showUsage) {
  std::cerr << "signature-check: " << problem << (showUsage ? std::string("; ") + verifier::kUsage : "") << "\n";
  return kBadUsage;
}

}  // namespace

int main(int argc, char** argv) {
  std::string problem;
  const auto args = verifier::parseArguments({argv + (argc > 0 ? 1 : 0), argv + argc}, &problem);
  if (!args) return usageError(problem, true);
  if (args->help) return std::cout << verifier::kUsage << "\n", kVerified;
  codesign::FailureDetail failure;
  std::string display;
  const auto status = verifier::checkFile(*args, &problem, &failure, &display);
  if (!status) return usageError(problem, false);
  std::cout << verifier::reportLine(args->file, *status, args->json, failure, display) << std::endl;
  if (*status == 0) return kVerified;
  std::cerr << verifier::failureLine(*status, failure) << "\n";
  return kFailed;
}
