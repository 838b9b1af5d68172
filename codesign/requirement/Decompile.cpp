#include "codesign/requirement/Decompile.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>
#include <string>
#include <utility>
#include <variant>

#include "codesign/Digest.h"
#include "codesign/Status.h"
#include "codesign/requirement/Date.h"

namespace codesign::requirement {
namespace {

constexpr std::string_view kKeywords[] = {
    "guest", "host", "designated", "library", "plugin", "or", "and", "always", "true", "never",
    "false", "identifier", "cdhash", "platform", "notarized", "legacy", "anchor", "apple",
    "generic", "certificate", "cert", "trusted", "info", "entitlement", "exists", "absent",
    "leaf", "root", "timestamp",
};

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isKeyword(std::string_view word) {
  for (const std::string_view keyword : kKeywords) {
    if (keyword == word) return true;
  }
  return false;
}

// A word the lexer reads as one bare name: a letter, then letters and digits.
bool isPlainName(std::string_view text) {
  if (text.empty() || !isLetter(text[0])) return false;
  for (const char c : text) {
    if (!isLetter(c) && !isDigit(c)) return false;
  }
  return !isKeyword(text);
}

// A name, then any number of '.' and a name or digits: com.example.app.
bool isDotKey(std::string_view text) {
  if (text.empty() || !isLetter(text[0]) || text.back() == '.' || isKeyword(text)) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' && (i + 1 == text.size() || text[i + 1] == '.')) return false;
    if (c != '.' && !isLetter(c) && !isDigit(c)) return false;
  }
  return true;
}

// Whether every byte can stand inside quotes: no NUL, no byte the lexer
// refuses, and no backslash, whose only escape is the one of the quote.
bool isQuotable(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == 0 || byte == 0xC0 || byte == 0xC1 || byte > 0xF4 || c == '\\') return false;
  }
  return true;
}

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

class Decompiler {
 public:
  explicit Decompiler(std::string* out) : _out(*out) {}

  // `context` is the operator the expression stands under, which decides
  // whether it needs parentheses to keep its place in the tree.
  enum class Context { Top, OrLeft, OrRight, AndLeft, AndRight, Not };

  OSStatus expression(const Expression& e, Context context) {
    if (++_depth > kMaxExpressionDepth) return errSecCSReqInvalid;
    const bool grouped = needsParentheses(e.node, context);
    if (grouped) _out += '(';
    const OSStatus status = std::visit([this](const auto& node) { return write(node); }, e.node);
    if (grouped) _out += ')';
    --_depth;
    return status;
  }

 private:
  // `or` may stand only at the top or as the left of another `or`; `and`
  // anywhere but under `!`, or as the right operand of another `and`.
  static bool needsParentheses(const Node& node, Context context) {
    if (std::holds_alternative<Or>(node)) return context != Context::Top && context != Context::OrLeft;
    if (std::holds_alternative<And>(node)) {
      return context == Context::AndRight || context == Context::Not;
    }
    return false;
  }

  OSStatus write(const Constant& node) {
    _out += node.value ? "always" : "never";
    return errSecSuccess;
  }
  OSStatus write(const Not& node) {
    _out += '!';
    return expression(*node.operand, Context::Not);
  }
  OSStatus write(const And& node) { return binary(node.left, " and ", node.right, Context::AndLeft, Context::AndRight); }
  OSStatus write(const Or& node) { return binary(node.left, " or ", node.right, Context::OrLeft, Context::OrRight); }

  OSStatus binary(const ExpressionPtr& left, std::string_view word, const ExpressionPtr& right,
                  Context leftContext, Context rightContext) {
    if (const OSStatus status = expression(*left, leftContext); status != errSecSuccess) return status;
    _out += word;
    return expression(*right, rightContext);
  }

  OSStatus write(const Identifier& node) {
    _out += "identifier ";
    return string(node.identifier);
  }
  OSStatus write(const CodeDirectoryHash& node) {
    _out += "cdhash ";
    return hash(node.hash);
  }
  // The language has no negative platform, and no slot below -INT32_MAX.
  OSStatus write(const Platform& node) {
    if (node.platform < 0) return errSecCSReqInvalid;
    _out += "platform " + std::to_string(node.platform);
    return errSecSuccess;
  }
  OSStatus write(const AppleAnchor&) {
    _out += "anchor apple";
    return errSecSuccess;
  }
  OSStatus write(const AppleGenericAnchor&) {
    _out += "anchor apple generic";
    return errSecSuccess;
  }
  OSStatus write(const CertificateHash& node) {
    if (const OSStatus status = certificate(node.slot); status != errSecSuccess) return status;
    _out += " = ";
    return hash(node.sha1);
  }

  OSStatus write(const CertificateField& node) {
    if (const OSStatus status = certificate(node.slot); status != errSecSuccess) return status;
    std::string key;
    switch (node.kind) {
      case CertificateField::Kind::Extension: key = "field."; break;
      case CertificateField::Kind::Policy: key = "policy."; break;
      case CertificateField::Kind::Subject: key = "subject."; break;
      case CertificateField::Kind::Timestamp: key = "timestamp."; break;
    }
    if (const OSStatus status = bracketed(key + node.key); status != errSecSuccess) return status;
    return match(node.match);
  }

  OSStatus write(const PropertyListField& node) {
    _out += node.source == PropertyListField::Source::InfoPlist ? "info" : "entitlement";
    if (const OSStatus status = bracketed(node.key); status != errSecSuccess) return status;
    return match(node.match);
  }

  // The tree keeps only which construct it was; the three that need nothing
  // more are written back, and the named ones cannot be.
  OSStatus write(const Unprovable& node) {
    const std::string_view construct = node.construct;
    if (construct == "notarized" || construct == "legacy") {
      _out += construct;
      return errSecSuccess;
    }
    if (construct == "trusted") {
      _out += "certificate trusted";
      return errSecSuccess;
    }
    return errSecCSReqUnsupported;
  }

  OSStatus certificate(Slot slot) {
    if (slot == std::numeric_limits<Slot>::min()) return errSecCSReqInvalid;
    _out += "certificate ";
    if (slot == kLeafSlot) {
      _out += "leaf";
    } else if (slot == kAnchorSlot) {
      _out += "root";
    } else {
      _out += std::to_string(slot);
    }
    return errSecSuccess;
  }

  OSStatus bracketed(std::string_view key) {
    _out += '[';
    if (isDotKey(key)) {
      _out += key;
    } else if (isQuotable(key)) {
      _out += quoted(key);
    } else {
      return errSecCSReqInvalid;
    }
    _out += ']';
    return errSecSuccess;
  }

  OSStatus string(std::string_view text) {
    if (isPlainName(text)) {
      _out += text;
    } else if (isQuotable(text)) {
      _out += quoted(text);
    } else {
      return errSecCSReqInvalid;
    }
    return errSecSuccess;
  }

  // A compared value the quotes cannot carry is written as the bytes it is.
  void value(std::string_view text) {
    if (isQuotable(text)) {
      string(text);
    } else {
      _out += "0x" + hexDigits({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    }
  }

  OSStatus hash(const Bytes& bytes) {
    _out += "H\"" + hexDigits(bytes) + "\"";
    return errSecSuccess;
  }

  OSStatus match(const Match& m) {
    switch (m.operation) {
      case MatchOperation::Exists: _out += " /* exists */"; return errSecSuccess;
      case MatchOperation::Absent: _out += " absent"; return errSecSuccess;
      case MatchOperation::Equal: return compared(" = ", m.value, "");
      case MatchOperation::Contains: return compared(" ~ ", m.value, "");
      case MatchOperation::BeginsWith: return compared(" = ", m.value, "*");
      case MatchOperation::EndsWith: return compared(" = *", m.value, "");
      case MatchOperation::LessThan: return compared(" < ", m.value, "");
      case MatchOperation::GreaterThan: return compared(" > ", m.value, "");
      case MatchOperation::LessEqual: return compared(" <= ", m.value, "");
      case MatchOperation::GreaterEqual: return compared(" >= ", m.value, "");
      case MatchOperation::On: return dated(" = ", m.date);
      case MatchOperation::Before: return dated(" < ", m.date);
      case MatchOperation::After: return dated(" > ", m.date);
      case MatchOperation::OnOrBefore: return dated(" <= ", m.date);
      case MatchOperation::OnOrAfter: return dated(" >= ", m.date);
    }
    return errSecCSReqInvalid;
  }

  OSStatus compared(std::string_view before, std::string_view text, std::string_view after) {
    _out += before;
    value(text);
    _out += after;
    return errSecSuccess;
  }

  OSStatus dated(std::string_view operation, std::int64_t seconds) {
    const std::optional<std::string> date = formatGeneralizedTime(seconds);
    if (!date) return errSecCSReqInvalid;
    _out += operation;
    _out += "timestamp \"" + *date + "\"";
    return errSecSuccess;
  }

  std::string& _out;
  unsigned _depth = 0;
};

}  // namespace

OSStatus decompile(const Expression& expression, std::string* text) {
  std::string out;
  if (const OSStatus status = Decompiler(&out).expression(expression, Decompiler::Context::Top);
      status != errSecSuccess) {
    return status;
  }
  *text = std::move(out);
  return errSecSuccess;
}

}  // namespace codesign::requirement
