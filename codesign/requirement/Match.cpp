#include "codesign/requirement/Match.h"

#include <cstddef>

namespace codesign::requirement {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The digit run starting at pos, without its leading zeros; pos moves past it.
std::string_view digitRun(std::string_view text, std::size_t* pos) {
  std::size_t start = *pos;
  while (*pos < text.size() && isDigit(text[*pos])) ++*pos;
  while (start + 1 < *pos && text[start] == '0') ++start;
  return text.substr(start, *pos - start);
}

// -1, 0 or 1 as a lies below, at or above b.
template <typename T>
int sign(T a, T b) {
  return (a > b) - (a < b);
}

int compareDigitRuns(std::string_view a, std::string_view b) {
  if (const int bySize = sign(a.size(), b.size())) return bySize;
  return sign(a.compare(b), 0);
}

bool matchesString(const Match& match, const std::string& text) {
  const std::string& v = match.value;
  switch (match.operation) {
    case MatchOperation::Equal: return text == v;
    case MatchOperation::Contains: return text.find(v) != std::string::npos;
    case MatchOperation::BeginsWith: return text.size() >= v.size() && text.compare(0, v.size(), v) == 0;
    case MatchOperation::EndsWith:
      return text.size() >= v.size() && text.compare(text.size() - v.size(), v.size(), v) == 0;
    case MatchOperation::LessThan: return compareNumerically(text, v) < 0;
    case MatchOperation::GreaterThan: return compareNumerically(text, v) > 0;
    case MatchOperation::LessEqual: return compareNumerically(text, v) <= 0;
    case MatchOperation::GreaterEqual: return compareNumerically(text, v) >= 0;
    default: return false;
  }
}

bool matchesDate(const Match& match, std::int64_t date) {
  switch (match.operation) {
    case MatchOperation::On: return date == match.date;
    case MatchOperation::Before: return date < match.date;
    case MatchOperation::After: return date > match.date;
    case MatchOperation::OnOrBefore: return date <= match.date;
    case MatchOperation::OnOrAfter: return date >= match.date;
    default: return false;
  }
}

bool anyItemMatches(const Match& match, const Value& array) {
  for (const Value& item : array.items) {
    if (matches(match, item)) return true;
  }
  return false;
}

}  // namespace

int compareNumerically(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      const int order = compareDigitRuns(digitRun(a, &i), digitRun(b, &j));
      if (order != 0) return order;
      continue;
    }
    const auto x = static_cast<unsigned char>(a[i++]), y = static_cast<unsigned char>(b[j++]);
    if (const int order = sign(x, y)) return order;
  }
  if (i < a.size()) return 1;
  return j < b.size() ? -1 : 0;
}

bool matches(const Match& match, const Value& candidate) {
  if (candidate.type == Value::Type::Null) return match.operation == MatchOperation::Absent;
  if (candidate.type == Value::Type::Array && anyItemMatches(match, candidate)) return true;
  switch (match.operation) {
    case MatchOperation::Exists:
      return candidate.type != Value::Type::Boolean || candidate.boolean;
    case MatchOperation::Absent:
      return false;
    case MatchOperation::On:
    case MatchOperation::Before:
    case MatchOperation::After:
    case MatchOperation::OnOrBefore:
    case MatchOperation::OnOrAfter:
      return candidate.type == Value::Type::Date && matchesDate(match, candidate.date);
    default:
      return candidate.type == Value::Type::String && matchesString(match, candidate.text);
  }
}

}  // namespace codesign::requirement
