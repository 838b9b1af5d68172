#pragma once

// What a CMS signature says about its signer, read for display only: the
// certificates as they chain up from the signer's, the signing time, and the
// time its timestamp token states. Nothing here is verified; the check
// decides whether any of it can be trusted.

#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "codesign/CodeSigning.h"
#include "codesign/RequirementSubject.h"

namespace codesign {

struct SignatureDetails {
  std::vector<Bytes> certificates;         // DER: the signer's, then each one's issuer
  std::optional<std::time_t> timestamp;    // the secure timestamp token's time
  std::optional<std::time_t> signingTime;  // the signer's signing-time attribute
};

// 0 and the details of a BlobWrapper's payload; errSecCSSignatureFailed when
// it is no SignedData with one signer whose certificate it carries. A chain
// whose last certificate is not self-issued ends with the one of `roots`
// that issued it, if any: signers may leave the root out.
OSStatus readSignatureDetails(std::span<const std::uint8_t> payload, std::span<const Bytes> roots,
                              SignatureDetails* out);

// The subject's common name (its last CN), or nothing.
std::optional<std::string> commonName(const Bytes& der);

}  // namespace codesign
