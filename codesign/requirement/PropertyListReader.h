#pragma once

#include <cstddef>

#include "codesign/CodeSigning.h"
#include "codesign/RequirementSubject.h"
#include "codesign/requirement/Value.h"

namespace codesign::requirement {

// The largest sealed property list read, and the deepest nesting of arrays
// and dictionaries in it.
inline constexpr std::size_t kMaxPropertyListSize = 1024 * 1024;
inline constexpr unsigned kMaxPropertyListDepth = 64;

// Reads an XML property list whose top-level value is a dictionary. Returns 0
// and the dictionary; errSecCSUnimplemented for a binary property list;
// errSecCSBadDictionaryFormat for anything else: malformed XML, unknown
// elements, duplicate keys, a top-level value that is not a dictionary, or
// more than the limits above.
OSStatus readPropertyListDictionary(const Bytes& data, Value* dictionary);

}  // namespace codesign::requirement
