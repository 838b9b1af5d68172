#pragma once

#include <string_view>

#include "platform/codesign/RequirementSubject.h"

namespace platform::codesign {

// Decodes base64, ignoring white space; false on any other stray character
// or misplaced padding.
bool decodeBase64(std::string_view text, Bytes* out);

}  // namespace platform::codesign
