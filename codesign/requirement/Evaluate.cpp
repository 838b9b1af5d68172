#include "codesign/requirement/Evaluate.h"

#include <cstddef>
#include <optional>
#include <variant>
#include <vector>

#include "codesign/Status.h"
#include "codesign/Certificate.h"
#include "codesign/Digest.h"
#include "codesign/requirement/DerEntitlements.h"
#include "codesign/requirement/PropertyListReader.h"

namespace codesign::requirement {
namespace {

// What `anchor apple` asks of the certificate below the anchor and of the leaf.
constexpr std::string_view kAppleCodeSigningAuthority = "Apple Code Signing Certification Authority";
constexpr std::string_view kAppleOrganization = "Apple Inc.";
constexpr const char* kAppleSoftwareSigningExtension = "1.2.840.113635.100.6.22";

// The index in a chain of `count` certificates (leaf first) that a slot
// names, or nothing when the slot lies outside the chain.
std::optional<std::size_t> chainIndex(Slot slot, std::size_t count) {
  const std::int64_t index = slot >= 0 ? slot : static_cast<std::int64_t>(count) + slot;
  if (index < 0 || static_cast<std::uint64_t>(index) >= count) return std::nullopt;
  return static_cast<std::size_t>(index);
}

// A sealed property list, read on first use.
struct CachedPropertyList {
  bool read = false;
  OSStatus status = errSecSuccess;
  Value dictionary;
};

class Evaluator {
 public:
  explicit Evaluator(const RequirementSubject& subject)
      : _subject(subject), _certificates(subject.certificates.size()) {}

  // The parser makes every tree, no deeper than kMaxExpressionDepth, so
  // the recursion here is bounded where the tree was made.
  OSStatus evaluate(const Expression& expression, bool* satisfied) {
    *satisfied = false;
    return std::visit([&](const auto& node) { return evaluateNode(node, satisfied); }, expression.node);
  }

  // Walks down the `and`s of an unsatisfied expression, always into an
  // operand that is false, and stops at the first node that is no `and`.
  const Expression* falseClause(const Expression& expression) {
    const Expression* at = &expression;
    while (const And* node = std::get_if<And>(&at->node)) {
      bool left = false;
      if (evaluate(*node->left, &left) != errSecSuccess) break;
      at = left ? node->right.get() : node->left.get();
    }
    return at;
  }

 private:
  OSStatus evaluateNode(const Constant& node, bool* satisfied) {
    *satisfied = node.value;
    return errSecSuccess;
  }

  OSStatus evaluateNode(const Not& node, bool* satisfied) {
    bool operand = false;
    const OSStatus status = evaluate(*node.operand, &operand);
    *satisfied = status == errSecSuccess && !operand;
    return status;
  }

  OSStatus evaluateNode(const And& node, bool* satisfied) {
    return evaluateBoth(node.left, node.right, false, satisfied);
  }
  OSStatus evaluateNode(const Or& node, bool* satisfied) {
    return evaluateBoth(node.left, node.right, true, satisfied);
  }

  // Evaluates both operands whatever the first one says; `isOr` picks the
  // combination.
  OSStatus evaluateBoth(const ExpressionPtr& left, const ExpressionPtr& right, bool isOr,
                        bool* satisfied) {
    bool first = false;
    bool second = false;
    if (const OSStatus status = evaluate(*left, &first); status != errSecSuccess) return status;
    if (const OSStatus status = evaluate(*right, &second); status != errSecSuccess) return status;
    *satisfied = isOr ? (first || second) : (first && second);
    return errSecSuccess;
  }

  OSStatus evaluateNode(const Identifier& node, bool* satisfied) {
    *satisfied = _subject.identifier == node.identifier;
    return errSecSuccess;
  }

  OSStatus evaluateNode(const CodeDirectoryHash& node, bool* satisfied) {
    *satisfied = _subject.cdhash == node.hash;
    return errSecSuccess;
  }

  OSStatus evaluateNode(const Platform& node, bool* satisfied) {
    *satisfied = node.platform == _subject.platform;
    return errSecSuccess;
  }

  OSStatus evaluateNode(const Unprovable&, bool* satisfied) {
    *satisfied = false;
    return errSecSuccess;
  }

  // The verifier has matched the anchor against the pinned Apple roots.
  OSStatus evaluateNode(const AppleGenericAnchor&, bool* satisfied) {
    *satisfied = !_subject.certificates.empty() && _subject.anchorIsApple;
    return errSecSuccess;
  }

  // Apple's own software: an Apple chain through Apple's code-signing
  // authority to a leaf with Apple's software-signing extension.
  OSStatus evaluateNode(const AppleAnchor&, bool* satisfied) {
    *satisfied = false;
    const X509* authority = nullptr;
    const X509* leaf = nullptr;
    if (const OSStatus status = certificate(-2, &authority); status != errSecSuccess) return status;
    if (const OSStatus status = certificate(kLeafSlot, &leaf); status != errSecSuccess) return status;
    if (!_subject.anchorIsApple || authority == nullptr || leaf == nullptr) return errSecSuccess;
    std::optional<std::string> commonName;
    std::optional<std::string> organization;
    bool softwareSigning = false;
    if (const OSStatus status = subjectAttribute(*authority, "CN", Occurrence::last, &commonName); status != errSecSuccess) return status;
    if (const OSStatus status = subjectAttribute(*authority, "O", Occurrence::last, &organization); status != errSecSuccess) return status;
    if (const OSStatus status = hasExtension(*leaf, kAppleSoftwareSigningExtension, &softwareSigning);
        status != errSecSuccess) {
      return status;
    }
    *satisfied = commonName == kAppleCodeSigningAuthority && organization == kAppleOrganization &&
                 softwareSigning;
    return errSecSuccess;
  }

  // The SHA-1 of the certificate's DER encoding, as the chain carries it.
  OSStatus evaluateNode(const CertificateHash& node, bool* satisfied) {
    const std::optional<std::size_t> index = chainIndex(node.slot, _subject.certificates.size());
    *satisfied = index && sha1(_subject.certificates[*index]) == node.sha1;
    return errSecSuccess;
  }

  OSStatus evaluateNode(const CertificateField& node, bool* satisfied) {
    *satisfied = false;
    const X509* cert = nullptr;
    if (const OSStatus status = certificate(node.slot, &cert); status != errSecSuccess) return status;
    if (cert == nullptr) return errSecSuccess;  // no such certificate: every test fails
    if (node.kind == CertificateField::Kind::Subject) return subjectMatches(*cert, node, satisfied);
    if (node.kind == CertificateField::Kind::Timestamp) return dateMatches(*cert, node, satisfied);
    bool present = false;
    const OSStatus status = node.kind == CertificateField::Kind::Policy
                                ? hasPolicy(*cert, node.key, &present)
                                : hasExtension(*cert, node.key, &present);
    if (status != errSecSuccess) return status;
    *satisfied = matches(node.match, present ? Value::ofBoolean(true) : Value::null());
    return errSecSuccess;
  }

  // A subject without the attribute fails every match, `absent` included.
  OSStatus subjectMatches(const X509& cert, const CertificateField& node, bool* satisfied) {
    std::optional<std::string> attribute;
    if (const OSStatus status = subjectAttribute(cert, node.key, Occurrence::last, &attribute); status != errSecSuccess) {
      return status;
    }
    *satisfied = attribute && matches(node.match, Value::ofString(std::move(*attribute)));
    return errSecSuccess;
  }

  // The extension's value as a date; one that holds no date is present but
  // fails every date comparison.
  OSStatus dateMatches(const X509& cert, const CertificateField& node, bool* satisfied) {
    bool present = false;
    std::optional<std::int64_t> date;
    if (const OSStatus status = extensionDate(cert, node.key, &present, &date); status != errSecSuccess) return status;
    Value candidate = present ? Value::ofBoolean(true) : Value::null();
    if (date) candidate.type = Value::Type::Date, candidate.date = *date;
    *satisfied = matches(node.match, candidate);
    return errSecSuccess;
  }

  OSStatus evaluateNode(const PropertyListField& node, bool* satisfied) {
    *satisfied = false;
    const Value* dictionary = nullptr;
    if (const OSStatus status = propertyList(node.source, &dictionary); status != errSecSuccess) return status;
    const Value* candidate = dictionary != nullptr ? dictionary->find(node.key) : nullptr;
    *satisfied = matches(node.match, candidate != nullptr ? *candidate : Value::null());
    return errSecSuccess;
  }

  // The decoded certificate at the slot, or nullptr outside the chain.
  OSStatus certificate(Slot slot, const X509** out) {
    *out = nullptr;
    const std::optional<std::size_t> index = chainIndex(slot, _subject.certificates.size());
    if (!index) return errSecSuccess;
    ossl::Certificate& decoded = _certificates[*index];
    if (!decoded) decoded = decodeCertificate(_subject.certificates[*index]);
    // The verifier hands over only certificates it has decoded itself.
    if (!decoded) return errSecCSInternalError;
    *out = decoded.get();
    return errSecSuccess;
  }

  // The sealed property list's dictionary, or nullptr when none is sealed.
  OSStatus propertyList(PropertyListField::Source source, const Value** out) {
    *out = nullptr;
    const bool isInfo = source == PropertyListField::Source::InfoPlist;
    // The framework reads the DER entitlements when the signature seals both.
    const bool der = !isInfo && _subject.derEntitlements;
    const std::optional<Bytes>& data =
        isInfo ? _subject.infoPlist : der ? _subject.derEntitlements : _subject.entitlements;
    CachedPropertyList& cached = isInfo ? _infoPlist : _entitlements;
    if (!data) return errSecSuccess;
    if (!cached.read) {
      cached.status = der ? readDerEntitlements(*data, &cached.dictionary)
                          : readPropertyListDictionary(*data, &cached.dictionary);
      cached.read = true;
    }
    if (cached.status == errSecSuccess) *out = &cached.dictionary;
    return cached.status;
  }

  const RequirementSubject& _subject;
  std::vector<ossl::Certificate> _certificates;  // decoded on first use, by chain index
  CachedPropertyList _infoPlist;
  CachedPropertyList _entitlements;
};

}  // namespace

OSStatus evaluate(const Expression& expression, const RequirementSubject& subject, bool* satisfied) {
  return Evaluator(subject).evaluate(expression, satisfied);
}

const Expression* falseClause(const Expression& expression, const RequirementSubject& subject) {
  return Evaluator(subject).falseClause(expression);
}

}  // namespace codesign::requirement
