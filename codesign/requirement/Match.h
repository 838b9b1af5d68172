#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "codesign/requirement/Value.h"

namespace codesign::requirement {

enum class MatchOperation {
  Exists, Absent,
  Equal, Contains, BeginsWith, EndsWith,              // string value
  LessThan, GreaterThan, LessEqual, GreaterEqual,     // string value, numeric order
  On, Before, After, OnOrBefore, OnOrAfter,           // date value
};

// The test applied to a candidate value: `exists`, `= "v"*`, `>= timestamp …`.
struct Match {
  MatchOperation operation = MatchOperation::Exists;
  std::string value;       // the string (or hex data bytes) compared with
  std::int64_t date = 0;   // the date compared with, seconds since 1970
};

// True when the candidate satisfies the match. Null satisfies only Absent; an
// array satisfies a match when any of its elements does, and otherwise is
// tested as itself.
bool matches(const Match& match, const Value& candidate);

// Orders two strings the way numeric string comparison does: runs of digits
// compare by their value ("9" < "10", "1.9" < "1.10"), every other byte by
// its code. Negative, zero or positive, as memcmp.
int compareNumerically(std::string_view a, std::string_view b);

}  // namespace codesign::requirement
