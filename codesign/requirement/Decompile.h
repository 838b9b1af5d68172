#pragma once

#include <string>

#include "codesign/CodeSigning.h"
#include "codesign/requirement/Expression.h"

namespace codesign::requirement {

// Writes an expression tree back as requirement text that compiles to the
// same tree: `and` binds tighter than `or`, both group to the left, and
// parentheses appear only where the tree differs from that. Returns 0 and the
// text, errSecCSReqUnsupported for a construct whose text the tree no longer
// holds (a named anchor or named requirement), or errSecCSReqInvalid for a
// tree no text could have made (too deep, a string the language cannot
// quote, a date outside the years 0 to 9999).
OSStatus decompile(const Expression& expression, std::string* text);

}  // namespace codesign::requirement
