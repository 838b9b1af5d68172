#pragma once

#include <vector>

#include "codesign/CodeSigning.h"
#include "codesign/requirement/Expression.h"
#include "codesign/requirement/Token.h"

namespace codesign::requirement {

// Builds the expression tree of one requirement from its tokens (the last
// one End). Returns 0 and the tree, or errSecCSReqInvalid for anything the
// grammar does not allow, a hash that is not 20 bytes, a number out of range,
// a malformed OID or date, or nesting deeper than kMaxExpressionDepth.
OSStatus parse(const std::vector<Token>& tokens, ExpressionPtr* expression);

}  // namespace codesign::requirement
