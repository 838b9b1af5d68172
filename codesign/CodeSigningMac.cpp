// macOS: the three calls forward to the Security framework. Not built on
// other systems, where CodeSigning.cpp verifies signatures itself.

#include "codesign/CodeSigning.h"

#include <CoreFoundation/CoreFoundation.h>
#include <Security/Security.h>

namespace codesign {

// On macOS the opaque types are the framework's own objects.
class StaticCode;
class Requirement;

void StaticCodeRelease::operator()(StaticCode* code) const noexcept { CFRelease(reinterpret_cast<CFTypeRef>(code)); }
void RequirementRelease::operator()(Requirement* requirement) const noexcept {
  CFRelease(reinterpret_cast<CFTypeRef>(requirement));
}

OSStatus SecStaticCodeCreateWithPath(const platform::FileURL& path, SecCSFlags flags,
                                     StaticCodeRef* staticCode) {
  staticCode->reset();
  CFURLRef url = CFURLCreateFromFileSystemRepresentation(
      nullptr, reinterpret_cast<const UInt8*>(path.path.data()), static_cast<CFIndex>(path.path.size()), false);
  if (url == nullptr) return errSecCSStaticCodeNotFound;
  SecStaticCodeRef code = nullptr;
  const OSStatus status = ::SecStaticCodeCreateWithPath(url, flags, &code);
  CFRelease(url);
  if (code != nullptr) staticCode->reset(reinterpret_cast<StaticCode*>(const_cast<__SecCode*>(code)));
  return status;
}

OSStatus SecRequirementCreateWithString(std::string_view text, SecCSFlags flags, RequirementRef* requirement) {
  requirement->reset();
  CFStringRef string = CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(text.data()),
                                               static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false);
  if (string == nullptr) return errSecCSReqInvalid;
  SecRequirementRef compiled = nullptr;
  const OSStatus status = ::SecRequirementCreateWithString(string, flags, &compiled);
  CFRelease(string);
  if (compiled != nullptr) requirement->reset(reinterpret_cast<Requirement*>(const_cast<__SecRequirement*>(compiled)));
  return status;
}

OSStatus SecStaticCodeCheckValidity(const StaticCode* staticCode, SecCSFlags flags, const Requirement* requirement) {
  return ::SecStaticCodeCheckValidity(reinterpret_cast<SecStaticCodeRef>(const_cast<StaticCode*>(staticCode)), flags,
                                      reinterpret_cast<SecRequirementRef>(const_cast<Requirement*>(requirement)));
}

}  // namespace codesign
