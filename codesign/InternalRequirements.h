#pragma once

// The internal requirements of a signature (slot 2): a requirement set blob
// (magic 0xfade0c01) whose index names one requirement blob per type.

#include <cstdint>
#include <optional>

#include "codesign/ByteReader.h"
#include "codesign/CodeSigning.h"

namespace codesign {

inline constexpr std::uint32_t kDesignatedRequirementType = 3;

struct InternalRequirements {
  std::uint32_t count = 0;
  std::optional<ByteReader> designated;  // the designated requirement's own blob
};

// 0 and the set's contents; errSecCSReqInvalid for a wrong magic or length,
// an index or a requirement blob outside the set, or a type listed twice.
OSStatus readInternalRequirements(const ByteReader& set, InternalRequirements* out);

}  // namespace codesign
