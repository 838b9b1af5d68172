#pragma once

// The designated requirement the framework derives for code whose signature
// states none: ad hoc code is named by its cdhash; signed code by its
// identifier and by what its certificate chain says of who signed it.

#include <span>
#include <string>

#include "codesign/CodeSigning.h"
#include "codesign/requirement/Expression.h"

namespace codesign::requirement {

struct SignedCode {
  std::string identifier;
  Bytes cdhash;                       // the best directory's, 20 bytes
  std::span<const Bytes> certificates;  // DER, leaf first, anchor last; empty when ad hoc
  bool appleRoot = false;             // the chain ends at Apple's own root
};

// 0 and the requirement:
// - ad hoc: cdhash H"…";
// - Apple's root, three certificates, an Apple developer-relations
//   intermediate: identifier, anchor apple generic, the leaf's common name
//   and the intermediate's marker;
// - Apple's root, three certificates, a Developer ID intermediate:
//   identifier, anchor apple generic, both Developer ID markers and the
//   leaf's team (subject OU);
// - Apple's root otherwise: identifier and anchor apple;
// - any other root: identifier and the SHA-1 of the highest certificate
//   whose organization is still the leaf's (the root itself written as
//   `certificate root`).
// errSecCSReqInvalid when what the requirement names cannot be read (no
// cdhash, a subject attribute missing), errSecCSInternalError when a
// certificate does not decode.
OSStatus implicitDesignated(const SignedCode& code, ExpressionPtr* out);

}  // namespace codesign::requirement
