#include "verifier/Report.h"

#include <cstdio>

#include "platform/Text.h"
#include "codesign/StatusNames.h"

namespace verifier {
namespace {

// A JSON string: valid UTF-8 (bytes that are not become U+FFFD), with quote,
// backslash and control characters escaped.
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

}  // namespace

std::string statusText(codesign::OSStatus status) {
  const auto name = codesign::statusName(status);
  std::string text = std::to_string(status);
  if (name) text.append(" ").append(*name);
  return text;
}

std::string reportLine(const std::string& path, codesign::OSStatus status, bool json) {
  if (!json) return statusText(status);
  const auto name = codesign::statusName(status);
  return "{\"path\": " + jsonString(path) + ", \"status\": " + std::to_string(status) +
         ", \"name\": " + (name ? jsonString(std::string(*name)) : "null") + "}";
}

}  // namespace verifier
