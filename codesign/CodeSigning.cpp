#include "codesign/CodeSigning.h"

#include <cerrno>
#include <ctime>
#include <new>

#include "platform/RegularFile.h"
#include "platform/ScopedFd.h"
#include "codesign/Requirement.h"
#include "codesign/StaticCode.h"
#include "codesign/Status.h"
#include "codesign/TrustedAnchors.h"
#include "codesign/Validation.h"

namespace codesign {
namespace {

// Creation accepts its one private bit, which asks for an online check we
// never make.
constexpr SecCSFlags kCreateFlags = 0x1;

// Every flag the framework accepts for a validity check. Those that only
// relax checking are accepted and ignored: the engine always checks fully.
constexpr SecCSFlags kValidityFlags = 0x1 | 0x2 | 0x4 | 0x8 | 0x10 | 0x40 | 0x80 | 0x100 | 0x200 | 0x400 |
                                      0x800 | 0x1000 | 0x2000 | 0x4000 | 0x8000 | 0x10000 | (1u << 25) |
                                      (1u << 28) | (1u << 29) | (1u << 30) | (1u << 31);
// Revocation cannot be checked offline; asking for it is refused.
constexpr SecCSFlags kEnforceRevocationChecks = 1u << 30;

// What a failed openRegularFileForReading means to the caller.
OSStatus statusForOpenErrno(int error) {
  if (error == ENOENT || error == ENOTDIR) return errSecCSStaticCodeNotFound;
  if (error == EINVAL) return errSecCSRegularFile;  // an item of another kind, never opened
  return kUnixErrorBase + error;
}

}  // namespace

void StaticCodeRelease::operator()(StaticCode* code) const noexcept { delete code; }

OSStatus SecStaticCodeCreateWithPath(const platform::FileURL& path, SecCSFlags flags,
                                     StaticCodeRef* staticCode) {
  if (staticCode == nullptr) return errSecCSObjectRequired;
  staticCode->reset();
  if ((flags & ~kCreateFlags) != 0) return errSecCSInvalidFlags;
  if (path.path.empty()) return errSecCSStaticCodeNotFound;
  const platform::ScopedFd file = platform::openRegularFileForReading(path.path);
  if (!file.valid()) return statusForOpenErrno(errno);
  return staticCodeCreateWithDescriptor(file.get(), flags, staticCode);
}

OSStatus staticCodeCreateWithDescriptor(int fd, SecCSFlags flags, StaticCodeRef* staticCode) {
  if (staticCode == nullptr) return errSecCSObjectRequired;
  staticCode->reset();
  if ((flags & ~kCreateFlags) != 0) return errSecCSInvalidFlags;
  std::unique_ptr<DescriptorFile> file;
  if (const OSStatus status = DescriptorFile::open(fd, &file)) return status;
  staticCode->reset(new (std::nothrow) StaticCode(std::move(file)));
  return *staticCode ? errSecSuccess : errSecAllocate;
}

OSStatus SecRequirementCreateWithString(std::string_view text, SecCSFlags flags, RequirementRef* requirement) {
  if (requirement == nullptr) return errSecCSObjectRequired;
  requirement->reset();
  if (flags != kSecCSDefaultFlags) return errSecCSInvalidFlags;
  return Requirement::compile(text, requirement);
}

OSStatus SecStaticCodeCheckValidity(const StaticCode* staticCode, SecCSFlags flags, const Requirement* requirement) {
  return checkStaticCode(staticCode, flags, requirement, isTrustedAnchor);
}

OSStatus checkStaticCode(const StaticCode* staticCode, SecCSFlags flags, const Requirement* requirement,
                         const AnchorPredicate& isAnchor, FailureDetail* failure) {
  if (staticCode == nullptr) return errSecCSObjectRequired;
  if ((flags & ~kValidityFlags) != 0) return errSecCSInvalidFlags;
  if ((flags & kEnforceRevocationChecks) != 0) return errSecCSUnimplemented;
  const std::vector<Bytes> anchors = trustedAnchorCertificates();
  const ValidationPolicy policy{isAnchor, std::time(nullptr), anchors, failure};
  return checkValidity(staticCode->file(), flags, requirement, policy);
}

}  // namespace codesign
