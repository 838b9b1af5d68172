// The extra trusted anchor of test builds: the root certificate of the tests'
// own certificate authority, made at build time by helper-test-signer.

#include "codesign/TrustedAnchors.h"

#include "TestRootFingerprint.h"

namespace codesign {

std::optional<SHA256Digest> extraTrustedAnchorSHA256() { return helper_test_ca::kRootSHA256; }
std::optional<Bytes> extraTrustedAnchorCertificate() {
  return Bytes(std::begin(helper_test_ca::kRootDER), std::end(helper_test_ca::kRootDER));
}

}  // namespace codesign
