#pragma once

#include <string>

namespace signer {

// Writes the tests' certificate authority into directory (which must exist):
// NAME.pem and NAME.key for every certificate, root.sha256 (the hex SHA-256
// of the test root's DER) and TestRootFingerprint.h (the same as a C++
// constant). The names are listed in tests/fixtures/README.md.
void makeCertificateAuthority(const std::string& directory);

}  // namespace signer
