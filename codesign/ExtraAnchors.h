#pragma once

// Roots that a command running with its caller's rights may trust for one
// check, beside the pinned ones. The set-user-ID tool never calls this: it
// has no way to name a root of its own.

#include <optional>
#include <span>

#include "codesign/CodeSigning.h"
#include "codesign/FailureDetail.h"
#include "codesign/RequirementSubject.h"
#include "codesign/TrustedAnchors.h"

namespace codesign {

// The SHA-256 fingerprint of the one certificate in a PEM or DER file's
// bytes; nothing when the bytes hold no certificate or anything after it.
std::optional<SHA256Digest> anchorFingerprint(std::span<const std::uint8_t> fileBytes);

// SecStaticCodeCheckValidity, where a chain may also end at any of these
// roots, which then count as the pinned roots do (also for `anchor apple
// generic`). A failure is explained in *failure when one is given.
OSStatus staticCodeCheckValidityWithAnchors(const StaticCode* staticCode, SecCSFlags flags,
                                            const Requirement* requirement,
                                            std::span<const SHA256Digest> extraAnchors,
                                            FailureDetail* failure = nullptr);

}  // namespace codesign
