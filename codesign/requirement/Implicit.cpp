#include "codesign/requirement/Implicit.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "codesign/Certificate.h"
#include "codesign/Digest.h"
#include "codesign/Status.h"

namespace codesign::requirement {
namespace {

constexpr const char* kDeveloperRelationsMarker = "1.2.840.113635.100.6.2.1";
constexpr const char* kDeveloperIDMarker = "1.2.840.113635.100.6.2.6";
constexpr const char* kDeveloperIDLeafMarker = "1.2.840.113635.100.6.1.13";

ExpressionPtr node(Node value, unsigned depth = 1) {
  return std::make_unique<Expression>(Expression{std::move(value), depth});
}

using Clauses = std::vector<ExpressionPtr>;

// The clauses joined by `and` from the left, so that the text needs no
// parentheses.
ExpressionPtr all(Clauses clauses) {
  ExpressionPtr joined = std::move(clauses.front());
  for (std::size_t i = 1; i < clauses.size(); ++i) {
    const unsigned depth = std::max(joined->depth, clauses[i]->depth) + 1;
    joined = node(And{std::move(joined), std::move(clauses[i])}, depth);
  }
  return joined;
}

ExpressionPtr fieldExists(Slot slot, const char* oid) {
  return node(CertificateField{slot, CertificateField::Kind::Extension, oid, Match{}});
}

ExpressionPtr subjectEquals(Slot slot, const char* name, std::string value) {
  return node(CertificateField{slot, CertificateField::Kind::Subject, name,
                               Match{MatchOperation::Equal, std::move(value), 0}});
}

// A subject attribute as a requirement compares it: the last of its type.
std::optional<std::string> subject(const Bytes& der, const char* name, Occurrence which = Occurrence::last) {
  const ossl::Certificate certificate = decodeCertificate(der);
  std::optional<std::string> value;
  if (!certificate || subjectAttribute(*certificate, name, which, &value) != errSecSuccess) return std::nullopt;
  return value;
}

OSStatus appleAnchored(const SignedCode& code, Clauses* out) {
  const auto& chain = code.certificates;
  const bool threeLinks = chain.size() == 3;
  if (threeLinks && hasExtension(chain[1], kDeveloperRelationsMarker)) {
    const auto name = subject(chain[0], "CN");
    if (!name) return errSecCSReqInvalid;
    out->push_back(node(AppleGenericAnchor{}));
    out->push_back(subjectEquals(kLeafSlot, "CN", *name));
    out->push_back(fieldExists(1, kDeveloperRelationsMarker));
  } else if (threeLinks && hasExtension(chain[1], kDeveloperIDMarker)) {
    const auto team = subject(chain[0], "OU");
    if (!team) return errSecCSReqInvalid;
    out->push_back(node(AppleGenericAnchor{}));
    out->push_back(fieldExists(1, kDeveloperIDMarker));
    out->push_back(fieldExists(kLeafSlot, kDeveloperIDLeafMarker));
    out->push_back(subjectEquals(kLeafSlot, "OU", *team));
  } else {
    out->push_back(node(AppleAnchor{}));
  }
  return errSecSuccess;
}

// Up from the leaf while the organization stays the leaf's; a leaf without
// one is named itself.
OSStatus otherAnchored(const SignedCode& code, Clauses* out) {
  const auto& chain = code.certificates;
  const auto organization = subject(chain[0], "O", Occurrence::first);
  std::size_t top = 0;
  while (organization && top + 1 < chain.size() && subject(chain[top + 1], "O", Occurrence::first) == organization)
    ++top;
  const Bytes hash = sha1(chain[top]);
  if (hash.empty()) return errSecCSInternalError;
  const Slot slot = organization && top + 1 == chain.size() ? kAnchorSlot : static_cast<Slot>(top);
  out->push_back(node(CertificateHash{slot, hash}));
  return errSecSuccess;
}

}  // namespace

OSStatus implicitDesignated(const SignedCode& code, ExpressionPtr* out) {
  if (code.certificates.empty()) {
    if (code.cdhash.empty()) return errSecCSReqInvalid;
    *out = node(CodeDirectoryHash{code.cdhash});
    return errSecSuccess;
  }
  Clauses clauses;
  clauses.push_back(node(Identifier{code.identifier}));
  const OSStatus status = code.appleRoot ? appleAnchored(code, &clauses) : otherAnchored(code, &clauses);
  if (status != errSecSuccess) return status;
  *out = all(std::move(clauses));
  return errSecSuccess;
}

}  // namespace codesign::requirement
