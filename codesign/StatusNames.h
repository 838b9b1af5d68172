#pragma once

// The framework's names and message texts for the status numbers this
// engine answers with.

#include <optional>
#include <string>
#include <string_view>

#include "codesign/CodeSigning.h"

namespace codesign {

// The constant's name ("errSecCSReqFailed"), or nothing for a number the
// engine does not name (such as 100000 + errno).
std::optional<std::string_view> statusName(OSStatus status);

// The framework's text for the status ("code failed to satisfy specified
// code requirement(s)"): the named ones from the table, 100000 + errno as
// the system's text for errno, anything else as an unknown status.
std::string statusMessage(OSStatus status);

}  // namespace codesign
