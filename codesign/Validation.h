#pragma once

// The whole validity check of one file, in the framework's order: every
// architecture's signature, then the resource seal, then the strict
// structural rules. The three public calls wrap this.

#include <ctime>
#include <span>

#include "codesign/CertificateChain.h"
#include "codesign/CodeSigning.h"
#include "codesign/FailureDetail.h"
#include "codesign/FileSource.h"

namespace codesign {

// Caller-side flag bits the engine acts on beyond those in CodeSigning.h.
inline constexpr SecCSFlags kSecCSConsiderExpiration = 0x80000000u;

struct ValidationPolicy {
  AnchorPredicate isAnchor = nullptr;  // which roots may end a chain
  std::time_t now = 0;                 // the time when nothing signed says otherwise
  std::span<const Bytes> anchorCertificates;  // roots offered when a signature omits its own
  FailureDetail* failure = nullptr;           // when given, filled with why a check failed
};

// 0 when the file's signature is intact under the flags and satisfies the
// requirement (when one is given); otherwise the first failure's status.
OSStatus checkValidity(const FileSource& file, SecCSFlags flags, const Requirement* requirement,
                       const ValidationPolicy& policy);

// SecStaticCodeCheckValidity with the roots that may end a chain given: its
// argument checks, then checkValidity at the present time, explaining a
// failure in *failure when one is given.
OSStatus checkStaticCode(const StaticCode* staticCode, SecCSFlags flags, const Requirement* requirement,
                         const AnchorPredicate& isAnchor, FailureDetail* failure = nullptr);

}  // namespace codesign
