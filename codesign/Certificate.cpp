#include "codesign/Certificate.h"

#include <array>
#include <cstring>
#include <utility>

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include "codesign/CmsSupport.h"
#include "codesign/Digest.h"
#include "codesign/Limits.h"
#include "codesign/Status.h"

namespace codesign {
namespace {

constexpr std::array<std::pair<std::string_view, const char*>, 13> kSubjectAttributes{{
    {"C", "2.5.4.6"},
    {"CN", "2.5.4.3"},
    {"D", "2.5.4.13"},
    {"L", "2.5.4.7"},
    {"O", "2.5.4.10"},
    {"C-O", "2.5.4.10.1"},
    {"OU", "2.5.4.11"},
    {"C-OU", "2.5.4.11.1"},
    {"ST", "2.5.4.8"},
    {"C-ST", "2.5.4.8.1"},
    {"STREET", "2.5.4.9"},
    {"C-STREET", "2.5.4.9.1"},
    {"UID", "0.9.2342.19200300.100.1.1"},
}};

// The object for a dotted OID, numeric form only (never a short name).
ossl::Object objectFor(const std::string& oid) { return ossl::Object(OBJ_txt2obj(oid.c_str(), 1)); }

bool listsPolicy(const CERTIFICATEPOLICIES& policies, const ASN1_OBJECT& policy) {
  for (int i = 0; i < sk_POLICYINFO_num(&policies); ++i) {
    const POLICYINFO* info = sk_POLICYINFO_value(&policies, i);
    if (info != nullptr && info->policyid != nullptr && OBJ_cmp(info->policyid, &policy) == 0) return true;
  }
  return false;
}

// The index of the first or last subject entry of this type, or -1.
int entryIndex(const X509_NAME* subject, const ASN1_OBJECT* type, Occurrence which) {
  int found = -1;
  for (int i = X509_NAME_get_index_by_OBJ(subject, type, -1); i >= 0;
       i = X509_NAME_get_index_by_OBJ(subject, type, i)) {
    found = i;
    if (which == Occurrence::first) break;
  }
  return found;
}

// A DER time, the whole of the bytes, in seconds since 1970.
std::optional<std::int64_t> derTime(std::span<const std::uint8_t> der) {
  const unsigned char* p = der.data();
  const ossl::Time time(d2i_ASN1_TIME(nullptr, &p, static_cast<long>(der.size())));
  if (!time || p != der.data() + der.size()) return std::nullopt;
  return cms::toTime(time.get());
}

}  // namespace

bool encodeCertificate(X509* certificate, Bytes* der) {
  unsigned char* bytes = nullptr;
  const int length = i2d_X509(certificate, &bytes);
  const ossl::Buffer owner(bytes);
  if (length <= 0) return false;
  der->assign(bytes, bytes + length);
  return true;
}

ossl::Certificate decodeCertificate(std::span<const std::uint8_t> der) {
  // No certificate is larger than the CMS data that carries it.
  if (der.empty() || der.size() > limits::kMaxCmsBytes) return nullptr;
  const unsigned char* cursor = der.data();
  ossl::Certificate certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
  if (!certificate || cursor != der.data() + der.size()) {
    ERR_clear_error();  // leave no failure behind for the next OpenSSL caller
    return nullptr;
  }
  return certificate;
}

std::optional<SHA256Digest> fingerprint(const Bytes& der) {
  const Bytes digest = sha256(der);
  if (digest.size() != SHA256Digest{}.size()) return std::nullopt;
  SHA256Digest out{};
  std::memcpy(out.data(), digest.data(), out.size());
  return out;
}

OSStatus hasExtension(const X509& certificate, const std::string& oid, bool* present) {
  *present = false;
  const ossl::Object object = objectFor(oid);
  if (!object) return errSecCSInternalError;
  *present = X509_get_ext_by_OBJ(&certificate, object.get(), -1) >= 0;
  return errSecSuccess;
}

bool hasExtension(const Bytes& der, const std::string& oid) {
  const ossl::Certificate certificate = decodeCertificate(der);
  bool present = false;
  return certificate && hasExtension(*certificate, oid, &present) == errSecSuccess && present;
}

OSStatus extensionDate(const X509& certificate, const std::string& oid, bool* present,
                       std::optional<std::int64_t>* date) {
  *present = false, date->reset();
  const ossl::Object object = objectFor(oid);
  if (!object) return errSecCSInternalError;
  const int index = X509_get_ext_by_OBJ(&certificate, object.get(), -1);
  if (index < 0) return errSecSuccess;
  *present = true;
  *date = derTime(cms::stringBytes(X509_EXTENSION_get_data(X509_get_ext(&certificate, index))));
  ERR_clear_error();
  return errSecSuccess;
}

OSStatus hasPolicy(const X509& certificate, const std::string& oid, bool* present) {
  *present = false;
  const ossl::Object object = objectFor(oid);
  if (!object) return errSecCSInternalError;
  int critical = 0;
  const ossl::Policies policies(static_cast<CERTIFICATEPOLICIES*>(
      X509_get_ext_d2i(&certificate, NID_certificate_policies, &critical, nullptr)));
  if (!policies) {
    ERR_clear_error();
    return critical == -1 ? errSecSuccess : errSecCSInternalError;
  }
  *present = listsPolicy(*policies, *object);
  return errSecSuccess;
}

OSStatus subjectAttribute(const X509& certificate, std::string_view name, Occurrence which,
                          std::optional<std::string>* value) {
  value->reset();
  const char* oid = nullptr;
  for (const auto& [attribute, dotted] : kSubjectAttributes)
    if (attribute == name) oid = dotted;
  if (oid == nullptr) return errSecSuccess;
  const ossl::Object object = objectFor(oid);
  if (!object) return errSecCSInternalError;
  const X509_NAME* subject = X509_get_subject_name(&certificate);
  const int index = entryIndex(subject, object.get(), which);
  if (index < 0) return errSecSuccess;
  unsigned char* raw = nullptr;
  const int length = ASN1_STRING_to_UTF8(&raw, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index)));
  const ossl::Buffer utf8(raw);
  if (length < 0 || (length > 0 && !utf8)) return errSecCSInternalError;
  value->emplace(length > 0 ? reinterpret_cast<const char*>(utf8.get()) : "", static_cast<std::size_t>(length));
  return errSecSuccess;
}

std::optional<std::string> firstSubjectOU(const Bytes& der) {
  const ossl::Certificate certificate = decodeCertificate(der);
  std::optional<std::string> ou;
  if (!certificate || subjectAttribute(*certificate, "OU", Occurrence::first, &ou) != errSecSuccess) return std::nullopt;
  return ou;
}

}  // namespace codesign
