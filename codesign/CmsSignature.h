#pragma once

// The CMS signature of one architecture: a detached SignedData over the
// bytes of the slot-0 CodeDirectory, whose signed attributes bind the other
// CodeDirectories and whose optional RFC 3161 timestamp fixes the time at
// which the certificate chain is judged.

#include <ctime>
#include <optional>
#include <span>
#include <string>

#include "codesign/ByteReader.h"
#include "codesign/CertificateChain.h"
#include "codesign/CodeDirectory.h"

namespace codesign {

struct CmsRequest {
  ByteReader payload;                                // the BlobWrapper's payload: DER ContentInfo
  const CodeDirectory* signedDirectory = nullptr;    // slot 0: the detached content
  std::span<const CodeDirectory* const> directories; // every usable CodeDirectory
  AnchorPredicate isAnchor = nullptr;
  std::span<const Bytes> anchorCertificates;         // roots a signer may have left out
  std::time_t now = 0;
  bool expiryFatal = false;  // the directory or the caller demands unexpired certificates
};

struct CmsEvidence {
  VerifiedChain chain;
  std::optional<std::time_t> timestamp;  // the verified secure timestamp
};

// 0 and what the signature proves; errSecCSSignatureFailed for a signature,
// message digest or CDHashes that do not match, errSecTimestampInvalid for a
// bad timestamp, or the chain's CSSM status. On failure, *why (when given)
// says what did not hold.
OSStatus verifyCmsSignature(const CmsRequest& request, CmsEvidence* out, std::string* why = nullptr);

// The full cdhash of a CodeDirectory: its blob's digest under its own type
// (20 bytes for truncated SHA-256).
Bytes fullCdhash(const CodeDirectory& cd);

}  // namespace codesign
