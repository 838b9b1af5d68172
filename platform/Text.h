#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// The code points of UTF-8 text. Each byte that does not start a valid
// sequence (overlong forms, surrogates and values above U+10FFFF are not
// valid) reads as one U+FFFD.
std::u32string codePoints(std::string_view bytes);

// Appends the code point in UTF-8.
void appendUTF8(std::string& text, char32_t codePoint);

// The text with every byte sequence that is not valid UTF-8 replaced by
// U+FFFD, so that whatever a caller passes can be printed and serialised.
std::string validUTF8(std::string_view bytes);

// Lower case by the Unicode simple (one-to-one) lower-case mapping, the same
// in every locale and built in, so that no locale data is loaded.
std::string lowercaseString(std::string_view text);

// The element at the index, or the platform's range exception naming it.
const std::string& objectAtIndex(const std::vector<std::string>& list, std::size_t index);

}  // namespace platform
