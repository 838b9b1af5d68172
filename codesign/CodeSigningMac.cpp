// macOS: the code-signing calls forward to the Security framework. Not built
// on other systems, where CodeSigning.cpp verifies signatures itself.
//
// The framework reads files by path. Code opened by descriptor is handed to
// it by the path the kernel gives for that descriptor, which must name the
// same file before and after the framework has read it; the installer only
// opens its own staged copies that way, in a folder no one but root may
// change.

#include "codesign/CodeSigning.h"

#include <fcntl.h>
#include <sys/param.h>
#include <sys/stat.h>

#include <cerrno>

#include "codesign/StaticCodeMac.h"
#include "codesign/Status.h"

namespace codesign {
namespace {

constexpr SecCSFlags kCreateFlags = kSecCSDefaultFlags;

// The framework's object for `path`, owned by `staticCode`.
OSStatus createWithPath(const std::string& path, SecCSFlags flags, std::optional<FileIdentity> pinned,
                        StaticCodeRef* staticCode) {
  const CFRef<CFURLRef> url = fileURL(path);
  if (!url) return errSecCSStaticCodeNotFound;
  CFRef<SecStaticCodeRef> code;
  const OSStatus status = ::SecStaticCodeCreateWithPath(url.get(), flags, code.out());
  if (status != errSecSuccess) return status;
  if (!code) return errSecCSInternalError;
  staticCode->reset(new StaticCode(std::move(code), path, pinned));
  return errSecSuccess;
}

// The path the kernel knows for an open descriptor.
std::optional<std::string> pathOfDescriptor(int fd) {
  char path[MAXPATHLEN] = {};
  if (::fcntl(fd, F_GETPATH, path) != 0) return std::nullopt;
  return std::string(path);
}

}  // namespace

void StaticCodeRelease::operator()(StaticCode* code) const noexcept { delete code; }
void RequirementRelease::operator()(Requirement* requirement) const noexcept { delete requirement; }

CFRef<CFURLRef> fileURL(const std::string& path) {
  return CFRef<CFURLRef>(CFURLCreateFromFileSystemRepresentation(
      nullptr, reinterpret_cast<const UInt8*>(path.data()), static_cast<CFIndex>(path.size()), false));
}

bool namesFile(const std::string& path, const FileIdentity& identity) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_dev == identity.device &&
         info.st_ino == identity.inode;
}

OSStatus SecStaticCodeCreateWithPath(const platform::FileURL& path, SecCSFlags flags,
                                     StaticCodeRef* staticCode) {
  if (staticCode == nullptr) return errSecCSObjectRequired;
  staticCode->reset();
  if ((flags & ~kCreateFlags) != 0) return errSecCSInvalidFlags;
  if (path.path.empty()) return errSecCSStaticCodeNotFound;
  return createWithPath(path.path, flags, std::nullopt, staticCode);
}

OSStatus staticCodeCreateWithDescriptor(int fd, SecCSFlags flags, StaticCodeRef* staticCode) {
  if (staticCode == nullptr) return errSecCSObjectRequired;
  staticCode->reset();
  if ((flags & ~kCreateFlags) != 0) return errSecCSInvalidFlags;
  struct stat info {};
  if (::fstat(fd, &info) != 0) return kUnixErrorBase + errno;
  if (!S_ISREG(info.st_mode)) return errSecCSRegularFile;
  const std::optional<std::string> path = pathOfDescriptor(fd);
  const FileIdentity identity{info.st_dev, info.st_ino};
  if (!path || !namesFile(*path, identity)) return errSecCSStaticCodeNotFound;
  return createWithPath(*path, flags, identity, staticCode);
}

OSStatus SecRequirementCreateWithString(std::string_view text, SecCSFlags flags, RequirementRef* requirement) {
  if (requirement == nullptr) return errSecCSObjectRequired;
  requirement->reset();
  const CFRef<CFStringRef> string(CFStringCreateWithBytes(
      nullptr, reinterpret_cast<const UInt8*>(text.data()), static_cast<CFIndex>(text.size()),
      kCFStringEncodingUTF8, false));
  if (!string) return errSecCSReqInvalid;
  CFRef<SecRequirementRef> compiled;
  const OSStatus status = ::SecRequirementCreateWithString(string.get(), flags, compiled.out());
  if (status != errSecSuccess) return status;
  if (!compiled) return errSecCSInternalError;
  requirement->reset(new Requirement(std::move(compiled)));
  return errSecSuccess;
}

// For code opened by descriptor, success also needs the path to name the
// same file once the framework has read it.
OSStatus SecStaticCodeCheckValidity(const StaticCode* staticCode, SecCSFlags flags, const Requirement* requirement) {
  if (staticCode == nullptr) return errSecCSObjectRequired;
  const OSStatus status = ::SecStaticCodeCheckValidity(staticCode->code(), flags,
                                                        requirement == nullptr ? nullptr : requirement->get());
  if (status != errSecSuccess) return status;
  if (staticCode->pinned() && !namesFile(staticCode->path(), *staticCode->pinned())) {
    return errSecCSStaticCodeChanged;
  }
  return errSecSuccess;
}

}  // namespace codesign
