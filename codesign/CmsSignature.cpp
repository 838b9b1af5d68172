#include "codesign/CmsSignature.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include <openssl/err.h>

#include "codesign/CDHashesPlist.h"
#include "codesign/CmsSupport.h"
#include "codesign/FailureDetail.h"
#include "codesign/Status.h"
#include "codesign/Timestamp.h"

namespace codesign {
namespace {

constexpr const char* kCDHashesOid = "1.2.840.113635.100.9.1";
constexpr const char* kCDHashes2Oid = "1.2.840.113635.100.9.2";
constexpr const char* kTimestampTokenOid = "1.2.840.113549.1.9.16.2.14";
constexpr const char* kSigningTimeOid = "1.2.840.113549.1.9.5";
constexpr std::size_t kTruncatedCdhash = 20;

// The directories in ascending hash-type order, as the attributes list them.
std::vector<const CodeDirectory*> byHashType(std::span<const CodeDirectory* const> directories) {
  std::vector<const CodeDirectory*> sorted(directories.begin(), directories.end());
  std::ranges::sort(sorted, {}, &CodeDirectory::hashType);
  return sorted;
}

// The property-list attribute: exactly the truncated cdhash of every
// directory, in hash-type order.
bool cdhashesPlistMatches(X509_ATTRIBUTE* attribute, std::span<const CodeDirectory* const> directories) {
  const ASN1_TYPE* value = cms::singleValue(attribute);
  if (value == nullptr || value->type != V_ASN1_OCTET_STRING) return false;
  const auto text = cms::stringBytes(value->value.octet_string);
  std::vector<Bytes> listed;
  if (!parseCDHashesPlist(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()), &listed))
    return false;
  const auto sorted = byHashType(directories);
  if (listed.size() != sorted.size()) return false;
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    Bytes expected = fullCdhash(*sorted[i]);
    expected.resize(std::min(expected.size(), kTruncatedCdhash));
    if (expected.empty() || listed[i] != expected) return false;
  }
  return true;
}

// The hash type a CDHashes2 digest OID names.
HashType hashTypeOfDigest(const ASN1_OBJECT* oid) {
  switch (OBJ_obj2nid(oid)) {
    case NID_sha1: return HashType::sha1;
    case NID_sha256: return HashType::sha256;
    case NID_sha384: return HashType::sha384;
    default: return HashType::unknown;
  }
}

// One CDHashes2 value: SEQUENCE { digest OID, OCTET STRING full cdhash }.
bool cdhashes2Entry(const ASN1_TYPE* value, HashType* type, Bytes* hash) {
  if (value == nullptr || value->type != V_ASN1_SEQUENCE) return false;
  const auto der = cms::stringBytes(value->value.sequence);
  const unsigned char* p = der.data();
  const ossl::TypeStack items(d2i_ASN1_SEQUENCE_ANY(nullptr, &p, static_cast<long>(der.size())));
  if (!items || p != der.data() + der.size() || sk_ASN1_TYPE_num(items.get()) != 2) return false;
  const ASN1_TYPE* oid = sk_ASN1_TYPE_value(items.get(), 0);
  const ASN1_TYPE* octets = sk_ASN1_TYPE_value(items.get(), 1);
  if (oid->type != V_ASN1_OBJECT || octets->type != V_ASN1_OCTET_STRING) return false;
  *type = hashTypeOfDigest(oid->value.object);
  const auto bytes = cms::stringBytes(octets->value.octet_string);
  hash->assign(bytes.begin(), bytes.end());
  return true;
}

// The second attribute: one entry per directory, each equal to that
// directory's full cdhash. The directories' hash types differ and the
// entries number exactly the directories, so a digest named twice leaves a
// directory unmatched.
bool cdhashes2Matches(X509_ATTRIBUTE* attribute, std::span<const CodeDirectory* const> directories) {
  const int count = X509_ATTRIBUTE_count(attribute);
  if (count < 0 || static_cast<std::size_t>(count) != directories.size()) return false;
  std::vector<std::pair<HashType, Bytes>> entries;
  for (int i = 0; i < count; ++i) {
    std::pair<HashType, Bytes> entry;
    if (!cdhashes2Entry(X509_ATTRIBUTE_get0_type(attribute, i), &entry.first, &entry.second)) return false;
    entries.push_back(std::move(entry));
  }
  for (const CodeDirectory* cd : directories) {
    const HashType named = cd->hashType() == HashType::sha256Truncated ? HashType::sha256 : cd->hashType();
    const auto found = std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e.first == named; });
    if (found == entries.end() || found->second != fullCdhash(*cd)) return false;
  }
  return true;
}

// Alternate directories count only when the signed attributes bind them.
// Nothing when they do, otherwise what is wrong.
std::optional<std::string_view> unboundDirectories(CMS_SignerInfo* si, const CodeDirectory* signedDirectory,
                                                   std::span<const CodeDirectory* const> directories) {
  bool duplicated = false;
  X509_ATTRIBUTE* plist = cms::uniqueAttribute(si, kCDHashesOid, true, &duplicated);
  X509_ATTRIBUTE* list2 = cms::uniqueAttribute(si, kCDHashes2Oid, true, &duplicated);
  if (duplicated) return "a CDHashes attribute appears twice in the signature";
  // Unbound, only the signed directory itself counts: an alternate would
  // speak for the code with nothing signed behind it.
  if (plist == nullptr && list2 == nullptr) {
    if (directories.size() == 1 && directories[0] == signedDirectory) return std::nullopt;
    return "no CDHashes attribute binds the alternate CodeDirectories";
  }
  if (plist != nullptr && !cdhashesPlistMatches(plist, directories))
    return "the CDHashes attribute does not list the CodeDirectories' hashes";
  if (list2 != nullptr && !cdhashes2Matches(list2, directories))
    return "the CDHashes2 attribute does not list the CodeDirectories' hashes";
  return std::nullopt;
}

// The signature over the slot-0 directory and its signed attributes.
bool signatureMatches(CMS_ContentInfo* signedData, const cms::Signer& signer, const CodeDirectory& content) {
  if (!CMS_is_detached(signedData) || OBJ_obj2nid(CMS_get0_eContentType(signedData)) != NID_pkcs7_data ||
      CMS_signed_get_attr_count(signer.info) <= 0)
    return false;
  const auto bytes = content.blob().bytes();
  const ossl::Bio data(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
  // CMS_verify copies a memory BIO's content into one of its own, which it
  // leaks when the digests cannot be set up (an unknown digest algorithm);
  // behind a null filter it reads ours instead.
  const ossl::Bio filter(BIO_new(BIO_f_null()));
  if (!data || !filter) return false;
  BIO_push(filter.get(), data.get());
  const int verified = CMS_verify(signedData, signer.certificates.get(), nullptr, filter.get(), nullptr,
                                  CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY | CMS_NOINTERN);
  BIO_pop(filter.get());
  ERR_clear_error();
  return verified == 1;
}

std::optional<std::time_t> signingTime(CMS_SignerInfo* si, bool* duplicated) {
  const ASN1_TYPE* value = cms::singleValue(cms::uniqueAttribute(si, kSigningTimeOid, true, duplicated));
  if (value == nullptr || (value->type != V_ASN1_UTCTIME && value->type != V_ASN1_GENERALIZEDTIME))
    return std::nullopt;
  return cms::toTime(value->value.utctime);
}

OSStatus timestampOf(CMS_SignerInfo* si, AnchorPredicate isAnchor, std::optional<std::time_t>* out,
                     std::string* why) {
  bool duplicated = false;
  X509_ATTRIBUTE* attribute = cms::uniqueAttribute(si, kTimestampTokenOid, false, &duplicated);
  if (attribute == nullptr) return errSecSuccess;
  if (duplicated) return explain(why, errSecTimestampInvalid, "the timestamp attribute appears twice");
  std::time_t genTime = 0;
  const auto signature = cms::stringBytes(CMS_SignerInfo_get0_signature(si));
  if (const OSStatus status = verifyTimestamp(cms::singleValue(attribute), signature, isAnchor, &genTime, why))
    return status;
  *out = genTime;
  return errSecSuccess;
}

}  // namespace

Bytes fullCdhash(const CodeDirectory& cd) {
  const ossl::MD md = fetchDigest(cd.hashType());
  Bytes hash = digest(md.get(), cd.blob().bytes());
  // A truncated type's digest is only as long as the hashes it stores.
  hash.resize(std::min(hash.size(), storedHashSize(cd.hashType())));
  return hash;
}

OSStatus verifyCmsSignature(const CmsRequest& request, CmsEvidence* out, std::string* why) {
  *out = CmsEvidence{};
  const ossl::Cms signedData = cms::decodeSignedData(request.payload.bytes());
  cms::Signer signer;
  if (!signedData || !cms::soleSigner(signedData.get(), &signer))
    return explain(why, errSecCSSignatureFailed, "the CMS signature does not decode to one signer");
  if (!signatureMatches(signedData.get(), signer, *request.signedDirectory))
    return explain(why, errSecCSSignatureFailed, "the CMS signature does not match the CodeDirectory");
  if (const auto unbound = unboundDirectories(signer.info, request.signedDirectory, request.directories))
    return explain(why, errSecCSSignatureFailed, *unbound);
  bool duplicated = false;
  const auto signedAt = signingTime(signer.info, &duplicated);
  if (duplicated) return explain(why, errSecCSSignatureFailed, "the signing time attribute appears twice");
  if (const OSStatus status = timestampOf(signer.info, request.isAnchor, &out->timestamp, why)) return status;
  // Judged at the secure timestamp, else at the signer's claimed time, else
  // now; without a timestamp an expired chain still counts, marked expired.
  const std::time_t at = out->timestamp.value_or(signedAt.value_or(request.now));
  const ChainRequest chainRequest{signer.certificate, signer.certificates.get(), ChainPolicy::codeSigning, at,
                                  !out->timestamp.has_value(), request.isAnchor, request.anchorCertificates};
  if (const OSStatus status = verifyChain(chainRequest, &out->chain, why)) return status;
  if (out->chain.expired && request.expiryFatal)
    return explain(why, CSSMERR_TP_CERT_EXPIRED, "a certificate of the chain has expired and expiry is enforced");
  return errSecSuccess;
}

}  // namespace codesign
