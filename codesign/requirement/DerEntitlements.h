#pragma once

#include "codesign/CodeSigning.h"
#include "codesign/RequirementSubject.h"
#include "codesign/requirement/Value.h"

namespace codesign::requirement {

// Reads DER entitlements: [APPLICATION 16] { INTEGER 1, [CONTEXT 16] {
// SEQUENCE { UTF8String key, value } … } }, where a value is a BOOLEAN, an
// INTEGER, a UTF8String, a SEQUENCE (array) or a [CONTEXT 16] (dictionary).
// Returns 0 and the dictionary; errSecCSBadDictionaryFormat for anything
// else (trailing bytes, duplicate keys, other types, the property-list
// reader's size and depth limits exceeded).
OSStatus readDerEntitlements(const Bytes& der, Value* dictionary);

}  // namespace codesign::requirement
