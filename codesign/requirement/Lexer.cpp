#include "codesign/requirement/Lexer.h"

#include <array>
#include <utility>

#include "codesign/Status.h"

namespace codesign::requirement {
namespace {

constexpr std::array<std::pair<std::string_view, TokenKind>, 29> kKeywords{{
    {"guest", TokenKind::Guest},         {"host", TokenKind::Host},
    {"designated", TokenKind::Designated}, {"library", TokenKind::Library},
    {"plugin", TokenKind::Plugin},       {"or", TokenKind::Or},
    {"and", TokenKind::And},             {"always", TokenKind::Always},
    {"true", TokenKind::True},           {"never", TokenKind::Never},
    {"false", TokenKind::False},         {"identifier", TokenKind::Identifier},
    {"cdhash", TokenKind::CDHash},       {"platform", TokenKind::Platform},
    {"notarized", TokenKind::Notarized}, {"legacy", TokenKind::Legacy},
    {"anchor", TokenKind::Anchor},       {"apple", TokenKind::Apple},
    {"generic", TokenKind::Generic},     {"certificate", TokenKind::Certificate},
    {"cert", TokenKind::Cert},           {"trusted", TokenKind::Trusted},
    {"info", TokenKind::Info},           {"entitlement", TokenKind::Entitlement},
    {"exists", TokenKind::Exists},       {"absent", TokenKind::Absent},
    {"leaf", TokenKind::Leaf},           {"root", TokenKind::Root},
    {"timestamp", TokenKind::Timestamp},
}};

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHexDigit(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Bytes the language allows inside strings and comments: UTF-8 lead and
// continuation bytes, never NUL, never the overlong leads 0xC0/0xC1 or the
// leads beyond U+10FFFF.
bool isTextByte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte != 0 && byte != 0xC0 && byte != 0xC1 && byte <= 0xF4;
}

TokenKind wordKind(std::string_view word) {
  for (const auto& [text, kind] : kKeywords) {
    if (text == word) return kind;
  }
  return TokenKind::DotKey;
}

// A cursor over the text; every read checks the position first.
class Lexer {
 public:
  explicit Lexer(std::string_view text) : _text(text) {}

  OSStatus run(std::vector<Token>* tokens) {
    for (;;) {
      if (const OSStatus status = skipSpaceAndComments(); status != errSecSuccess) return status;
      Token token;
      if (atEnd()) {
        tokens->push_back(std::move(token));
        return errSecSuccess;
      }
      if (const OSStatus status = next(&token); status != errSecSuccess) return status;
      tokens->push_back(std::move(token));
    }
  }

 private:
  bool atEnd() const { return _pos >= _text.size(); }
  char peek(std::size_t ahead = 0) const {
    return ahead < _text.size() - _pos ? _text[_pos + ahead] : '\0';
  }

  OSStatus next(Token* token) {
    const char c = peek();
    if (c == 'H' && peek(1) == '"') return lexHash(token);
    if (isLetter(c)) return lexWord(token);
    if (c == '0' && peek(1) == 'x') return lexHexData(token);
    if (isDigit(c)) return lexInteger(token);
    if (c == '"') {
      token->kind = TokenKind::String;
      return lexQuoted(&token->text);
    }
    return lexPunctuation(token);
  }

  OSStatus skipSpaceAndComments() {
    while (!atEnd()) {
      const char c = peek();
      if (c == ' ' || c == '\t' || c == '\n') {
        ++_pos;
      } else if (c == '#' || (c == '/' && peek(1) == '/')) {
        if (const OSStatus status = skipLineComment(); status != errSecSuccess) return status;
      } else if (c == '/' && peek(1) == '*') {
        if (const OSStatus status = skipBlockComment(); status != errSecSuccess) return status;
      } else {
        break;
      }
    }
    return errSecSuccess;
  }

  OSStatus skipLineComment() {
    while (!atEnd() && peek() != '\n') {
      if (!isTextByte(peek())) return errSecCSReqInvalid;
      ++_pos;
    }
    return errSecSuccess;
  }

  OSStatus skipBlockComment() {
    _pos += 2;
    while (!atEnd()) {
      if (peek() == '*' && peek(1) == '/') {
        _pos += 2;
        return errSecSuccess;
      }
      if (!isTextByte(peek())) return errSecCSReqInvalid;
      ++_pos;
    }
    return errSecCSReqInvalid;  // unterminated
  }

  // IDENT, or IDENT followed by .IDENT and .DIGITS parts; a reserved word
  // when the whole text is one. Called on a letter.
  OSStatus lexWord(Token* token) {
    const std::size_t start = _pos;
    skipWhile(isAlphanumeric);
    while (peek() == '.') {
      ++_pos;
      if (isLetter(peek())) {
        skipWhile(isAlphanumeric);
      } else if (isDigit(peek())) {
        skipWhile(isDigit);
      } else {
        return errSecCSReqInvalid;  // a dot must be followed by a part
      }
    }
    const std::string_view word = _text.substr(start, _pos - start);
    token->kind = wordKind(word);
    if (token->kind == TokenKind::DotKey) token->text = word;
    return errSecSuccess;
  }

  static bool isAlphanumeric(char c) { return isLetter(c) || isDigit(c); }

  template <typename Predicate>
  void skipWhile(Predicate accepted) {
    while (!atEnd() && accepted(peek())) ++_pos;
  }

  // The text between double quotes; \" is the only escape.
  OSStatus lexQuoted(std::string* text) {
    ++_pos;
    while (!atEnd()) {
      const char c = peek();
      if (c == '"') {
        ++_pos;
        return errSecSuccess;
      }
      if (c == '\\') {
        if (peek(1) != '"') return errSecCSReqInvalid;
        text->push_back('"');
        _pos += 2;
        continue;
      }
      if (!isTextByte(c)) return errSecCSReqInvalid;
      text->push_back(c);
      ++_pos;
    }
    return errSecCSReqInvalid;  // unterminated
  }

  OSStatus lexHash(Token* token) {
    ++_pos;  // the H
    token->kind = TokenKind::Hash;
    if (const OSStatus status = lexQuoted(&token->text); status != errSecSuccess) return status;
    return isEvenHex(token->text) ? errSecSuccess : errSecCSReqInvalid;
  }

  OSStatus lexHexData(Token* token) {
    _pos += 2;  // 0x
    const std::size_t start = _pos;
    while (!atEnd() && isHexDigit(peek())) ++_pos;
    token->kind = TokenKind::HexData;
    token->text = _text.substr(start, _pos - start);
    return isEvenHex(token->text) ? errSecSuccess : errSecCSReqInvalid;
  }

  static bool isEvenHex(std::string_view digits) {
    if (digits.empty() || digits.size() % 2 != 0) return false;
    for (const char c : digits) {
      if (!isHexDigit(c)) return false;
    }
    return true;
  }

  OSStatus lexInteger(Token* token) {
    const std::size_t start = _pos;
    while (!atEnd() && isDigit(peek())) ++_pos;
    token->kind = TokenKind::Integer;
    token->text = _text.substr(start, _pos - start);
    return errSecSuccess;
  }

  OSStatus lexPunctuation(Token* token) {
    const char c = peek();
    const bool equalFollows = peek(1) == '=';
    std::size_t length = 1;
    switch (c) {
      case '=':  // "=>" of requirement sets is two tokens no clause accepts
        token->kind = equalFollows ? TokenKind::EqualEqual : TokenKind::Equal;
        length = equalFollows ? 2 : 1;
        break;
      case '<':
        token->kind = equalFollows ? TokenKind::LessEqual : TokenKind::Less;
        length = equalFollows ? 2 : 1;
        break;
      case '>':
        token->kind = equalFollows ? TokenKind::GreaterEqual : TokenKind::Greater;
        length = equalFollows ? 2 : 1;
        break;
      default:
        return lexSingleMark(c, token);
    }
    _pos += length;
    return errSecSuccess;
  }

  OSStatus lexSingleMark(char c, Token* token) {
    static constexpr std::array<std::pair<char, TokenKind>, 10> kMarks{{
        {';', TokenKind::Semicolon}, {'(', TokenKind::LeftParen},
        {')', TokenKind::RightParen}, {'[', TokenKind::LeftBracket},
        {']', TokenKind::RightBracket}, {',', TokenKind::Comma},
        {'~', TokenKind::Tilde}, {'-', TokenKind::Minus},
        {'!', TokenKind::Bang}, {'*', TokenKind::Star},
    }};
    for (const auto& [mark, kind] : kMarks) {
      if (mark == c) {
        token->kind = kind;
        ++_pos;
        return errSecSuccess;
      }
    }
    return errSecCSReqInvalid;  // carriage return, a lone '/', and every other byte
  }

  std::string_view _text;
  std::size_t _pos = 0;
};

}  // namespace

OSStatus tokenize(std::string_view text, std::vector<Token>* tokens) {
  tokens->clear();
  if (text.size() > kMaxRequirementText) return errSecCSReqInvalid;
  return Lexer(text).run(tokens);
}

}  // namespace codesign::requirement
