// The cross build's stand-in for <Security/Security.h>: only the code
// signing types, flags, keys and calls the macOS tool uses,
// as Apple documents them. A build on a Mac uses the SDK's header instead.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t SecCSFlags;
typedef struct __SecCode* SecCodeRef;
typedef const struct __SecCode* SecStaticCodeRef;
typedef struct __SecRequirement* SecRequirementRef;

enum {
  kSecCSDefaultFlags = 0,
  kSecCSCheckAllArchitectures = 1u << 0,
  kSecCSStrictValidate = 1u << 4
};


extern const CFStringRef kSecCodeInfoPList;
extern const CFStringRef kSecCodeAttributeArchitecture;

OSStatus SecStaticCodeCreateWithPath(CFURLRef path, SecCSFlags flags, SecStaticCodeRef* staticCode);
OSStatus SecStaticCodeCreateWithPathAndAttributes(CFURLRef path, SecCSFlags flags, CFDictionaryRef attributes,
                                                  SecStaticCodeRef* staticCode);
OSStatus SecStaticCodeCheckValidity(SecStaticCodeRef staticCode, SecCSFlags flags, SecRequirementRef requirement);
OSStatus SecRequirementCreateWithString(CFStringRef text, SecCSFlags flags, SecRequirementRef* requirement);
OSStatus SecCodeCopySigningInformation(SecStaticCodeRef code, SecCSFlags flags, CFDictionaryRef* information);

#ifdef __cplusplus
}
#endif
