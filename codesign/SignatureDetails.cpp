#include "codesign/SignatureDetails.h"

#include <openssl/err.h>

#include "codesign/Certificate.h"
#include "codesign/CmsSupport.h"
#include "codesign/Limits.h"
#include "codesign/Status.h"
#include "codesign/Timestamp.h"

namespace codesign {
namespace {

constexpr const char* kTimestampTokenOid = "1.2.840.113549.1.9.16.2.14";
constexpr const char* kSigningTimeOid = "1.2.840.113549.1.9.5";

bool issued(X509* issuer, X509* subject) { return X509_check_issued(issuer, subject) == X509_V_OK; }

// The certificate of `pool` not yet taken that issued `subject`, or null.
X509* issuerIn(STACK_OF(X509)* pool, X509* subject, std::vector<bool>& taken) {
  for (int i = 0; i < sk_X509_num(pool); ++i) {
    X509* candidate = sk_X509_value(pool, i);
    if (!taken[static_cast<std::size_t>(i)] && issued(candidate, subject)) {
      taken[static_cast<std::size_t>(i)] = true;
      return candidate;
    }
  }
  return nullptr;
}

bool appendDer(X509* certificate, std::vector<Bytes>* out) {
  Bytes der;
  if (!encodeCertificate(certificate, &der)) return false;
  out->push_back(std::move(der));
  return true;
}

// Appends the one of `roots` that issued `top`, if any: a root the signer left out.
void appendRootOf(X509* top, std::span<const Bytes> roots, std::vector<Bytes>* out) {
  for (const Bytes& root : roots) {
    const ossl::Certificate candidate = decodeCertificate(root);
    if (candidate && issued(candidate.get(), top)) {
      out->push_back(root);
      return;
    }
  }
}

// The signer's certificate, then its issuer among those carried, and so on
// up to a self-issued one; every certificate is used once at most.
void chainFrom(const cms::Signer& signer, std::span<const Bytes> roots, std::vector<Bytes>* out) {
  std::vector<bool> taken(static_cast<std::size_t>(sk_X509_num(signer.certificates.get())), false);
  X509* current = signer.certificate;
  while (out->size() < limits::kMaxCertificates && appendDer(current, out)) {
    if (issued(current, current)) return;
    X509* next = issuerIn(signer.certificates.get(), current, taken);
    if (next == nullptr) return appendRootOf(current, roots, out);
    current = next;
  }
}

std::optional<std::time_t> signingTime(CMS_SignerInfo* si) {
  bool duplicated = false;
  const ASN1_TYPE* value = cms::singleValue(cms::uniqueAttribute(si, kSigningTimeOid, true, &duplicated));
  if (duplicated || value == nullptr || (value->type != V_ASN1_UTCTIME && value->type != V_ASN1_GENERALIZEDTIME))
    return std::nullopt;
  return cms::toTime(value->value.utctime);
}

std::optional<std::time_t> timestampTime(CMS_SignerInfo* si) {
  bool duplicated = false;
  X509_ATTRIBUTE* attribute = cms::uniqueAttribute(si, kTimestampTokenOid, false, &duplicated);
  if (attribute == nullptr || duplicated) return std::nullopt;
  return timestampTokenTime(cms::singleValue(attribute));
}

}  // namespace

OSStatus readSignatureDetails(std::span<const std::uint8_t> payload, std::span<const Bytes> roots,
                              SignatureDetails* out) {
  *out = SignatureDetails{};
  const ossl::Cms signedData = cms::decodeSignedData(payload);
  cms::Signer signer;
  if (!signedData || !cms::soleSigner(signedData.get(), &signer)) return errSecCSSignatureFailed;
  chainFrom(signer, roots, &out->certificates);
  out->signingTime = signingTime(signer.info);
  out->timestamp = timestampTime(signer.info);
  ERR_clear_error();
  return errSecSuccess;
}

std::optional<std::string> commonName(const Bytes& der) {
  const ossl::Certificate certificate = decodeCertificate(der);
  std::optional<std::string> name;
  if (!certificate || subjectAttribute(*certificate, "CN", Occurrence::last, &name) != errSecSuccess)
    return std::nullopt;
  return name;
}

}  // namespace codesign
