#pragma once

#include "codesign/CodeSigning.h"
#include "codesign/RequirementSubject.h"
#include "codesign/requirement/Expression.h"

namespace codesign::requirement {

// Evaluates the expression against what a verified signature proves. Returns
// 0 and whether it is satisfied, or the status of the first construct that
// could not be evaluated (errSecCSBadDictionaryFormat for a sealed
// Info.plist that is not a dictionary). Both operands of every 'and' and 'or' are evaluated, so
// an error on either side is reported whatever the other side says.
OSStatus evaluate(const Expression& expression, const RequirementSubject& subject, bool* satisfied);

// The clause that makes an unsatisfied expression false: through each `and`
// the operand that is false (the left one when both are), anything else
// whole, so an `or` is named with all of its alternatives.
const Expression* falseClause(const Expression& expression, const RequirementSubject& subject);

}  // namespace codesign::requirement
