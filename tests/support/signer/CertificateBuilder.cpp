#include "CertificateBuilder.h"

#include <openssl/rand.h>

namespace signer {
namespace {

X509NamePtr nameOf(const std::vector<std::pair<std::string, std::string>>& subject) {
  X509NamePtr name(must(X509_NAME_new(), "allocating a name"));
  for (const auto& [field, value] : subject)
    mustSucceed(X509_NAME_add_entry_by_txt(name.get(), field.c_str(), MBSTRING_UTF8,
                                           reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1, 0),
                "adding " + field);
  return name;
}

void addConfigured(X509* certificate, X509V3_CTX* context, int nid, const std::string& value) {
  X509ExtensionPtr extension(must(X509V3_EXT_nconf_nid(nullptr, context, nid, value.c_str()), "making " + value));
  mustSucceed(X509_add_ext(certificate, extension.get(), -1), "adding " + value);
}

void addExtension(X509* certificate, const ExtensionSpec& wanted) {
  ASN1ObjectPtr object(must(OBJ_txt2obj(wanted.oid.c_str(), 1), "parsing OID " + wanted.oid));
  ASN1OctetStringPtr value(must(ASN1_OCTET_STRING_new(), "allocating an extension value"));
  mustSucceed(ASN1_OCTET_STRING_set(value.get(), wanted.value.data(), static_cast<int>(wanted.value.size())),
              "setting an extension value");
  X509ExtensionPtr extension(must(X509_EXTENSION_create_by_OBJ(nullptr, object.get(), wanted.critical ? 1 : 0,
                                                               value.get()),
                                  "creating extension " + wanted.oid));
  mustSucceed(X509_add_ext(certificate, extension.get(), -1), "adding extension " + wanted.oid);
}

// certificatePolicies naming the policies, without qualifiers.
void addPolicies(X509* certificate, const std::vector<std::string>& oids) {
  std::unique_ptr<CERTIFICATEPOLICIES, OpenSSLDeleter<CERTIFICATEPOLICIES_free>> policies(
      must(CERTIFICATEPOLICIES_new(), "allocating certificate policies"));
  for (const std::string& oid : oids) {
    std::unique_ptr<POLICYINFO, OpenSSLDeleter<POLICYINFO_free>> policy(must(POLICYINFO_new(), "allocating a policy"));
    ASN1ObjectPtr placeholder(policy->policyid);
    policy->policyid = must(OBJ_txt2obj(oid.c_str(), 1), "parsing OID " + oid);
    if (sk_POLICYINFO_push(policies.get(), policy.get()) <= 0) throwOpenSSLError("listing a policy");
    static_cast<void>(policy.release());  // now owned by policies
  }
  mustSucceed(X509_add1_ext_i2d(certificate, NID_certificate_policies, policies.get(), 0, X509V3_ADD_DEFAULT),
              "adding certificate policies");
}

void setSerialAndValidity(X509* certificate, const CertificateProfile& profile) {
  BIGNUMPtr serial(must(BN_new(), "allocating a serial number"));
  mustSucceed(BN_rand(serial.get(), 63, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY), "drawing a serial number");
  must(BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate)), "setting the serial number");
  must(ASN1_TIME_set(X509_getm_notBefore(certificate), static_cast<time_t>(profile.notBefore)), "setting notBefore");
  must(ASN1_TIME_set(X509_getm_notAfter(certificate), static_cast<time_t>(profile.notAfter)), "setting notAfter");
}

void addExtensions(X509* certificate, X509* issuer, const CertificateProfile& profile) {
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  for (const auto& [nid, value] : profile.configured) addConfigured(certificate, &context, nid, value);
  addConfigured(certificate, &context, NID_subject_key_identifier, "hash");
  addConfigured(certificate, &context, NID_authority_key_identifier, "keyid:always");
  if (!profile.policies.empty()) addPolicies(certificate, profile.policies);
  for (const ExtensionSpec& extension : profile.extensions) addExtension(certificate, extension);
}

}  // namespace

IssuedCertificate issueCertificate(const CertificateProfile& profile, const IssuedCertificate* issuer) {
  EVPKeyPtr key(must(profile.rsa ? EVP_RSA_gen(profile.rsaBits) : EVP_EC_gen("P-256"), "generating a key"));
  X509Ptr certificate(must(X509_new(), "allocating a certificate"));
  mustSucceed(X509_set_version(certificate.get(), X509_VERSION_3), "setting the version");
  setSerialAndValidity(certificate.get(), profile);
  X509NamePtr subject = nameOf(profile.subject);
  mustSucceed(X509_set_subject_name(certificate.get(), subject.get()), "setting the subject");
  X509* issuerCertificate = issuer ? issuer->certificate.get() : certificate.get();
  mustSucceed(X509_set_issuer_name(certificate.get(), X509_get_subject_name(issuerCertificate)), "setting the issuer");
  mustSucceed(X509_set_pubkey(certificate.get(), key.get()), "setting the public key");
  addExtensions(certificate.get(), issuerCertificate, profile);
  EVP_PKEY* signingKey = issuer ? issuer->key.get() : key.get();
  mustSucceed(X509_sign(certificate.get(), signingKey, profile.md5 ? EVP_md5() : EVP_sha256()), "signing a certificate");
  return {std::move(certificate), std::move(key)};
}

}  // namespace signer
