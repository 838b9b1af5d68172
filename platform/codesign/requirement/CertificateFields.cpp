#include "platform/codesign/requirement/CertificateFields.h"

#include <array>
#include <cstdint>
#include <utility>

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include "platform/codesign/Status.h"

namespace platform::codesign::requirement {
namespace {

struct ObjectFree {
  void operator()(ASN1_OBJECT* object) const noexcept { ASN1_OBJECT_free(object); }
};
using ObjectPtr = std::unique_ptr<ASN1_OBJECT, ObjectFree>;

struct PoliciesFree {
  void operator()(CERTIFICATEPOLICIES* policies) const noexcept { CERTIFICATEPOLICIES_free(policies); }
};
using PoliciesPtr = std::unique_ptr<CERTIFICATEPOLICIES, PoliciesFree>;

struct OpenSSLFree {
  void operator()(unsigned char* bytes) const noexcept { OPENSSL_free(bytes); }
};
using OpenSSLBytes = std::unique_ptr<unsigned char, OpenSSLFree>;

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
ObjectPtr objectFor(const char* oid) { return ObjectPtr(OBJ_txt2obj(oid, 1)); }

bool listsPolicy(const CERTIFICATEPOLICIES& policies, const ASN1_OBJECT& policy) {
  const int count = sk_POLICYINFO_num(&policies);
  for (int i = 0; i < count; ++i) {
    const POLICYINFO* info = sk_POLICYINFO_value(&policies, i);
    if (info != nullptr && info->policyid != nullptr && OBJ_cmp(info->policyid, &policy) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

X509Ptr decodeCertificate(const Bytes& der) {
  if (der.empty() || der.size() > static_cast<std::size_t>(INT32_MAX)) return nullptr;
  const unsigned char* cursor = der.data();
  X509Ptr certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
  if (!certificate || cursor != der.data() + der.size()) {
    ERR_clear_error();  // leave no failure behind for the next OpenSSL caller
    return nullptr;
  }
  return certificate;
}

Bytes sha1Digest(const Bytes& data) {
  Bytes digest(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha1(), nullptr) != 1) {
    return {};
  }
  digest.resize(length);
  return digest;
}

OSStatus hasExtension(const X509& certificate, const std::string& oid, bool* present) {
  *present = false;
  const ObjectPtr object = objectFor(oid.c_str());
  if (!object) return errSecCSInternalError;
  *present = X509_get_ext_by_OBJ(&certificate, object.get(), -1) >= 0;
  return errSecSuccess;
}

OSStatus hasPolicy(const X509& certificate, const std::string& oid, bool* present) {
  *present = false;
  const ObjectPtr object = objectFor(oid.c_str());
  if (!object) return errSecCSInternalError;
  int critical = 0;
  const PoliciesPtr policies(static_cast<CERTIFICATEPOLICIES*>(
      X509_get_ext_d2i(&certificate, NID_certificate_policies, &critical, nullptr)));
  if (!policies) {
    ERR_clear_error();
    return critical == -1 ? errSecSuccess : errSecCSInternalError;
  }
  *present = listsPolicy(*policies, *object);
  return errSecSuccess;
}

OSStatus subjectAttribute(const X509& certificate, std::string_view name,
                          std::optional<std::string>* value) {
  value->reset();
  const char* oid = nullptr;
  for (const auto& [attribute, dotted] : kSubjectAttributes) {
    if (attribute == name) oid = dotted;
  }
  if (oid == nullptr) return errSecSuccess;
  const ObjectPtr object = objectFor(oid);
  if (!object) return errSecCSInternalError;
  const X509_NAME* subject = X509_get_subject_name(&certificate);
  int last = -1;
  for (int i = X509_NAME_get_index_by_OBJ(subject, object.get(), -1); i >= 0;
       i = X509_NAME_get_index_by_OBJ(subject, object.get(), i)) {
    last = i;
  }
  if (last < 0) return errSecSuccess;
  unsigned char* raw = nullptr;
  const int length = ASN1_STRING_to_UTF8(
      &raw, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, last)));
  const OpenSSLBytes utf8(raw);
  if (length < 0 || (length > 0 && !utf8)) return errSecCSInternalError;
  value->emplace(length > 0 ? reinterpret_cast<const char*>(utf8.get()) : "",
                 static_cast<std::size_t>(length));
  return errSecSuccess;
}

}  // namespace platform::codesign::requirement
