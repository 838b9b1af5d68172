#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "codesign/CodeSigning.h"
#include "codesign/requirement/Token.h"

namespace codesign::requirement {

// The longest requirement text accepted. The tool's own requirement is a few
// hundred bytes; anything near this limit is not a requirement anyone wrote.
inline constexpr std::size_t kMaxRequirementText = 64 * 1024;

// Splits requirement text into tokens, the last one End. Returns 0, or
// errSecCSReqInvalid for text that is too long, holds a NUL or a byte that is
// not UTF-8, or has a malformed string, hash, number, comment or mark.
OSStatus tokenize(std::string_view text, std::vector<Token>* tokens);

}  // namespace codesign::requirement
