#include "platform/Text.h"

#include <cstdint>

#include "platform/Exception.h"
#include "platform/Format.h"

namespace platform {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length of the valid UTF-8 sequence at the start of the text, or 0.
// Overlong forms, surrogates and values above U+10FFFF are not valid.
std::size_t validSequenceLength(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  std::uint32_t minimum = 0;
  std::uint32_t value = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, minimum = 0x80, value = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, minimum = 0x800, value = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, minimum = 0x10000, value = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (!isContinuation(byte)) return 0;
    value = (value << 6) | (byte & 0x3F);
  }
  const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
  if (value < minimum || value > 0x10FFFF || surrogate) return 0;
  return length;
}

}  // namespace

std::string validUTF8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  while (!bytes.empty()) {
    const std::size_t length = validSequenceLength(bytes);
    if (length == 0) {
      text += kReplacementCharacter;
      bytes.remove_prefix(1);
    } else {
      text += bytes.substr(0, length);
      bytes.remove_prefix(length);
    }
  }
  return text;
}

std::string lowercaseString(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
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
