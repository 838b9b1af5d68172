#pragma once

#include <string_view>

#include "codesign/RequirementSubject.h"

namespace codesign {

// Decodes base64, ignoring white space; false on any other stray character
// or misplaced padding.
bool decodeBase64(std::string_view text, Bytes* out);

}  // namespace codesign
