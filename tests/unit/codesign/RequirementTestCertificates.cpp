#include "RequirementTestCertificates.h"

#include <ctime>

#include "signer/CertificateBuilder.h"

namespace testing_support {
namespace {

// "OID" holds DER NULL; "OID=YYYYMMDDHHMMSSZ" a GeneralizedTime, and
// "OID~YYYYMMDDHHMMSSZ" one followed by a stray byte.
signer::ExtensionSpec extensionFor(const std::string& wanted) {
  const std::size_t equals = wanted.find_first_of("=~");
  signer::ExtensionSpec extension = signer::markerExtension(wanted.substr(0, equals), false);
  if (equals == std::string::npos) return extension;
  const std::string time = wanted.substr(equals + 1);
  extension.value = {0x18, static_cast<std::uint8_t>(time.size())};
  extension.value.insert(extension.value.end(), time.begin(), time.end());
  if (wanted[equals] == '~') extension.value.push_back(0);
  return extension;
}

}  // namespace

TestCertificate TestCertificate::root(const CertificateSpec& profile) { return make(profile, nullptr); }

TestCertificate TestCertificate::issue(const CertificateSpec& profile) const { return make(profile, this); }

TestCertificate TestCertificate::make(const CertificateSpec& wanted, const TestCertificate* issuer) {
  signer::CertificateProfile profile;
  profile.subject = wanted.subject;
  if (wanted.isAuthority) profile.configured = {{NID_basic_constraints, "critical,CA:TRUE"}};
  for (const std::string& extension : wanted.extensions) profile.extensions.push_back(extensionFor(extension));
  profile.policies = wanted.policies;
  profile.notBefore = std::time(nullptr);
  profile.notAfter = profile.notBefore + 86400;
  TestCertificate made;
  made._issued = std::make_shared<signer::IssuedCertificate>(
      signer::issueCertificate(profile, issuer != nullptr ? issuer->_issued.get() : nullptr));
  made._der = signer::certificateDER(made._issued->certificate.get());
  return made;
}

}  // namespace testing_support
