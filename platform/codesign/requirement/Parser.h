#pragma once

#include <vector>

#include "platform/codesign/CodeSigning.h"
#include "platform/codesign/requirement/Expression.h"
#include "platform/codesign/requirement/Token.h"

namespace platform::codesign::requirement {

// Builds the expression tree of one requirement from its tokens (the last
// one End). Returns 0 and the tree, or errSecCSReqInvalid for anything the
// grammar does not allow, a hash that is not 20 bytes, a number out of range,
// a malformed OID or date, or nesting deeper than kMaxExpressionDepth.
OSStatus parse(const std::vector<Token>& tokens, ExpressionPtr* expression);

}  // namespace platform::codesign::requirement
