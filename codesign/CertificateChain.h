#pragma once

// Builds and checks a certificate chain from the certificates a signature
// carries, ending at a root whose SHA-256 fingerprint is pinned.

#include <ctime>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "codesign/Certificate.h"
#include "codesign/CodeSigning.h"
#include "codesign/OpenSSLTypes.h"
#include "codesign/RequirementSubject.h"
#include "codesign/TrustedAnchors.h"

namespace codesign {

// Decides whether a root certificate, by fingerprint, may end a chain. A
// function object, so that one check may carry roots its caller adds.
using AnchorPredicate = std::function<bool(const SHA256Digest& fingerprint)>;

enum class ChainPolicy {
  codeSigning,   // leaf: extendedKeyUsage codeSigning, keyUsage digitalSignature or nonRepudiation
  timeStamping,  // leaf: extendedKeyUsage timeStamping
};

struct ChainRequest {
  X509* leaf = nullptr;                  // the signer's certificate
  STACK_OF(X509)* candidates = nullptr;  // every certificate the signature carries
  ChainPolicy policy = ChainPolicy::codeSigning;
  std::time_t at = 0;                    // the verification time
  bool retryIgnoringTime = false;        // on expiry alone, check again without times
  AnchorPredicate isAnchor = nullptr;
  std::span<const Bytes> anchorCertificates;  // DER roots that may end the chain when it carries none
};

struct VerifiedChain {
  std::vector<Bytes> certificates;  // DER, leaf first, anchor last
  bool expired = false;             // valid only once times were ignored
};

// 0 and the chain; otherwise the framework's CSSM status for the defect
// (CSSMERR_TP_NOT_TRUSTED when no pinned root completes it) and, in *why
// when given, the certificate (its index, leaf 0, and subject) and its fault.
OSStatus verifyChain(const ChainRequest& request, VerifiedChain* out, std::string* why = nullptr);

// Whether the chain (leaf first) ends at a root that may end one. The
// requirement language's anchor clauses ask this of the certificates they
// are given, whoever built the chain: a list that merely verified is no
// proof of its root.
bool endsAtAnchor(std::span<const Bytes> chain, const AnchorPredicate& isAnchor);

}  // namespace codesign
