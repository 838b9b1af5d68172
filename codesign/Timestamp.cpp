#include "codesign/Timestamp.h"

#include <algorithm>

#include <openssl/err.h>

#include "codesign/CmsSupport.h"
#include "codesign/Digest.h"
#include "codesign/FailureDetail.h"
#include "codesign/Status.h"

namespace codesign {
namespace {

ossl::TstInfo tstInfo(CMS_ContentInfo* token) {
  if (OBJ_obj2nid(CMS_get0_eContentType(token)) != NID_id_smime_ct_TSTInfo) return nullptr;
  ASN1_OCTET_STRING** content = CMS_get0_content(token);
  if (content == nullptr || *content == nullptr) return nullptr;
  const auto bytes = cms::stringBytes(*content);
  const unsigned char* p = bytes.data();
  return ossl::TstInfo(d2i_TS_TST_INFO(nullptr, &p, static_cast<long>(bytes.size())));
}

// The imprint is a digest of the code signature's own signature value.
bool imprintMatches(TS_TST_INFO* info, std::span<const std::uint8_t> signatureValue) {
  TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(info);
  const ASN1_OBJECT* algorithm = nullptr;
  X509_ALGOR_get0(&algorithm, nullptr, nullptr, TS_MSG_IMPRINT_get_algo(imprint));
  const EVP_MD* md = algorithm ? EVP_get_digestbyobj(algorithm) : nullptr;
  const Bytes expected = digest(md, signatureValue);
  const auto stored = cms::stringBytes(TS_MSG_IMPRINT_get_msg(imprint));
  return !expected.empty() && std::equal(expected.begin(), expected.end(), stored.begin(), stored.end());
}

}  // namespace

OSStatus verifyTimestamp(const ASN1_TYPE* token, std::span<const std::uint8_t> signatureValue,
                         AnchorPredicate isAnchor, std::time_t* genTime, std::string* why) {
  if (token == nullptr || token->type != V_ASN1_SEQUENCE)
    return explain(why, errSecTimestampInvalid, "the timestamp is not a single token");
  const ossl::Cms signedData = cms::decodeSignedData(cms::stringBytes(token->value.sequence));
  cms::Signer signer;
  if (!signedData || !cms::soleSigner(signedData.get(), &signer))
    return explain(why, errSecTimestampInvalid, "the timestamp token does not decode to one signer");
  const ossl::TstInfo info = tstInfo(signedData.get());
  const int verified = CMS_verify(signedData.get(), signer.certificates.get(), nullptr, nullptr, nullptr,
                                  CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY | CMS_NOINTERN);
  ERR_clear_error();
  if (!info) return explain(why, errSecTimestampInvalid, "the timestamp token holds no timestamp");
  if (verified != 1) return explain(why, errSecTimestampInvalid, "the timestamp's own signature does not verify");
  if (!imprintMatches(info.get(), signatureValue))
    return explain(why, errSecTimestampInvalid, "the timestamp is of another signature (its imprint differs)");
  const auto time = cms::toTime(TS_TST_INFO_get_time(info.get()));
  if (!time) return explain(why, errSecTimestampInvalid, "the timestamp's time does not read");
  const ChainRequest request{signer.certificate, signer.certificates.get(), ChainPolicy::timeStamping, *time,
                             false, isAnchor, {}};
  VerifiedChain chain;
  std::string fault;
  if (const OSStatus status = verifyChain(request, &chain, why ? &fault : nullptr))
    return explain(why, status, "timestamp authority's " + fault);
  *genTime = *time;
  return errSecSuccess;
}

std::optional<std::time_t> timestampTokenTime(const ASN1_TYPE* token) {
  if (token == nullptr || token->type != V_ASN1_SEQUENCE) return std::nullopt;
  const ossl::Cms signedData = cms::decodeSignedData(cms::stringBytes(token->value.sequence));
  const ossl::TstInfo info = signedData ? tstInfo(signedData.get()) : nullptr;
  ERR_clear_error();
  return info ? cms::toTime(TS_TST_INFO_get_time(info.get())) : std::nullopt;
}

}  // namespace codesign
