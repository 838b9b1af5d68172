#pragma once

#include <string>
#include <vector>

#include "Signer.h"

namespace signer {

struct SignCommand {
  std::string input;
  std::string output;
  SignOptions options;
};

// The arguments after "sign": IN OUT and options, with the certificates and
// keys they name already loaded. Throws SignerError on anything it does not
// know.
SignCommand parseSignCommand(const std::vector<std::string>& arguments);

extern const char* const kUsage;

}  // namespace signer
