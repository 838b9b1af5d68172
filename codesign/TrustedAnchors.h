#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "codesign/RequirementSubject.h"

namespace codesign {

using SHA256Digest = std::array<std::uint8_t, 32>;

// True when the certificate whose DER encoding has this SHA-256 digest is
// one of Apple's root certificates, or the one extra anchor of a test build.
bool isTrustedAnchor(const SHA256Digest& fingerprint);

// True for "Apple Root CA" alone: the root under which the framework derives
// the Apple forms of an implicit designated requirement.
bool isAppleRootCA(const SHA256Digest& fingerprint);

// The DER encodings of the anchors above, offered as a chain's last link
// when a signature leaves its root out.
std::vector<Bytes> trustedAnchorCertificates();

// The extra anchor of a test build, nothing in the shipped tool. Defined by
// whichever anchor object library the executable links (NoExtraAnchor.cpp for
// the shipped tool, the tests' certificate authority for test builds).
std::optional<SHA256Digest> extraTrustedAnchorSHA256();
std::optional<Bytes> extraTrustedAnchorCertificate();

}  // namespace codesign
