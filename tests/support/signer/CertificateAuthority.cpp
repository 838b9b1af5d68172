#include "CertificateAuthority.h"

#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <map>
#include <utility>
#include <vector>

#include "Digest.h"
#include "OpenSSLSupport.h"

namespace signer {

namespace {

enum class Role { root, intermediate, codeSigning, codeSigningWithoutEKU, timestamping };

struct Marker {
  const char* oid;
  bool critical;
};

struct CertificateSpec {
  const char* name;    // file stem
  const char* issuer;  // file stem of the issuer; nullptr when self-signed
  Role role;
  std::vector<std::pair<const char*, const char*>> subject;  // in DER order
  const char* notBefore;
  const char* notAfter;
  std::vector<Marker> markers;
};

constexpr Marker kDeveloperIDCA{"1.2.840.113635.100.6.2.6", false};
constexpr Marker kDeveloperRelationsCA{"1.2.840.113635.100.6.2.1", false};
constexpr Marker kTimestampCA{"1.2.840.113635.100.6.2.9", false};
// Apple marks the Developer ID Application extension critical.
constexpr Marker kDeveloperIDApplication{"1.2.840.113635.100.6.1.13", true};
constexpr Marker kAppStoreApplication{"1.2.840.113635.100.6.1.9", false};
constexpr const char* kDeveloperPolicy = "1.2.840.113635.100.5.1";

constexpr const char* kLongAgo = "20150101000000Z";
constexpr const char* kFarAhead = "20450101000000Z";
constexpr const char* kLeafStart = "20190101000000Z";
constexpr const char* kLeafEnd = "20400101000000Z";

using Subject = std::vector<std::pair<const char*, const char*>>;

Subject caSubject(const char* organisation, const char* commonName) {
  return {{"CN", commonName}, {"OU", "Helper Test Certification Authority"}, {"O", organisation}, {"C", "US"}};
}

Subject developerSubject(const char* team, const char* maker, const char* commonName) {
  return {{"UID", team}, {"CN", commonName}, {"OU", team}, {"O", maker}, {"C", "US"}};
}

// Issuers come before the certificates they sign.
std::vector<CertificateSpec> authoritySpecs() {
  const char* testCA = "Helper Test CA";
  const char* foreignCA = "Foreign Test CA";
  const char* mainApp = "Developer ID Application: Test Maker (Q7MK2RX5VN)";
  return {
      {"root", nullptr, Role::root, caSubject(testCA, "Helper Test Root CA"), kLongAgo, kFarAhead, {}},
      {"devid-ca", "root", Role::intermediate, caSubject(testCA, "Test Developer ID Certification Authority"), kLongAgo,
       kFarAhead, {kDeveloperIDCA}},
      {"store-ca", "root", Role::intermediate, caSubject(testCA, "Test Developer Relations Certification Authority"),
       kLongAgo, kFarAhead, {kDeveloperRelationsCA}},
      {"timestamp-ca", "root", Role::intermediate, caSubject(testCA, "Test Timestamp Certification Authority"), kLongAgo,
       kFarAhead, {kTimestampCA}},
      {"devid-app", "devid-ca", Role::codeSigning, developerSubject("Q7MK2RX5VN", "Test Maker", mainApp), kLeafStart,
       kLeafEnd, {kDeveloperIDApplication}},
      {"devid-app-otherteam", "devid-ca", Role::codeSigning,
       developerSubject("ZX8QW4T2LM", "Other Maker", "Developer ID Application: Other Maker (ZX8QW4T2LM)"), kLeafStart,
       kLeafEnd, {kDeveloperIDApplication}},
      {"devid-app-expired", "devid-ca", Role::codeSigning, developerSubject("Q7MK2RX5VN", "Test Maker", mainApp),
       "20190601000000Z", "20200601000000Z", {kDeveloperIDApplication}},
      {"devid-app-no-eku", "devid-ca", Role::codeSigningWithoutEKU,
       developerSubject("Q7MK2RX5VN", "Test Maker", mainApp), kLeafStart, kLeafEnd, {kDeveloperIDApplication}},
      {"appstore-app", "store-ca", Role::codeSigning,
       {{"CN", "Test Mac App Store Application Signing"}, {"OU", "Test Store Signing"}, {"O", testCA}, {"C", "US"}},
       kLeafStart, kLeafEnd, {kAppStoreApplication}},
      {"tsa", "timestamp-ca", Role::timestamping, caSubject(testCA, "Test Timestamp Signer"), kLongAgo, kFarAhead, {}},
      {"foreign-root", nullptr, Role::root, caSubject(foreignCA, "Foreign Test Root CA"), kLongAgo, kFarAhead, {}},
      {"foreign-devid-ca", "foreign-root", Role::intermediate,
       caSubject(foreignCA, "Foreign Developer ID Certification Authority"), kLongAgo, kFarAhead, {kDeveloperIDCA}},
      {"foreign-devid-app", "foreign-devid-ca", Role::codeSigning, developerSubject("Q7MK2RX5VN", "Test Maker", mainApp),
       kLeafStart, kLeafEnd, {kDeveloperIDApplication}},
  };
}

struct Issued {
  X509Ptr certificate;
  EVPKeyPtr key;
};

X509NamePtr nameOf(const Subject& subject) {
  X509NamePtr name(must(X509_NAME_new(), "allocating a name"));
  for (const auto& [field, value] : subject)
    mustSucceed(X509_NAME_add_entry_by_txt(name.get(), field, MBSTRING_UTF8,
                                           reinterpret_cast<const unsigned char*>(value), -1, -1, 0),
                std::string("adding ") + field);
  return name;
}

void addExtension(X509* certificate, X509V3_CTX* context, int nid, const char* value) {
  X509ExtensionPtr extension(must(X509V3_EXT_nconf_nid(nullptr, context, nid, value), std::string("making extension ") + value));
  mustSucceed(X509_add_ext(certificate, extension.get(), -1), std::string("adding extension ") + value);
}

// certificatePolicies naming one policy, without qualifiers.
void addPolicy(X509* certificate, const char* oid) {
  std::unique_ptr<CERTIFICATEPOLICIES, OpenSSLDeleter<CERTIFICATEPOLICIES_free>> policies(
      must(CERTIFICATEPOLICIES_new(), "allocating certificate policies"));
  std::unique_ptr<POLICYINFO, OpenSSLDeleter<POLICYINFO_free>> policy(must(POLICYINFO_new(), "allocating a policy"));
  ASN1ObjectPtr placeholder(policy->policyid);
  policy->policyid = must(OBJ_txt2obj(oid, 1), std::string("parsing OID ") + oid);
  if (sk_POLICYINFO_push(policies.get(), policy.get()) <= 0) throwOpenSSLError("listing a policy");
  static_cast<void>(policy.release());  // now owned by policies
  mustSucceed(X509_add1_ext_i2d(certificate, NID_certificate_policies, policies.get(), 0, X509V3_ADD_DEFAULT),
              "adding certificate policies");
}

void addRoleExtensions(X509* certificate, X509V3_CTX* context, Role role) {
  switch (role) {
    case Role::root:
      addExtension(certificate, context, NID_basic_constraints, "critical,CA:TRUE");
      addExtension(certificate, context, NID_key_usage, "critical,keyCertSign,cRLSign");
      return;
    case Role::intermediate:
      addExtension(certificate, context, NID_basic_constraints, "critical,CA:TRUE,pathlen:0");
      addExtension(certificate, context, NID_key_usage, "critical,digitalSignature,keyCertSign,cRLSign");
      return;
    case Role::codeSigning:
      addExtension(certificate, context, NID_ext_key_usage, "critical,codeSigning");
      [[fallthrough]];
    case Role::codeSigningWithoutEKU:
      addExtension(certificate, context, NID_basic_constraints, "critical,CA:FALSE");
      addExtension(certificate, context, NID_key_usage, "critical,digitalSignature");
      addPolicy(certificate, kDeveloperPolicy);
      return;
    case Role::timestamping:
      addExtension(certificate, context, NID_basic_constraints, "critical,CA:FALSE");
      addExtension(certificate, context, NID_key_usage, "critical,digitalSignature");
      addExtension(certificate, context, NID_ext_key_usage, "critical,timeStamping");
      return;
  }
}

void setSerialAndValidity(X509* certificate, const CertificateSpec& profile) {
  BIGNUMPtr serial(must(BN_new(), "allocating a serial number"));
  mustSucceed(BN_rand(serial.get(), 63, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY), "drawing a serial number");
  must(BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate)), "setting the serial number");
  mustSucceed(ASN1_TIME_set_string_X509(X509_getm_notBefore(certificate), profile.notBefore), "setting notBefore");
  mustSucceed(ASN1_TIME_set_string_X509(X509_getm_notAfter(certificate), profile.notAfter), "setting notAfter");
}

Issued issue(const CertificateSpec& profile, const Issued* issuer) {
  EVPKeyPtr key(must(EVP_RSA_gen(2048), "generating a key"));
  X509Ptr certificate(must(X509_new(), "allocating a certificate"));
  mustSucceed(X509_set_version(certificate.get(), X509_VERSION_3), "setting the version");
  setSerialAndValidity(certificate.get(), profile);
  X509NamePtr subject = nameOf(profile.subject);
  mustSucceed(X509_set_subject_name(certificate.get(), subject.get()), "setting the subject");
  X509* issuerCertificate = issuer ? issuer->certificate.get() : certificate.get();
  mustSucceed(X509_set_issuer_name(certificate.get(), X509_get_subject_name(issuerCertificate)), "setting the issuer");
  mustSucceed(X509_set_pubkey(certificate.get(), key.get()), "setting the public key");
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuerCertificate, certificate.get(), nullptr, nullptr, 0);
  addRoleExtensions(certificate.get(), &context, profile.role);
  addExtension(certificate.get(), &context, NID_subject_key_identifier, "hash");
  addExtension(certificate.get(), &context, NID_authority_key_identifier, "keyid:always");
  for (const Marker& marker : profile.markers)
    mustSucceed(X509_add_ext(certificate.get(), markerExtension(marker.oid, marker.critical).get(), -1), "adding a marker");
  EVP_PKEY* signingKey = issuer ? issuer->key.get() : key.get();
  mustSucceed(X509_sign(certificate.get(), signingKey, EVP_sha256()), std::string("signing ") + profile.name);
  return {std::move(certificate), std::move(key)};
}

std::string hex(const Bytes& bytes, const char* separator, const char* prefix) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char text[8];
    std::snprintf(text, sizeof text, "%s%02x", prefix, bytes[i]);
    out += (i ? separator : "") + std::string(text);
  }
  return out;
}

void writeFingerprint(const std::string& directory, X509* root) {
  const Bytes der = certificateDER(root);
  const Bytes fingerprint = digest(HashType::sha256, der);
  writeTextFile(directory + "/root.sha256", hex(fingerprint, "", "") + "\n");
  writeTextFile(directory + "/TestRootFingerprint.h",
                "#pragma once\n"
                "// Written by helper-test-signer make-ca: the DER encoding of the tests'\n"
                "// root certificate (root.pem beside this file) and its SHA-256.\n\n"
                "#include <array>\n#include <cstdint>\n\n"
                "namespace helper_test_ca {\n\n"
                "inline constexpr std::array<std::uint8_t, 32> kRootSHA256 = {\n    " +
                    hex(fingerprint, ", ", "0x") + "};\n\ninline constexpr std::uint8_t kRootDER[] = {\n    " +
                    hex(der, ", ", "0x") + "};\n\n}  // namespace helper_test_ca\n");
}

}  // namespace

void makeCertificateAuthority(const std::string& directory) {
  std::map<std::string, Issued> issued;
  for (const CertificateSpec& profile : authoritySpecs()) {
    const Issued* issuer = profile.issuer ? &issued.at(profile.issuer) : nullptr;
    Issued result = issue(profile, issuer);
    writeCertificate(directory + "/" + profile.name + ".pem", result.certificate.get());
    writePrivateKey(directory + "/" + profile.name + ".key", result.key.get());
    issued.emplace(profile.name, std::move(result));
  }
  writeFingerprint(directory, issued.at("root").certificate.get());
}

}  // namespace signer
