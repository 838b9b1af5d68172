#pragma once

// One verification as the command runs it: the caller's roots and
// requirement made ready, then the file checked for every architecture.

#include <optional>
#include <string>

#include "codesign/CodeSigning.h"
#include "codesign/FailureDetail.h"
#include "verifier/Arguments.h"

namespace verifier {

// The framework's status for the file, a failure explained in *failure;
// nothing, with the reason, when the caller's anchors or requirement cannot
// be used (a usage error). With --display the fields go to standard output
// first, or with --json into *displayJson, for the status line to carry.
std::optional<codesign::OSStatus> checkFile(const Arguments& args, std::string* problem,
                                            codesign::FailureDetail* failure, std::string* displayJson);

}  // namespace verifier
