#pragma once

// What the command prints for a verified file: one line of text or JSON.

#include <string>

#include "codesign/CodeSigning.h"

namespace verifier {

// "-67050 errSecCSReqFailed"; a number the engine does not name stands alone.
std::string statusText(codesign::OSStatus status);

// The line for the file's status, without its newline: statusText, or with
// `json` an object {"path": ..., "status": N, "name": "..." or null}, and
// "display": displayJson when that is not empty.
std::string reportLine(const std::string& path, codesign::OSStatus status, bool json,
                       const std::string& displayJson = {});

}  // namespace verifier
