#pragma once

#include "codesign/ByteReader.h"
#include "codesign/CodeSigning.h"
#include "codesign/requirement/Expression.h"

namespace codesign::requirement {

// Reads one compiled requirement blob (magic 0xfade0c00, big-endian, the
// expression in prefix order) into the tree the text compiler makes.
// Returns 0 and the tree; errSecCSReqUnsupported for a kind other than the
// expression form; errSecCSUnimplemented for an opcode this engine does not
// know (flagged ones included: a tree that skipped them would misstate the
// blob); errSecCSReqInvalid for anything malformed: a wrong magic or length,
// an operand past the end, bytes left over, a hash not 20 bytes, a bad OID,
// or nesting deeper than kMaxExpressionDepth.
OSStatus readRequirementBlob(const ByteReader& blob, ExpressionPtr* expression);

}  // namespace codesign::requirement
