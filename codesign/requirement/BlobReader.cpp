#include "codesign/requirement/BlobReader.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <memory>
#include <span>
#include <limits>
#include <string>
#include <utility>

#include "codesign/Status.h"

namespace codesign::requirement {
namespace {

constexpr std::uint32_t kRequirementMagic = 0xfade0c00;
constexpr std::uint32_t kExpressionKind = 1;
constexpr std::uint64_t kHeaderSize = 12;  // magic, length, kind
constexpr std::size_t kHashLength = 20;
constexpr std::int64_t kSecondsFrom1970To2001 = 978307200;

enum Opcode : std::uint32_t {
  opFalse, opTrue, opIdent, opAppleAnchor, opAnchorHash, opInfoKeyValue, opAnd, opOr, opCDHash,
  opNot, opInfoKeyField, opCertField, opTrustedCert, opTrustedCerts, opCertGeneric,
  opAppleGenericAnchor, opEntitlementField, opCertPolicy, opNamedAnchor, opNamedCode, opPlatform,
  opNotarized, opCertFieldDate, opLegacyDevID,
};

// Dotted text of an OID's DER content octets: base-128 arcs, the first
// holding the first two. Empty for a malformed encoding or an arc that would
// not fit the text's 19 digits.
std::string dottedOID(std::span<const std::uint8_t> der) {
  std::string text;
  std::uint64_t arc = 0;
  bool first = true;
  for (std::size_t i = 0; i < der.size(); ++i) {
    if (arc == 0 && der[i] == 0x80) return {};  // a padded arc is not DER
    if (arc > (std::uint64_t{std::numeric_limits<std::int64_t>::max()} >> 7)) return {};
    arc = (arc << 7) | (der[i] & 0x7F);
    if (der[i] & 0x80) continue;
    if (first) {
      const std::uint64_t top = std::min<std::uint64_t>(arc / 40, 2);
      text = std::to_string(top) + "." + std::to_string(arc - top * 40);
      first = false;
    } else {
      text += "." + std::to_string(arc);
    }
    arc = 0;
  }
  if (der.empty() || (der.back() & 0x80)) return {};
  return text;
}

class BlobReader {
 public:
  explicit BlobReader(const ByteReader& program) : _program(program) {}

  OSStatus expression(ExpressionPtr* out) {
    if (++_nesting > kMaxExpressionDepth) return errSecCSReqInvalid;
    const OSStatus status = operation(out);
    --_nesting;
    return status;
  }

  bool atEnd() const { return _offset == _program.size(); }

 private:
  static OSStatus make(Node node, unsigned depth, ExpressionPtr* out) {
    if (depth > kMaxExpressionDepth) return errSecCSReqInvalid;
    *out = std::make_unique<Expression>(Expression{std::move(node), depth});
    return errSecSuccess;
  }
  static OSStatus leaf(Node node, ExpressionPtr* out) { return make(std::move(node), 1, out); }

  OSStatus operation(ExpressionPtr* out) {
    std::uint32_t opcode = 0;
    if (!u32(&opcode)) return errSecCSReqInvalid;
    switch (opcode) {
      case opFalse: return leaf(Constant{false}, out);
      case opTrue: return leaf(Constant{true}, out);
      case opIdent: return identifier(out);
      case opAppleAnchor: return leaf(AppleAnchor{}, out);
      case opAnchorHash: return certificateHash(out);
      case opInfoKeyValue: return legacyInfoValue(out);
      case opAnd: return binary<And>(out);
      case opOr: return binary<Or>(out);
      case opCDHash: return cdhash(out);
      case opNot: return negation(out);
      case opInfoKeyField: return propertyListField(PropertyListField::Source::InfoPlist, out);
      case opCertField: return subjectField(out);
      case opTrustedCert: return trustedCertificate(out);
      case opTrustedCerts: return leaf(Unprovable{"trusted"}, out);
      case opCertGeneric: return oidField(CertificateField::Kind::Extension, out);
      case opAppleGenericAnchor: return leaf(AppleGenericAnchor{}, out);
      case opEntitlementField: return propertyListField(PropertyListField::Source::Entitlements, out);
      case opCertPolicy: return oidField(CertificateField::Kind::Policy, out);
      case opNamedAnchor: return named("named anchor", out);
      case opNamedCode: return named("named requirement", out);
      case opPlatform: return platform(out);
      case opNotarized: return leaf(Unprovable{"notarized"}, out);
      case opCertFieldDate: return oidField(CertificateField::Kind::Timestamp, out);
      case opLegacyDevID: return leaf(Unprovable{"legacy"}, out);
      default: return errSecCSUnimplemented;
    }
  }

  template <typename Operator>
  OSStatus binary(ExpressionPtr* out) {
    ExpressionPtr left, right;
    if (const OSStatus status = expression(&left); status != errSecSuccess) return status;
    if (const OSStatus status = expression(&right); status != errSecSuccess) return status;
    const unsigned depth = std::max(left->depth, right->depth) + 1;
    return make(Operator{std::move(left), std::move(right)}, depth, out);
  }

  OSStatus negation(ExpressionPtr* out) {
    ExpressionPtr operand;
    if (const OSStatus status = expression(&operand); status != errSecSuccess) return status;
    const unsigned depth = operand->depth + 1;
    return make(Not{std::move(operand)}, depth, out);
  }

  OSStatus identifier(ExpressionPtr* out) {
    Identifier node;
    if (!data(&node.identifier)) return errSecCSReqInvalid;
    return leaf(std::move(node), out);
  }

  OSStatus cdhash(ExpressionPtr* out) {
    CodeDirectoryHash node;
    if (!hash(&node.hash)) return errSecCSReqInvalid;
    return leaf(std::move(node), out);
  }

  OSStatus certificateHash(ExpressionPtr* out) {
    CertificateHash node{};
    if (!slot(&node.slot) || !hash(&node.sha1)) return errSecCSReqInvalid;
    return leaf(std::move(node), out);
  }

  OSStatus trustedCertificate(ExpressionPtr* out) {
    Slot position = 0;
    if (!slot(&position)) return errSecCSReqInvalid;
    return leaf(Unprovable{"trusted"}, out);
  }

  OSStatus named(const char* construct, ExpressionPtr* out) {
    std::string name;
    if (!data(&name)) return errSecCSReqInvalid;
    return leaf(Unprovable{construct}, out);
  }

  OSStatus platform(ExpressionPtr* out) {
    std::uint32_t value = 0;
    if (!u32(&value)) return errSecCSReqInvalid;
    return leaf(Platform{static_cast<std::int32_t>(value)}, out);
  }

  // The old form of info [key] = "value".
  OSStatus legacyInfoValue(ExpressionPtr* out) {
    PropertyListField node{PropertyListField::Source::InfoPlist, {}, {}};
    node.match.operation = MatchOperation::Equal;
    if (!data(&node.key) || !data(&node.match.value)) return errSecCSReqInvalid;
    return leaf(std::move(node), out);
  }

  OSStatus propertyListField(PropertyListField::Source source, ExpressionPtr* out) {
    PropertyListField node{source, {}, {}};
    if (!data(&node.key)) return errSecCSReqInvalid;
    if (const OSStatus status = match(&node.match); status != errSecSuccess) return status;
    return leaf(std::move(node), out);
  }

  // The key is written whole, "subject.OU"; only subject keys are compiled here.
  OSStatus subjectField(ExpressionPtr* out) {
    CertificateField node{0, CertificateField::Kind::Subject, {}, {}};
    std::string key;
    if (!slot(&node.slot) || !data(&key) || key.rfind("subject.", 0) != 0) return errSecCSReqInvalid;
    node.key = key.substr(8);
    if (const OSStatus status = match(&node.match); status != errSecSuccess) return status;
    return leaf(std::move(node), out);
  }

  OSStatus oidField(CertificateField::Kind kind, ExpressionPtr* out) {
    CertificateField node{0, kind, {}, {}};
    std::string der;
    if (!slot(&node.slot) || !data(&der)) return errSecCSReqInvalid;
    node.key = dottedOID({reinterpret_cast<const std::uint8_t*>(der.data()), der.size()});
    if (node.key.empty()) return errSecCSReqInvalid;
    if (const OSStatus status = match(&node.match); status != errSecSuccess) return status;
    return leaf(std::move(node), out);
  }

  OSStatus match(Match* m) {
    std::uint32_t operation = 0;
    if (!u32(&operation)) return errSecCSReqInvalid;
    static constexpr MatchOperation kOperations[] = {
        MatchOperation::Exists, MatchOperation::Equal, MatchOperation::Contains,
        MatchOperation::BeginsWith, MatchOperation::EndsWith, MatchOperation::LessThan,
        MatchOperation::GreaterThan, MatchOperation::LessEqual, MatchOperation::GreaterEqual,
        MatchOperation::On, MatchOperation::Before, MatchOperation::After,
        MatchOperation::OnOrBefore, MatchOperation::OnOrAfter, MatchOperation::Absent,
    };
    if (operation >= std::size(kOperations)) return errSecCSUnimplemented;
    m->operation = kOperations[operation];
    if (operation == 0 || operation == 14) return errSecSuccess;
    if (operation <= 8) return data(&m->value) ? errSecSuccess : errSecCSReqInvalid;
    return date(&m->date) ? errSecSuccess : errSecCSReqInvalid;
  }

  // Operand reads: each checks that it fits before moving on.
  bool u32(std::uint32_t* value) {
    if (!_program.u32be(_offset, value)) return false;
    _offset += 4;
    return true;
  }
  bool slot(Slot* position) {
    std::uint32_t raw = 0;
    if (!u32(&raw)) return false;
    *position = static_cast<Slot>(raw);
    return true;
  }
  // Seconds since 2001, kept only where the move to 1970 cannot overflow.
  bool date(std::int64_t* seconds) {
    std::uint64_t raw = 0;
    if (!_program.u64(_offset, ByteOrder::big, &raw)) return false;
    _offset += 8;
    const auto since2001 = static_cast<std::int64_t>(raw);
    if (since2001 > std::numeric_limits<std::int64_t>::max() - kSecondsFrom1970To2001) return false;
    *seconds = since2001 + kSecondsFrom1970To2001;
    return true;
  }
  // u32 length, the bytes, zeros up to a multiple of 4.
  bool data(std::string* bytes) {
    std::uint32_t length = 0;
    ByteReader view;
    if (!u32(&length) || !_program.sub(_offset, length, &view)) return false;
    const std::uint64_t padded = (std::uint64_t{length} + 3) & ~std::uint64_t{3};
    if (!inRange(_offset, padded, _program.size())) return false;
    bytes->assign(reinterpret_cast<const char*>(view.bytes().data()), view.bytes().size());
    _offset += padded;
    return true;
  }
  bool hash(Bytes* bytes) {
    std::string raw;
    if (!data(&raw) || raw.size() != kHashLength) return false;
    bytes->assign(raw.begin(), raw.end());
    return true;
  }

  const ByteReader& _program;
  std::uint64_t _offset = 0;
  unsigned _nesting = 0;
};

}  // namespace

OSStatus readRequirementBlob(const ByteReader& blob, ExpressionPtr* expression) {
  expression->reset();
  std::uint32_t magic = 0, length = 0, kind = 0;
  if (!blob.u32be(0, &magic) || !blob.u32be(4, &length) || !blob.u32be(8, &kind) ||
      magic != kRequirementMagic || length != blob.size() || length < kHeaderSize) {
    return errSecCSReqInvalid;
  }
  if (kind != kExpressionKind) return errSecCSReqUnsupported;
  ByteReader program;
  if (!blob.tail(kHeaderSize, &program)) return errSecCSReqInvalid;
  BlobReader reader(program);
  ExpressionPtr result;
  if (const OSStatus status = reader.expression(&result); status != errSecSuccess) return status;
  if (!reader.atEnd()) return errSecCSReqInvalid;
  *expression = std::move(result);
  return errSecSuccess;
}

}  // namespace codesign::requirement
