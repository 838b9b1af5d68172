#pragma once

// The framework's names for the status numbers this engine answers with.

#include <optional>
#include <string_view>

#include "codesign/CodeSigning.h"

namespace codesign {

// The constant's name ("errSecCSReqFailed"), or nothing for a number the
// engine does not name (such as 100000 + errno).
std::optional<std::string_view> statusName(OSStatus status);

}  // namespace codesign
