#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "codesign/RequirementSubject.h"

namespace signer {
struct IssuedCertificate;
}

namespace testing_support {

using codesign::Bytes;

// What a test certificate says about itself.
struct CertificateSpec {
  std::vector<std::pair<std::string, std::string>> subject;  // (attribute, value), in order
  std::vector<std::string> extensions;  // dotted OIDs of marker extensions (DER NULL), or OID=GeneralizedTime (OID~ adds a byte)
  std::vector<std::string> policies;    // dotted OIDs listed in certificatePolicies
  bool isAuthority = false;
};

// A certificate and its key, made by the tests' signer: a self-signed root,
// or one issued by another test certificate. Throws on failure (tests only).
class TestCertificate {
 public:
  static TestCertificate root(const CertificateSpec& profile);
  TestCertificate issue(const CertificateSpec& profile) const;

  const Bytes& der() const { return _der; }

 private:
  static TestCertificate make(const CertificateSpec& profile, const TestCertificate* issuer);

  std::shared_ptr<signer::IssuedCertificate> _issued;  // shared: copies keep signing
  Bytes _der;
};

}  // namespace testing_support
