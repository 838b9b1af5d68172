#include "codesign/TrustedAnchors.h"

namespace codesign {

// The shipped tool trusts Apple's roots and nothing else.
std::optional<SHA256Digest> extraTrustedAnchorSHA256() { return std::nullopt; }
std::optional<Bytes> extraTrustedAnchorCertificate() { return std::nullopt; }

}  // namespace codesign
