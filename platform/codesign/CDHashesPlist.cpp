#include "platform/codesign/CDHashesPlist.h"

#include <cstdint>
#include <string>

namespace platform::codesign {
namespace {

constexpr std::size_t kMaxEntries = 16;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// One piece of the document: a tag (name, closing or not) or a run of text.
struct Token {
  enum Kind { open, close, empty, text } kind;
  std::string_view value;
};

// Reads the next token, skipping the declaration, the document type and
// comments. False at the end or on text that is not well-formed.
bool nextToken(std::string_view& rest, Token* out) {
  while (true) {
    while (!rest.empty() && isSpace(rest.front())) rest.remove_prefix(1);
    if (rest.empty()) return false;
    if (rest.front() != '<') {
      const std::size_t end = rest.find('<');
      if (end == std::string_view::npos) return false;
      *out = {Token::text, rest.substr(0, end)};
      rest.remove_prefix(end);
      return true;
    }
    const bool skip = rest.starts_with("<?") || rest.starts_with("<!");
    const std::size_t end = rest.starts_with("<!--") ? rest.find("-->") : rest.find('>');
    if (end == std::string_view::npos) return false;
    std::string_view tag = rest.substr(1, end - 1);
    rest.remove_prefix(end + 1);
    if (skip) continue;
    Token::Kind kind = Token::open;
    if (tag.starts_with('/')) kind = Token::close, tag.remove_prefix(1);
    else if (tag.ends_with('/')) kind = Token::empty, tag.remove_suffix(1);
    *out = {kind, tag.substr(0, tag.find(' '))};
    return true;
  }
}

bool expect(std::string_view& rest, Token::Kind kind, std::string_view name) {
  Token token{};
  return nextToken(rest, &token) && token.kind == kind && token.value == name;
}

// "<data>BASE64</data>" entries up to "</array>".
bool dataEntries(std::string_view& rest, std::vector<Bytes>* out) {
  while (true) {
    Token token{};
    if (!nextToken(rest, &token)) return false;
    if (token.kind == Token::close && token.value == "array") return true;
    if (token.kind != Token::open || token.value != "data" || out->size() >= kMaxEntries) return false;
    Token text{};
    std::string_view saved = rest;
    if (!nextToken(rest, &text)) return false;
    Bytes value;
    if (text.kind == Token::text) {
      if (!decodeBase64(text.value, &value)) return false;
    } else {
      rest = saved;  // an empty data element
    }
    if (!expect(rest, Token::close, "data")) return false;
    out->push_back(std::move(value));
  }
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

bool parseCDHashesPlist(std::string_view xml, std::vector<Bytes>* out) {
  out->clear();
  std::string_view rest = xml;
  Token token{};
  return expect(rest, Token::open, "plist") && expect(rest, Token::open, "dict") &&
         expect(rest, Token::open, "key") && nextToken(rest, &token) && token.kind == Token::text &&
         token.value == "cdhashes" && expect(rest, Token::close, "key") && expect(rest, Token::open, "array") &&
         dataEntries(rest, out) && expect(rest, Token::close, "dict") && expect(rest, Token::close, "plist") &&
         !nextToken(rest, &token);
}

}  // namespace platform::codesign
