// macOS: the signed information lists come from the Security framework's
// signing information. Not built on other systems, where InfoPlist.cpp reads
// them out of the file itself.

#include "codesign/InfoPlist.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "codesign/Limits.h"
#include "codesign/SliceArchitectures.h"
#include "codesign/StaticCodeMac.h"
#include "codesign/Status.h"
#include "platform/ScopedFd.h"

namespace codesign {
namespace {

// The dictionary's bytes as an XML property list.
OSStatus xmlBytes(CFDictionaryRef dictionary, std::string* plist) {
  const CFRef<CFDataRef> data(
      CFPropertyListCreateData(nullptr, dictionary, kCFPropertyListXMLFormat_v1_0, 0, nullptr));
  if (!data) return errSecCSInfoPlistFailed;
  const CFIndex length = CFDataGetLength(data.get());
  if (length < 0 || static_cast<std::uint64_t>(length) > limits::kMaxInfoPlistBytes) return errSecCSInfoPlistFailed;
  const UInt8* bytes = CFDataGetBytePtr(data.get());
  if (bytes == nullptr && length != 0) return errSecCSInfoPlistFailed;
  plist->assign(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
  return errSecSuccess;
}

OSStatus copyInfoPlistOf(SecStaticCodeRef code, std::string* plist) {
  CFRef<CFDictionaryRef> information;
  const OSStatus status = SecCodeCopySigningInformation(code, kSecCSDefaultFlags, information.out());
  if (status != errSecSuccess) return status;
  if (!information) return errSecCSInternalError;
  const void* value = CFDictionaryGetValue(information.get(), kSecCodeInfoPList);
  if (value == nullptr || CFGetTypeID(value) != CFDictionaryGetTypeID()) return errSecCSInfoPlistFailed;
  return xmlBytes(static_cast<CFDictionaryRef>(value), plist);
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

OSStatus copyInfoPlist(const StaticCode* staticCode, std::string* plist) {
  if (staticCode == nullptr || plist == nullptr) return errSecCSObjectRequired;
  plist->clear();
  return copyInfoPlistOf(staticCode->code(), plist);
}

OSStatus copyInfoPlists(const StaticCode* staticCode, std::vector<std::string>* plists) {
  if (staticCode == nullptr || plists == nullptr) return errSecCSObjectRequired;
  plists->clear();
  std::vector<std::uint8_t> start;
  std::vector<std::string> architectures;
  if (const OSStatus status = readStart(*staticCode, &start)) return status;
  if (const OSStatus status = sliceArchitectures(start, &architectures)) return status;
  std::vector<std::string> found;
  if (architectures.empty()) {
    found.emplace_back();
    if (const OSStatus status = copyInfoPlistOf(staticCode->code(), &found.back())) return status;
  }
  for (const std::string& architecture : architectures) {
    CFRef<SecStaticCodeRef> slice;
    found.emplace_back();
    if (const OSStatus status = createSlice(*staticCode, architecture, &slice)) return status;
    if (const OSStatus status = copyInfoPlistOf(slice.get(), &found.back())) return status;
  }
  *plists = std::move(found);
  return errSecSuccess;
}

std::optional<std::string> bundleVersionOf(const std::string& plist) {
  if (plist.size() > limits::kMaxInfoPlistBytes) return std::nullopt;
  const CFRef<CFDataRef> data(
      CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(plist.data()), static_cast<CFIndex>(plist.size())));
  if (!data) return std::nullopt;
  const CFRef<CFPropertyListRef> list(
      CFPropertyListCreateWithData(nullptr, data.get(), kCFPropertyListImmutable, nullptr, nullptr));
  if (!list || CFGetTypeID(list.get()) != CFDictionaryGetTypeID()) return std::nullopt;
  const CFRef<CFStringRef> key(CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>("CFBundleVersion"), 15,
                                                       kCFStringEncodingUTF8, false));
  if (!key) return std::nullopt;
  const void* version = CFDictionaryGetValue(static_cast<CFDictionaryRef>(list.get()), key.get());
  if (version == nullptr || CFGetTypeID(version) != CFStringGetTypeID()) return std::nullopt;
  const CFStringRef text = static_cast<CFStringRef>(version);
  const CFIndex capacity = CFStringGetMaximumSizeForEncoding(CFStringGetLength(text), kCFStringEncodingUTF8) + 1;
  if (capacity <= 0) return std::nullopt;
  std::string buffer(static_cast<std::size_t>(capacity), '\0');
  if (!CFStringGetCString(text, buffer.data(), capacity, kCFStringEncodingUTF8)) return std::nullopt;
  buffer.resize(buffer.find('\0'));
  return buffer;
}

}  // namespace codesign
