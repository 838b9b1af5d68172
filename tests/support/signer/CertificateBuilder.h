#pragma once

// Makes one X.509 certificate for the tests: self-signed, or signed by an
// issuer made here before, with the subject, extensions and key asked for.
// The certificate authority's files and the engine's unit tests all come
// from here.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Bytes.h"
#include "OpenSSLSupport.h"

namespace signer {

// An extension given by its OID and the DER it holds (DER NULL, as Apple's
// markers hold, unless said otherwise).
struct ExtensionSpec {
  std::string oid;
  bool critical = false;
  Bytes value{0x05, 0x00};
};

// An extension holding DER NULL: how Apple marks its certificates (the
// Developer ID markers and their kin).
inline ExtensionSpec markerExtension(std::string oid, bool critical) {
  ExtensionSpec wanted;
  wanted.oid = std::move(oid), wanted.critical = critical;
  return wanted;
}

struct CertificateProfile {
  std::vector<std::pair<std::string, std::string>> subject;  // (attribute, value), in DER order
  std::vector<std::pair<int, std::string>> configured;  // (NID, OpenSSL configuration): constraints, usages
  std::vector<ExtensionSpec> extensions;
  std::vector<std::string> policies;  // OIDs listed in certificatePolicies
  std::int64_t notBefore = 0;         // seconds since 1970
  std::int64_t notAfter = 0;
  bool rsa = false;  // an RSA key; otherwise EC P-256, which is quicker to make
  unsigned rsaBits = 2048;
  bool md5 = false;  // signed with MD5 instead (an RSA issuer's key only)
};

struct IssuedCertificate {
  X509Ptr certificate;
  EVPKeyPtr key;
};

// The certificate, signed with SHA-256 (or MD5) by the issuer's key or, without an
// issuer, its own; subject and authority key identifiers are always added.
// Throws SignerError when OpenSSL fails.
IssuedCertificate issueCertificate(const CertificateProfile& profile, const IssuedCertificate* issuer);

}  // namespace signer
