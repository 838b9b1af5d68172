#pragma once

// What the command prints for a verified file: one line of text or JSON,
// and for a failure one line on standard error that explains it.

#include <string>

#include "codesign/CodeSigning.h"
#include "codesign/FailureDetail.h"

namespace verifier {

// "-67050 errSecCSReqFailed"; a number the engine does not name stands alone.
std::string statusText(codesign::OSStatus status);

// The line for the file's status, without its newline: statusText, or with
// `json` an object {"path": ..., "status": N, "name": "..." or null,
// "architecture": ..., "reason": ..., "message": ...}, the last three null
// where the check succeeded or the detail is empty; and "display":
// displayJson when that is not empty.
std::string reportLine(const std::string& path, codesign::OSStatus status, bool json,
                       const codesign::FailureDetail& detail = {}, const std::string& displayJson = {});

// The explanation of a failed check, without its newline:
// "signature-check: arm64 (sha256): <reason>: <the framework's message>",
// each part present when known; one line whatever the file holds.
std::string failureLine(codesign::OSStatus status, const codesign::FailureDetail& detail);

}  // namespace verifier
