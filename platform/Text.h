#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The text with every byte sequence that is not valid UTF-8 replaced by
// U+FFFD, so that whatever a caller passes can be printed and serialised.
std::string validUTF8(std::string_view bytes);

// Lower case with the locale-independent mapping of ASCII letters; other
// characters stay as they are.
std::string lowercaseString(std::string_view text);

// The element at the index, or the platform's range exception naming it.
const std::string& objectAtIndex(const std::vector<std::string>& list, std::size_t index);

}  // namespace platform
