#include "codesign/CmsSupport.h"

#include <algorithm>

#include <openssl/err.h>

#include "codesign/Limits.h"

namespace codesign::cms {

ossl::Cms decodeSignedData(std::span<const std::uint8_t> der) {
  if (der.empty() || der.size() > limits::kMaxCmsBytes) return nullptr;
  const unsigned char* p = der.data();
  ossl::Cms cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size())));
  ERR_clear_error();
  if (!cms || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed) return nullptr;
  const auto used = static_cast<std::size_t>(p - der.data());
  const auto rest = der.subspan(used);
  if (!std::all_of(rest.begin(), rest.end(), [](std::uint8_t b) { return b == 0; })) return nullptr;
  return cms;
}

bool soleSigner(CMS_ContentInfo* cms, Signer* out) {
  STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms);
  if (infos == nullptr || sk_CMS_SignerInfo_num(infos) != 1) return false;
  out->info = sk_CMS_SignerInfo_value(infos, 0);
  out->certificates.reset(CMS_get1_certs(cms));
  const int count = sk_X509_num(out->certificates.get());
  if (count < 1 || count > static_cast<int>(limits::kMaxCertificates)) return false;
  for (int i = 0; i < count; ++i) {
    X509* cert = sk_X509_value(out->certificates.get(), i);
    if (CMS_SignerInfo_cert_cmp(out->info, cert) == 0) {
      out->certificate = cert;
      return true;
    }
  }
  return false;
}

X509_ATTRIBUTE* uniqueAttribute(CMS_SignerInfo* si, const char* oid, bool signedAttribute, bool* duplicated) {
  const ossl::Object object(OBJ_txt2obj(oid, 1));
  if (!object) return nullptr;
  const auto find = [&](int last) {
    return signedAttribute ? CMS_signed_get_attr_by_OBJ(si, object.get(), last)
                           : CMS_unsigned_get_attr_by_OBJ(si, object.get(), last);
  };
  const int index = find(-1);  // -1 when absent: OpenSSL then finds no second one and hands out nothing
  if (find(index) >= 0) *duplicated = true;
  return signedAttribute ? CMS_signed_get_attr(si, index) : CMS_unsigned_get_attr(si, index);
}

ASN1_TYPE* singleValue(X509_ATTRIBUTE* attribute) {
  if (attribute == nullptr || X509_ATTRIBUTE_count(attribute) != 1) return nullptr;
  return X509_ATTRIBUTE_get0_type(attribute, 0);
}

std::optional<std::time_t> toTime(const ASN1_TIME* time) {
  std::tm parts{};
  if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return std::nullopt;
  return timegm(&parts);
}

std::span<const std::uint8_t> stringBytes(const ASN1_STRING* string) {
  if (string == nullptr) return {};
  return {ASN1_STRING_get0_data(string), static_cast<std::size_t>(std::max(0, ASN1_STRING_length(string)))};
}

}  // namespace codesign::cms
