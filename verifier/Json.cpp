#include "verifier/Json.h"

#include <cstdio>

#include "platform/Text.h"

namespace verifier {

std::string jsonString(const std::string& bytes) {
  std::string out = "\"";
  for (const char c : platform::validUTF8(bytes)) {
    if (c == '"' || c == '\\') {
      out += {'\\', c};
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace verifier
