#pragma once

// The RFC 3161 timestamp a signer may attach to its signature: a token
// whose message imprint covers the signature value, signed by a
// time-stamping authority whose own chain ends at a pinned root.

#include <ctime>
#include <optional>
#include <span>
#include <string>

#include "codesign/CertificateChain.h"

namespace codesign {

// 0 and the token's time; errSecTimestampInvalid when the token does not
// decode, its signature or imprint is wrong; the chain's status otherwise.
// On failure, *why (when given) says which.
OSStatus verifyTimestamp(const ASN1_TYPE* token, std::span<const std::uint8_t> signatureValue,
                         AnchorPredicate isAnchor, std::time_t* genTime, std::string* why = nullptr);

// The time a token states, read without any check (for display); nothing
// when it does not decode.
std::optional<std::time_t> timestampTokenTime(const ASN1_TYPE* token);

}  // namespace codesign
