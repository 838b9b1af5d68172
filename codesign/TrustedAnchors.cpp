#include "codesign/TrustedAnchors.h"

#include <algorithm>

#include "codesign/AppleRootCertificates.h"

namespace codesign {
namespace {

constexpr SHA256Digest digestOf(const char (&hex)[65]) {
  SHA256Digest out{};
  const auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<std::uint8_t>(nibble(hex[2 * i]) << 4 | nibble(hex[2 * i + 1]));
  return out;
}

// Apple's root certificates, by the SHA-256 digest of their DER encoding.
constexpr SHA256Digest kAppleRoots[] = {
    digestOf("B0B1730ECBC7FF4505142C49F1295E6EDA6BCAED7E2C68C5BE91B5A11001F024"),  // Apple Root CA
    digestOf("C2B9B042DD57830E7D117DAC55AC8AE19407D38E41D88F3215BC3A890444A050"),  // Apple Root CA - G2
    digestOf("63343ABFB89A6A03EBB57E9B3F5FA7BE7C4F5C756F3017B3A8C488C3653E9179"),  // Apple Root CA - G3
    digestOf("FB3F6CF69467B5FA9FFA2B3B392B6E5E775BBB09C77B6E759E9038E26BBF9049"),  // Platform Backport RSA G1
    digestOf("EDA23B3F224F45E0952F20E4D2B33E000D49C8044C1168DE47B443CD2B3536DC"),  // Platform Backport ECC G1
};

}  // namespace

bool isTrustedAnchor(const SHA256Digest& fingerprint) {
  if (std::find(std::begin(kAppleRoots), std::end(kAppleRoots), fingerprint) != std::end(kAppleRoots)) return true;
  const auto extra = extraTrustedAnchorSHA256();
  return extra && *extra == fingerprint;
}

bool isAppleRootCA(const SHA256Digest& fingerprint) { return fingerprint == kAppleRoots[0]; }

std::vector<Bytes> trustedAnchorCertificates() {
  std::vector<Bytes> anchors = appleRootCertificates();
  if (auto extra = extraTrustedAnchorCertificate()) anchors.push_back(std::move(*extra));
  return anchors;
}

}  // namespace codesign
