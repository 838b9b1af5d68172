#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include "platform/codesign/RequirementSubject.h"

namespace testing_support {

using platform::codesign::Bytes;

// What a test certificate says about itself.
struct CertificateSpec {
  std::vector<std::pair<std::string, std::string>> subject;  // (attribute, value), in order
  std::vector<std::string> extensions;  // dotted OIDs of marker extensions (DER NULL), or OID=GeneralizedTime (OID~ adds a byte)
  std::vector<std::string> policies;    // dotted OIDs listed in certificatePolicies
  bool isAuthority = false;
};

// A certificate and its key, made with OpenSSL: a self-signed root, or one
// issued by another test certificate. Throws std::runtime_error on failure
// (tests only).
class TestCertificate {
 public:
  static TestCertificate root(const CertificateSpec& profile);
  TestCertificate issue(const CertificateSpec& profile) const;

  const Bytes& der() const { return _der; }

 private:
  struct KeyFree {
    void operator()(EVP_PKEY* key) const noexcept { EVP_PKEY_free(key); }
  };
  struct CertificateFree {
    void operator()(X509* certificate) const noexcept { X509_free(certificate); }
  };

  static TestCertificate make(const CertificateSpec& profile, const TestCertificate* issuer);

  std::shared_ptr<EVP_PKEY> _key;
  std::shared_ptr<X509> _certificate;
  Bytes _der;
};

}  // namespace testing_support
