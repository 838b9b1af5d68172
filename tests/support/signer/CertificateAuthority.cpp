#include "CertificateAuthority.h"

#include <cstdio>
#include <map>
#include <utility>
#include <vector>

#include "CertificateBuilder.h"
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

// The extensions each role carries besides the key identifiers.
std::vector<std::pair<int, std::string>> roleExtensions(Role role) {
  const std::pair<int, std::string> leafConstraints{NID_basic_constraints, "critical,CA:FALSE"};
  const std::pair<int, std::string> signingUsage{NID_key_usage, "critical,digitalSignature"};
  switch (role) {
    case Role::root:
      return {{NID_basic_constraints, "critical,CA:TRUE"}, {NID_key_usage, "critical,keyCertSign,cRLSign"}};
    case Role::intermediate:
      return {{NID_basic_constraints, "critical,CA:TRUE,pathlen:0"},
              {NID_key_usage, "critical,digitalSignature,keyCertSign,cRLSign"}};
    case Role::codeSigning: return {{NID_ext_key_usage, "critical,codeSigning"}, leafConstraints, signingUsage};
    case Role::codeSigningWithoutEKU: return {leafConstraints, signingUsage};
    case Role::timestamping: return {leafConstraints, signingUsage, {NID_ext_key_usage, "critical,timeStamping"}};
  }
  return {};
}

IssuedCertificate issue(const CertificateSpec& wanted, const IssuedCertificate* issuer) {
  CertificateProfile profile;
  for (const auto& [field, value] : wanted.subject) profile.subject.emplace_back(field, value);
  profile.configured = roleExtensions(wanted.role);
  if (wanted.role == Role::codeSigning || wanted.role == Role::codeSigningWithoutEKU) profile.policies = {kDeveloperPolicy};
  for (const Marker& marker : wanted.markers) profile.extensions.push_back(markerExtension(marker.oid, marker.critical));
  profile.notBefore = parseGeneralizedTime(wanted.notBefore);
  profile.notAfter = parseGeneralizedTime(wanted.notAfter);
  profile.rsa = true;
  return issueCertificate(profile, issuer);
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
  std::map<std::string, IssuedCertificate> issued;
  for (const CertificateSpec& profile : authoritySpecs()) {
    const IssuedCertificate* issuer = profile.issuer ? &issued.at(profile.issuer) : nullptr;
    IssuedCertificate result = issue(profile, issuer);
    writeCertificate(directory + "/" + profile.name + ".pem", result.certificate.get());
    writePrivateKey(directory + "/" + profile.name + ".key", result.key.get());
    issued.emplace(profile.name, std::move(result));
  }
  writeFingerprint(directory, issued.at("root").certificate.get());
}

}  // namespace signer
