#include "codesign/requirement/Parser.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>

#include "codesign/Status.h"
#include "codesign/requirement/Date.h"

namespace codesign::requirement {
namespace {

constexpr std::size_t kHashLength = 20;

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;  // the lexer let only hex digits through
}

// The bytes of an even run of hex digits (checked by the lexer).
std::string hexBytes(std::string_view digits) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
    bytes.push_back(static_cast<char>(hexValue(digits[i]) * 16 + hexValue(digits[i + 1])));
  }
  return bytes;
}

// A decimal number that fits in 32 bits, or nothing.
std::optional<std::int32_t> decimal(std::string_view digits) {
  std::int64_t value = 0;
  for (const char c : digits) {
    value = value * 10 + (c - '0');
    if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  }
  return static_cast<std::int32_t>(value);
}

// A dotted OID of at least two arcs, each a canonical decimal number of at
// most 19 digits, the first arc 0, 1 or 2 and, below 2, the second under 40.
bool isDottedOID(std::string_view text) {
  std::size_t arcs = 0;
  std::int64_t first = 0;
  for (std::size_t start = 0; start <= text.size(); ++arcs) {
    const std::size_t end = std::min(text.find('.', start), text.size());
    const std::string_view arc = text.substr(start, end - start);
    if (arc.empty() || arc.size() > 19 || (arc.size() > 1 && arc[0] == '0')) return false;
    if (!std::all_of(arc.begin(), arc.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
    if (arcs == 0) {
      first = arc[0] - '0';
      if (arc.size() > 1 || first > 2) return false;
    } else if (arcs == 1 && first < 2 && (arc.size() > 2 || decimal(arc).value_or(40) >= 40)) {
      return false;
    }
    start = end + 1;
  }
  return arcs >= 2;
}

class Parser {
 public:
  explicit Parser(const std::vector<Token>& tokens) : _tokens(tokens) {}

  OSStatus requirement(ExpressionPtr* expression) {
    if (_tokens.empty()) return errSecCSReqInvalid;
    if (const OSStatus status = orExpression(expression); status != errSecSuccess) return status;
    while (accept(TokenKind::Semicolon)) {
    }
    return peek().kind == TokenKind::End ? errSecSuccess : errSecCSReqInvalid;
  }

 private:
  // Token access: the position never passes the final End token.
  const Token& peek(std::size_t ahead = 0) const {
    return _tokens[std::min(_pos + ahead, _tokens.size() - 1)];
  }
  const Token& take() {
    const Token& token = peek();
    ++_pos;  // past the End token too: peek stays on it
    return token;
  }
  bool accept(TokenKind kind) {
    if (peek().kind != kind) return false;
    take();
    return true;
  }
  OSStatus expect(TokenKind kind) { return accept(kind) ? errSecSuccess : errSecCSReqInvalid; }
  bool acceptEquals() { return accept(TokenKind::Equal) || accept(TokenKind::EqualEqual); }

  // Nodes are made here only, so that each one's depth is checked.
  static OSStatus make(Node node, unsigned depth, ExpressionPtr* out) {
    if (depth > kMaxExpressionDepth) return errSecCSReqInvalid;
    *out = std::make_unique<Expression>(Expression{std::move(node), depth});
    return errSecSuccess;
  }
  static OSStatus leaf(Node node, ExpressionPtr* out) { return make(std::move(node), 1, out); }

  template <typename Operator>
  static OSStatus binary(ExpressionPtr left, ExpressionPtr right, ExpressionPtr* out) {
    const unsigned depth = std::max(left->depth, right->depth) + 1;
    return make(Operator{std::move(left), std::move(right)}, depth, out);
  }

  // expr := term { 'or' term } and term := unary { 'and' unary }: both
  // left-associative, so "a and b and c" is and(and(a, b), c).
  OSStatus orExpression(ExpressionPtr* out) {
    return chain<Or>(TokenKind::Or, &Parser::andExpression, out);
  }
  OSStatus andExpression(ExpressionPtr* out) {
    return chain<And>(TokenKind::And, &Parser::unary, out);
  }

  template <typename Operator>
  OSStatus chain(TokenKind separator, OSStatus (Parser::*operand)(ExpressionPtr*), ExpressionPtr* out) {
    if (const OSStatus status = (this->*operand)(out); status != errSecSuccess) return status;
    while (accept(separator)) {
      ExpressionPtr right;
      if (const OSStatus status = (this->*operand)(&right); status != errSecSuccess) return status;
      if (const OSStatus status = binary<Operator>(std::move(*out), std::move(right), out);
          status != errSecSuccess) {
        return status;
      }
    }
    return errSecSuccess;
  }

  // The only two places that recurse ('!' and '(') pass through here, so the
  // nesting counter bounds the parser's stack before any node exists.
  OSStatus unary(ExpressionPtr* out) {
    if (++_nesting > kMaxExpressionDepth) return errSecCSReqInvalid;
    const OSStatus status = accept(TokenKind::Bang) ? negation(out) : primary(out);
    --_nesting;
    return status;
  }

  OSStatus negation(ExpressionPtr* out) {
    ExpressionPtr operand;
    if (const OSStatus status = unary(&operand); status != errSecSuccess) return status;
    const unsigned depth = operand->depth + 1;
    return make(Not{std::move(operand)}, depth, out);
  }

  OSStatus primary(ExpressionPtr* out) {
    switch (take().kind) {
      case TokenKind::LeftParen: return parenthesis(out);
      case TokenKind::Always:
      case TokenKind::True: return leaf(Constant{true}, out);
      case TokenKind::Never:
      case TokenKind::False: return leaf(Constant{false}, out);
      case TokenKind::Anchor: return anchor(out);
      case TokenKind::Certificate:
      case TokenKind::Cert: return certificate(out);
      case TokenKind::Info: return propertyListField(PropertyListField::Source::InfoPlist, out);
      case TokenKind::Entitlement:
        return propertyListField(PropertyListField::Source::Entitlements, out);
      case TokenKind::Identifier: return identifier(out);
      case TokenKind::CDHash: return cdhash(out);
      case TokenKind::Platform: return platform(out);
      case TokenKind::Notarized: return leaf(Unprovable{"notarized"}, out);
      case TokenKind::Legacy: return leaf(Unprovable{"legacy"}, out);
      default: return errSecCSReqInvalid;
    }
  }

  // '(' expr ')', or '(' string ')' naming a requirement built into the platform.
  OSStatus parenthesis(ExpressionPtr* out) {
    if (isString(peek().kind)) {
      take();
      if (const OSStatus status = expect(TokenKind::RightParen); status != errSecSuccess) return status;
      return leaf(Unprovable{"named requirement"}, out);
    }
    if (const OSStatus status = orExpression(out); status != errSecSuccess) return status;
    return expect(TokenKind::RightParen);
  }

  static bool isString(TokenKind kind) { return kind == TokenKind::String || kind == TokenKind::DotKey; }

  OSStatus string(std::string* text) {
    if (!isString(peek().kind)) return errSecCSReqInvalid;
    *text = take().text;
    return errSecSuccess;
  }

  OSStatus hash(Bytes* bytes) {
    if (peek().kind != TokenKind::Hash || peek().text.size() != 2 * kHashLength) return errSecCSReqInvalid;
    const std::string raw = hexBytes(take().text);
    bytes->assign(raw.begin(), raw.end());
    return errSecSuccess;
  }

  OSStatus identifier(ExpressionPtr* out) {
    acceptEquals();
    Identifier node;
    if (const OSStatus status = string(&node.identifier); status != errSecSuccess) return status;
    return leaf(std::move(node), out);
  }

  OSStatus cdhash(ExpressionPtr* out) {
    acceptEquals();
    CodeDirectoryHash node;
    if (const OSStatus status = hash(&node.hash); status != errSecSuccess) return status;
    return leaf(std::move(node), out);
  }

  OSStatus platform(ExpressionPtr* out) {
    acceptEquals();
    if (peek().kind != TokenKind::Integer) return errSecCSReqInvalid;
    const std::optional<std::int32_t> value = decimal(take().text);
    if (!value) return errSecCSReqInvalid;
    return leaf(Platform{*value}, out);
  }

  // After 'anchor': apple [generic | name], generic apple, trusted, or a
  // certificate test of the anchor.
  OSStatus anchor(ExpressionPtr* out) {
    if (accept(TokenKind::Apple)) {
      if (accept(TokenKind::Generic)) return leaf(AppleGenericAnchor{}, out);
      if (!isString(peek().kind)) return leaf(AppleAnchor{}, out);
      take();
      return leaf(Unprovable{"named anchor"}, out);
    }
    if (accept(TokenKind::Generic)) {
      if (const OSStatus status = expect(TokenKind::Apple); status != errSecSuccess) return status;
      return leaf(AppleGenericAnchor{}, out);
    }
    if (accept(TokenKind::Trusted)) return leaf(Unprovable{"trusted"}, out);
    return certificateTest(kAnchorSlot, out);
  }

  // After 'certificate' or 'cert': trusted, or a slot and then trusted or a test.
  OSStatus certificate(ExpressionPtr* out) {
    if (accept(TokenKind::Trusted)) return leaf(Unprovable{"trusted"}, out);
    Slot position = 0;
    if (const OSStatus status = slot(&position); status != errSecSuccess) return status;
    if (accept(TokenKind::Trusted)) return leaf(Unprovable{"trusted"}, out);
    return certificateTest(position, out);
  }

  OSStatus slot(Slot* position) {
    if (accept(TokenKind::Leaf)) {
      *position = kLeafSlot;
      return errSecSuccess;
    }
    if (accept(TokenKind::Root)) {
      *position = kAnchorSlot;
      return errSecSuccess;
    }
    const bool negative = accept(TokenKind::Minus);
    if (peek().kind != TokenKind::Integer) return errSecCSReqInvalid;
    const std::optional<std::int32_t> value = decimal(take().text);
    if (!value) return errSecCSReqInvalid;
    *position = negative ? -*value : *value;
    return errSecSuccess;
  }

  // '[' key ']' match, or [eq] H"…". A certificate named by a file path or
  // string would make compiling read a file; that is refused.
  OSStatus certificateTest(Slot position, ExpressionPtr* out) {
    if (accept(TokenKind::LeftBracket)) return certificateField(position, out);
    acceptEquals();
    CertificateHash node{position, {}};
    if (const OSStatus status = hash(&node.sha1); status != errSecSuccess) return status;
    return leaf(std::move(node), out);
  }

  OSStatus certificateField(Slot position, ExpressionPtr* out) {
    std::string key;
    if (const OSStatus status = string(&key); status != errSecSuccess) return status;
    CertificateField node{position, CertificateField::Kind::Extension, {}, {}};
    if (!certificateKey(key, &node)) return errSecCSReqInvalid;
    if (const OSStatus status = expect(TokenKind::RightBracket); status != errSecSuccess) return status;
    if (const OSStatus status = match(&node.match); status != errSecSuccess) return status;
    return leaf(std::move(node), out);
  }

  static bool certificateKey(std::string_view key, CertificateField* node) {
    static constexpr std::pair<std::string_view, CertificateField::Kind> kPrefixes[] = {
        {"field.", CertificateField::Kind::Extension},
        {"extension.", CertificateField::Kind::Extension},
        {"policy.", CertificateField::Kind::Policy},
        {"timestamp.", CertificateField::Kind::Timestamp},
    };
    if (key.substr(0, 8) == "subject.") {
      node->kind = CertificateField::Kind::Subject;
      node->key = key.substr(8);
      return true;
    }
    for (const auto& [prefix, kind] : kPrefixes) {
      if (key.substr(0, prefix.size()) != prefix) continue;
      node->kind = kind;
      node->key = key.substr(prefix.size());
      return isDottedOID(node->key);
    }
    return false;
  }

  OSStatus propertyListField(PropertyListField::Source source, ExpressionPtr* out) {
    PropertyListField node{source, {}, {}};
    if (const OSStatus status = expect(TokenKind::LeftBracket); status != errSecSuccess) return status;
    if (const OSStatus status = string(&node.key); status != errSecSuccess) return status;
    if (const OSStatus status = expect(TokenKind::RightBracket); status != errSecSuccess) return status;
    if (const OSStatus status = match(&node.match); status != errSecSuccess) return status;
    return leaf(std::move(node), out);
  }

  // match := [exists] | absent | eq [*] value [*] | eq timestamp S | ~ value
  //        | (< > <= >=) value | (< > <= >=) timestamp S
  OSStatus match(Match* m) {
    const TokenKind kind = peek().kind;
    if (accept(TokenKind::Absent)) {
      m->operation = MatchOperation::Absent;
      return errSecSuccess;
    }
    if (accept(TokenKind::Equal) || accept(TokenKind::EqualEqual)) return equality(m);
    if (accept(TokenKind::Tilde)) {
      m->operation = MatchOperation::Contains;
      return value(&m->value);
    }
    if (accept(TokenKind::Less) || accept(TokenKind::Greater) || accept(TokenKind::LessEqual) ||
        accept(TokenKind::GreaterEqual)) {
      return ordering(kind, m);
    }
    accept(TokenKind::Exists);
    m->operation = MatchOperation::Exists;
    return errSecSuccess;
  }

  OSStatus equality(Match* m) {
    if (accept(TokenKind::Timestamp)) {
      m->operation = MatchOperation::On;
      return date(&m->date);
    }
    const bool leadingStar = accept(TokenKind::Star);
    if (const OSStatus status = value(&m->value); status != errSecSuccess) return status;
    const bool trailingStar = accept(TokenKind::Star);
    if (leadingStar) {
      m->operation = trailingStar ? MatchOperation::Contains : MatchOperation::EndsWith;
    } else {
      m->operation = trailingStar ? MatchOperation::BeginsWith : MatchOperation::Equal;
    }
    return errSecSuccess;
  }

  OSStatus ordering(TokenKind kind, Match* m) {
    const bool isDate = accept(TokenKind::Timestamp);
    switch (kind) {
      case TokenKind::Less:
        m->operation = isDate ? MatchOperation::Before : MatchOperation::LessThan;
        break;
      case TokenKind::Greater:
        m->operation = isDate ? MatchOperation::After : MatchOperation::GreaterThan;
        break;
      case TokenKind::LessEqual:
        m->operation = isDate ? MatchOperation::OnOrBefore : MatchOperation::LessEqual;
        break;
      default:
        m->operation = isDate ? MatchOperation::OnOrAfter : MatchOperation::GreaterEqual;
        break;
    }
    return isDate ? date(&m->date) : value(&m->value);
  }

  // value := string | 0x hex data (compared as the bytes it spells).
  OSStatus value(std::string* text) {
    if (peek().kind == TokenKind::HexData) {
      *text = hexBytes(take().text);
      return errSecSuccess;
    }
    return string(text);
  }

  OSStatus date(std::int64_t* seconds) {
    if (peek().kind != TokenKind::String) return errSecCSReqInvalid;
    const std::optional<std::int64_t> parsed = parseGeneralizedTime(take().text);
    if (!parsed) return errSecCSReqInvalid;
    *seconds = *parsed;
    return errSecSuccess;
  }

  const std::vector<Token>& _tokens;
  std::size_t _pos = 0;
  unsigned _nesting = 0;
};

}  // namespace

OSStatus parse(const std::vector<Token>& tokens, ExpressionPtr* expression) {
  expression->reset();
  ExpressionPtr result;
  if (const OSStatus status = Parser(tokens).requirement(&result); status != errSecSuccess) {
    return status;
  }
  *expression = std::move(result);
  return errSecSuccess;
}

}  // namespace codesign::requirement
