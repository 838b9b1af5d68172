#include "platform/Text.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "platform/Exception.h"
#include "platform/Format.h"

namespace platform {
namespace {

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

struct Sequence {
  char32_t codePoint;
  std::size_t length;  // 0: not a valid sequence
};

// The valid UTF-8 sequence at the start of the text, if there is one.
Sequence sequenceAt(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) return {lead, 1};
  std::size_t length = 0;
  char32_t minimum = 0;
  char32_t value = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, minimum = 0x80, value = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, minimum = 0x800, value = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, minimum = 0x10000, value = lead & 0x07;
  } else {
    return {0, 0};
  }
  if (text.size() < length) return {0, 0};
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (!isContinuation(byte)) return {0, 0};
    value = (value << 6) | (byte & 0x3F);
  }
  const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
  if (value < minimum || value > 0x10FFFF || surrogate) return {0, 0};
  return {value, length};
}

// Code points first..last, every stride-th, map to themselves plus delta.
struct LowercaseRun {
  char32_t first;
  char32_t last;
  std::uint32_t stride;
  std::int32_t delta;
};

constexpr LowercaseRun kLowercaseRuns[] = {
#include "platform/SimpleLowercaseTable.inc"
};

char32_t lowercase(char32_t codePoint) {
  // The last run that starts at or before the code point.
  const auto after = std::upper_bound(std::begin(kLowercaseRuns), std::end(kLowercaseRuns), codePoint,
                                      [](char32_t value, const LowercaseRun& run) { return value < run.first; });
  if (after == std::begin(kLowercaseRuns)) return codePoint;
  const LowercaseRun& run = *std::prev(after);
  if (codePoint > run.last || (codePoint - run.first) % run.stride != 0) return codePoint;
  return static_cast<char32_t>(static_cast<std::int64_t>(codePoint) + run.delta);
}

}  // namespace

std::u32string codePoints(std::string_view bytes) {
  std::u32string result;
  while (!bytes.empty()) {
    const Sequence sequence = sequenceAt(bytes);
    result += sequence.length == 0 ? kReplacementCharacter : sequence.codePoint;
    bytes.remove_prefix(std::max<std::size_t>(sequence.length, 1));
  }
  return result;
}

void appendUTF8(std::string& text, char32_t codePoint) {
  if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) codePoint = kReplacementCharacter;
  const auto byte = [&](std::uint32_t value) { text += static_cast<char>(value); };
  if (codePoint < 0x80) {
    byte(codePoint);
  } else if (codePoint < 0x800) {
    byte(0xC0 | (codePoint >> 6)), byte(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    byte(0xE0 | (codePoint >> 12)), byte(0x80 | ((codePoint >> 6) & 0x3F)), byte(0x80 | (codePoint & 0x3F));
  } else {
    byte(0xF0 | (codePoint >> 18)), byte(0x80 | ((codePoint >> 12) & 0x3F));
    byte(0x80 | ((codePoint >> 6) & 0x3F)), byte(0x80 | (codePoint & 0x3F));
  }
}

std::string validUTF8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (char32_t codePoint : codePoints(bytes)) appendUTF8(text, codePoint);
  return text;
}

std::string lowercaseString(std::string_view text) {
  std::string lower;
  lower.reserve(text.size());
  for (char32_t codePoint : codePoints(text)) appendUTF8(lower, lowercase(codePoint));
  return lower;
}

const std::string& objectAtIndex(const std::vector<std::string>& list, std::size_t index) {
  if (index >= list.size()) {
    if (list.empty()) raise(kRangeException, format("index %d beyond bounds for empty array", index));
    raise(kRangeException, format("index %d beyond bounds [0 .. %d]", index, list.size() - 1));
  }
  return list[index];
}

}  // namespace platform
