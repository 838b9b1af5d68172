#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "Bytes.h"
#include "OpenSSLSupport.h"

namespace signer {

// The tests' RFC 3161 time-stamping authority: its certificate (extended key
// usage timeStamping, critical), key, the certificates its tokens carry, and
// an optional fixed time to stamp instead of the clock's.
struct TimestampAuthority {
  X509Ptr certificate;
  EVPKeyPtr key;
  std::vector<X509Ptr> chain;
  std::optional<std::int64_t> time;
};

// A DER timestamp token (a ContentInfo of SignedData over a TSTInfo) whose
// message imprint is the SHA-256 digest of message.
Bytes timestampToken(const TimestampAuthority& authority, std::span<const std::uint8_t> message);

}  // namespace signer
