#pragma once

// The three code-signing calls the tool makes, answering with the Security
// framework's status numbers. On macOS they forward to the framework; on
// other systems the engine in this folder verifies Apple's signature format
// itself. Nothing here throws.

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/URL.h"

namespace codesign {

using OSStatus = std::int32_t;
using SecCSFlags = std::uint32_t;

inline constexpr SecCSFlags kSecCSDefaultFlags = 0;
inline constexpr SecCSFlags kSecCSCheckAllArchitectures = 1;
inline constexpr SecCSFlags kSecCSStrictValidate = 16;

class StaticCode;
class Requirement;

struct StaticCodeRelease {
  void operator()(StaticCode* code) const noexcept;
};
struct RequirementRelease {
  void operator()(Requirement* requirement) const noexcept;
};
using StaticCodeRef = std::unique_ptr<StaticCode, StaticCodeRelease>;
using RequirementRef = std::unique_ptr<Requirement, RequirementRelease>;

// Opens the file for verification. A missing path, or one that is not a
// regular file, fails here; any regular file opens.
OSStatus SecStaticCodeCreateWithPath(const platform::FileURL& path, SecCSFlags flags,
                                     StaticCodeRef* staticCode);

// Verifies a file the caller has already opened (a regular file); the
// descriptor is duplicated, the caller keeps its own. A descriptor of
// anything else fails with errSecCSRegularFile.
OSStatus staticCodeCreateWithDescriptor(int fd, SecCSFlags flags, StaticCodeRef* staticCode);

// Compiles a requirement written in the code requirement language.
OSStatus SecRequirementCreateWithString(std::string_view text, SecCSFlags flags,
                                        RequirementRef* requirement);

// 0 when the code's signature is intact (for every architecture with
// kSecCSCheckAllArchitectures) and satisfies the requirement, if one is given.
OSStatus SecStaticCodeCheckValidity(const StaticCode* staticCode, SecCSFlags flags,
                                    const Requirement* requirement);

}  // namespace codesign
