#pragma once

// Apple's root certificates, carried by the engine so that a chain whose
// signer left the root out can still end at one.

#include <vector>

#include "codesign/RequirementSubject.h"

namespace codesign {

// The DER encodings of Apple's five root certificates, in the order of the
// pinned fingerprints.
std::vector<Bytes> appleRootCertificates();

}  // namespace codesign
