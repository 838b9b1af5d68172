#include "RequirementTestCertificates.h"

#include <stdexcept>

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

namespace testing_support {
namespace {

struct ExtensionFree {
  void operator()(X509_EXTENSION* extension) const noexcept { X509_EXTENSION_free(extension); }
};
struct ObjectFree {
  void operator()(ASN1_OBJECT* object) const noexcept { ASN1_OBJECT_free(object); }
};
struct PoliciesFree {
  void operator()(CERTIFICATEPOLICIES* policies) const noexcept { CERTIFICATEPOLICIES_free(policies); }
};
struct OctetsFree {
  void operator()(ASN1_OCTET_STRING* octets) const noexcept { ASN1_OCTET_STRING_free(octets); }
};

void require(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(what);
}

// An extension whose value is DER NULL, as Apple's marker extensions are.
// "OID" holds DER NULL; "OID=YYYYMMDDHHMMSSZ" a GeneralizedTime, and
// "OID~YYYYMMDDHHMMSSZ" one followed by a stray byte.
void addMarkerExtension(X509* certificate, const std::string& spec) {
  const std::size_t equals = spec.find_first_of("=~");
  const std::string oid = spec.substr(0, equals);
  Bytes content{0x05, 0x00};
  if (equals != std::string::npos) {
    const std::string time = spec.substr(equals + 1);
    content = {0x18, static_cast<std::uint8_t>(time.size())};
    content.insert(content.end(), time.begin(), time.end());
    if (spec[equals] == '~') content.push_back(0);
  }
  std::unique_ptr<ASN1_OBJECT, ObjectFree> object(OBJ_txt2obj(oid.c_str(), 1));
  std::unique_ptr<ASN1_OCTET_STRING, OctetsFree> value(ASN1_OCTET_STRING_new());
  require(object && value && ASN1_OCTET_STRING_set(value.get(), content.data(), static_cast<int>(content.size())) == 1,
          "marker extension value");
  std::unique_ptr<X509_EXTENSION, ExtensionFree> extension(
      X509_EXTENSION_create_by_OBJ(nullptr, object.get(), 0, value.get()));
  require(extension && X509_add_ext(certificate, extension.get(), -1) == 1, "marker extension");
}

void addConfiguredExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  std::unique_ptr<X509_EXTENSION, ExtensionFree> extension(
      X509V3_EXT_nconf_nid(nullptr, &context, nid, value.c_str()));
  require(extension && X509_add_ext(certificate, extension.get(), -1) == 1, "configured extension");
}

void addPolicies(X509* certificate, const std::vector<std::string>& oids) {
  std::unique_ptr<CERTIFICATEPOLICIES, PoliciesFree> policies(CERTIFICATEPOLICIES_new());
  require(policies != nullptr, "policies");
  for (const std::string& oid : oids) {
    POLICYINFO* info = POLICYINFO_new();
    require(info != nullptr, "policy");
    ASN1_OBJECT_free(info->policyid);
    info->policyid = OBJ_txt2obj(oid.c_str(), 1);
    if (info->policyid == nullptr || sk_POLICYINFO_push(policies.get(), info) <= 0) {
      POLICYINFO_free(info);
      require(false, "policy");
    }
  }
  require(X509_add1_ext_i2d(certificate, NID_certificate_policies, policies.get(), 0,
                            X509V3_ADD_DEFAULT) == 1,
          "policies extension");
}

void setSubject(X509* certificate, const CertificateSpec& profile) {
  X509_NAME* name = X509_get_subject_name(certificate);
  for (const auto& [attribute, value] : profile.subject) {
    require(X509_NAME_add_entry_by_txt(name, attribute.c_str(), MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1,
                                       0) == 1,
            "subject attribute");
  }
}

void addExtensions(X509* certificate, X509* issuer, const CertificateSpec& profile) {
  if (profile.isAuthority) addConfiguredExtension(certificate, issuer, NID_basic_constraints, "critical,CA:TRUE");
  for (const std::string& oid : profile.extensions) addMarkerExtension(certificate, oid);
  if (!profile.policies.empty()) addPolicies(certificate, profile.policies);
}

Bytes encode(X509* certificate) {
  const int length = i2d_X509(certificate, nullptr);
  require(length > 0, "certificate encoding");
  Bytes der(static_cast<std::size_t>(length));
  unsigned char* cursor = der.data();
  require(i2d_X509(certificate, &cursor) == length, "certificate encoding");
  return der;
}

}  // namespace

TestCertificate TestCertificate::root(const CertificateSpec& profile) { return make(profile, nullptr); }

TestCertificate TestCertificate::issue(const CertificateSpec& profile) const { return make(profile, this); }

TestCertificate TestCertificate::make(const CertificateSpec& profile, const TestCertificate* issuer) {
  TestCertificate made;
  made._key.reset(EVP_EC_gen("P-256"), KeyFree{});
  made._certificate.reset(X509_new(), CertificateFree{});
  X509* certificate = made._certificate.get();
  require(made._key && certificate, "key or certificate");
  X509* issuerCertificate = issuer != nullptr ? issuer->_certificate.get() : certificate;
  EVP_PKEY* signingKey = issuer != nullptr ? issuer->_key.get() : made._key.get();
  require(X509_set_version(certificate, 2) == 1 &&
              ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1) == 1 &&
              X509_gmtime_adj(X509_getm_notBefore(certificate), 0) != nullptr &&
              X509_gmtime_adj(X509_getm_notAfter(certificate), 86400) != nullptr &&
              X509_set_pubkey(certificate, made._key.get()) == 1,
          "certificate fields");
  setSubject(certificate, profile);
  require(X509_set_issuer_name(certificate, X509_get_subject_name(issuerCertificate)) == 1, "issuer");
  addExtensions(certificate, issuerCertificate, profile);
  require(X509_sign(certificate, signingKey, EVP_sha256()) > 0, "signature");
  made._der = encode(certificate);
  return made;
}

}  // namespace testing_support
