#include "codesign/Base64.h"

#include <cstdint>

namespace codesign {
namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

bool decodeBase64(std::string_view text, Bytes* out) {
  out->clear();
  std::uint32_t accumulator = 0;
  int bits = 0, padding = 0;
  for (const char c : text) {
    if (isSpace(c)) continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    const int value = base64Value(c);
    if (value < 0 || padding > 0) return false;
    accumulator = (accumulator << 6) | static_cast<std::uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out->push_back(static_cast<std::uint8_t>(accumulator >> bits));
      accumulator &= (1u << bits) - 1;
    }
  }
  // Leftover bits must be zero padding, and '=' must fill the last quantum.
  return accumulator == 0 && padding <= 2 && (bits == 0 ? padding == 0 : bits / 2 == padding);
}

}  // namespace codesign
