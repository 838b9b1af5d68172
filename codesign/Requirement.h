#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "codesign/CodeSigning.h"
#include "codesign/RequirementSubject.h"

namespace codesign {

namespace requirement {
struct Expression;  // the compiled expression tree
struct SignedCode;  // what an implicit designated requirement is derived from
}

// A compiled code requirement: one expression of the code requirement
// language, valid by construction.
class Requirement {
 public:
  ~Requirement();
  Requirement(const Requirement&) = delete;
  Requirement& operator=(const Requirement&) = delete;

  // 0 and a requirement, or errSecCSReqInvalid for text that does not parse.
  static OSStatus compile(std::string_view text, RequirementRef* requirement);

  // 0 and the requirement a compiled requirement blob holds, or the status
  // of a blob that is malformed or holds what this engine does not know
  // (see requirement/BlobReader.h).
  static OSStatus read(std::span<const std::uint8_t> blob, RequirementRef* requirement);

  // 0 and the designated requirement the framework derives for code whose
  // signature states none, or the status of what it cannot be derived from
  // (see requirement/Implicit.h).
  static OSStatus implicitDesignated(const requirement::SignedCode& code, RequirementRef* requirement);

  // 0 when the subject satisfies the requirement, errSecCSReqFailed when it
  // does not, or another status when evaluation itself fails (a sealed
  // Info.plist that is not a dictionary, say). When it fails, *why (when
  // given) names the clause that is false, written as text.
  OSStatus evaluate(const RequirementSubject& subject, std::string* why = nullptr) const;

  // 0 and the requirement written as text that compiles back to it, or the
  // status of a construct that cannot be written (see requirement/Decompile.h).
  OSStatus text(std::string* text) const;

 private:
  explicit Requirement(std::unique_ptr<requirement::Expression> expression);
  std::unique_ptr<requirement::Expression> _expression;
};

}  // namespace codesign
