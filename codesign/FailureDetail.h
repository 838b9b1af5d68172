#pragma once

// Why a check failed, in words a person can act on: the architecture, the
// CodeDirectory (by hash type) and what exactly did not hold. The status
// stays the verdict; this only explains it, and only when a caller asks.

#include <cstdint>
#include <string>
#include <string_view>

#include "codesign/CodeSigning.h"
#include "codesign/Digest.h"

namespace codesign {

struct FailureDetail {
  std::string architecture;  // "arm64"; empty when the failure is not one slice's
  std::string hashType;      // "sha256"; empty when no one directory was involved
  std::string reason;        // "page 3 at offset 0x3000 does not match its hash"
};

// Writes the reason when the caller asked for one and returns the status, so
// that a failure point reads `return explain(why, status, "...")`.
OSStatus explain(std::string* why, OSStatus status, std::string_view reason);

// The same with the directory that failed.
OSStatus explain(FailureDetail* detail, OSStatus status, HashType type, std::string_view reason);

// "0x3000".
std::string hexNumber(std::uint64_t value);

// "sha256", "sha256-truncated", ...
std::string_view hashTypeName(HashType type);

// "special slot 2 (requirements)".
std::string specialSlotName(std::uint32_t n);

// "arm64", or "cputype-0x12" for one the engine has no name for.
std::string architectureOf(std::int32_t cputype, std::int32_t cpusubtype);

// What a failed read means: the file shrank since it was opened, or could
// not be read at all.
std::string readFailure(OSStatus status);

}  // namespace codesign
