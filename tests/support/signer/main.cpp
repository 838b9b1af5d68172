// helper-test-signer: the tests' own code signer and certificate authority.
// It signs Mach-O files the way Apple's signer lays them out, with the tests'
// certificates, so that the code-signature engine is tested on real
// signatures.

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "Bytes.h"
#include "CertificateAuthority.h"
#include "CommandLine.h"
#include "Signer.h"

namespace {

int run(const std::vector<std::string>& arguments) {
  if (arguments.size() == 2 && arguments[0] == "make-ca") {
    signer::makeCertificateAuthority(arguments[1]);
    return 0;
  }
  if (!arguments.empty() && arguments[0] == "sign") {
    const signer::SignCommand command = signer::parseSignCommand({arguments.begin() + 1, arguments.end()});
    const signer::Bytes input = signer::readFile(command.input);
    signer::writeFile(command.output, signer::signFile(input, command.options));
    // A signed executable stays executable.
    std::filesystem::permissions(command.output, std::filesystem::status(command.input).permissions());
    return 0;
  }
  std::fputs(signer::kUsage, stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "helper-test-signer: %s\n", error.what());
    return 1;
  }
}
