// macOS: each architecture's signed information list comes from the Security
// framework's signing information. Not built on other systems, where
// InfoPlist.cpp reads the lists out of the file itself.

#include "codesign/InfoPlist.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "codesign/SliceArchitectures.h"
#include "codesign/StaticCodeMac.h"
#include "codesign/Status.h"
#include "platform/ScopedFd.h"

namespace codesign {
namespace {

// The text of a CoreFoundation string, as UTF-8.
std::optional<std::string> utf8(CFStringRef text) {
  const CFIndex capacity = CFStringGetMaximumSizeForEncoding(CFStringGetLength(text), kCFStringEncodingUTF8) + 1;
  if (capacity <= 0) return std::nullopt;
  std::string buffer(static_cast<std::size_t>(capacity), '\0');
  if (!CFStringGetCString(text, buffer.data(), capacity, kCFStringEncodingUTF8)) return std::nullopt;
  buffer.resize(buffer.find('\0'));
  return buffer;
}

// The CFBundleVersion of the code's signed information list; nothing when
// it has no list, or a version that is not a string.
OSStatus bundleVersionOfCode(SecStaticCodeRef code, std::optional<std::string>* version) {
  version->reset();
  CFRef<CFDictionaryRef> information;
  const OSStatus status = SecCodeCopySigningInformation(code, kSecCSDefaultFlags, information.out());
  if (status != errSecSuccess) return status;
  if (!information) return errSecCSInternalError;
  const void* list = CFDictionaryGetValue(information.get(), kSecCodeInfoPList);
  if (list == nullptr || CFGetTypeID(list) != CFDictionaryGetTypeID()) return errSecSuccess;
  const CFRef<CFStringRef> key(CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>("CFBundleVersion"), 15,
                                                       kCFStringEncodingUTF8, false));
  if (!key) return errSecCSInternalError;
  const void* value = CFDictionaryGetValue(static_cast<CFDictionaryRef>(list), key.get());
  if (value != nullptr && CFGetTypeID(value) == CFStringGetTypeID()) *version = utf8(static_cast<CFStringRef>(value));
  return errSecSuccess;
}

// The start of the code's file, read from the file its path names now.
OSStatus readStart(const StaticCode& code, std::vector<std::uint8_t>* start) {
  const platform::ScopedFd file(::open(code.path().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!file.valid()) return errSecCSStaticCodeNotFound;
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return errSecCSRegularFile;
  if (code.pinned() && (info.st_dev != code.pinned()->device || info.st_ino != code.pinned()->inode)) {
    return errSecCSStaticCodeChanged;
  }
  start->resize(kSliceTableBytes);
  const ssize_t got = ::pread(file.get(), start->data(), start->size(), 0);
  if (got < 0) return kUnixErrorBase + errno;
  start->resize(static_cast<std::size_t>(got));
  return errSecSuccess;
}

// The framework's object for one slice of the code's file.
OSStatus createSlice(const StaticCode& code, const std::string& architecture, CFRef<SecStaticCodeRef>* slice) {
  const CFRef<CFURLRef> url = fileURL(code.path());
  const CFRef<CFStringRef> name(CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(architecture.data()),
                                                        static_cast<CFIndex>(architecture.size()),
                                                        kCFStringEncodingUTF8, false));
  if (!url || !name) return errSecCSInternalError;
  const void* keys[] = {kSecCodeAttributeArchitecture};
  const void* values[] = {name.get()};
  const CFRef<CFDictionaryRef> attributes(
      CFDictionaryCreate(nullptr, keys, values, 1, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  if (!attributes) return errSecCSInternalError;
  const OSStatus status =
      SecStaticCodeCreateWithPathAndAttributes(url.get(), kSecCSDefaultFlags, attributes.get(), slice->out());
  if (status != errSecSuccess) return status;
  return *slice ? errSecSuccess : errSecCSInternalError;
}

}  // namespace

OSStatus copyBundleVersions(const StaticCode* staticCode, std::vector<std::optional<std::string>>* versions) {
  if (staticCode == nullptr || versions == nullptr) return errSecCSObjectRequired;
  versions->clear();
  std::vector<std::uint8_t> start;
  std::vector<std::string> architectures;
  if (const OSStatus status = readStart(*staticCode, &start)) return status;
  if (const OSStatus status = sliceArchitectures(start, &architectures)) return status;
  std::vector<std::optional<std::string>> found;
  if (architectures.empty()) {  // a thin file
    found.emplace_back();
    if (const OSStatus status = bundleVersionOfCode(staticCode->code(), &found.back())) return status;
  }
  for (const std::string& architecture : architectures) {
    CFRef<SecStaticCodeRef> slice;
    found.emplace_back();
    if (const OSStatus status = createSlice(*staticCode, architecture, &slice)) return status;
    if (const OSStatus status = bundleVersionOfCode(slice.get(), &found.back())) return status;
  }
  *versions = std::move(found);
  return errSecSuccess;
}

}  // namespace codesign
