#include "verifier/Printable.h"

#include <cstdio>

#include "platform/Text.h"

namespace verifier {

std::string printable(const std::string& text) {
  std::string out;
  for (const char c : platform::validUTF8(text)) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t') || byte == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace verifier
