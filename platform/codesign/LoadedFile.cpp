#include "platform/codesign/LoadedFile.h"

#include <cerrno>
#include <new>
#include <optional>

#include "platform/SystemCall.h"
#include "platform/codesign/Status.h"

namespace platform::codesign {
namespace {

OSStatus statusForErrno(int error) {
  if (error == ENOENT || error == ENOTDIR) return errSecCSStaticCodeNotFound;
  if (error == EINVAL) return errSecCSRegularFile;  // see contentsOfRegularFile
  return kUnixErrorBase + error;
}

}  // namespace

OSStatus LoadedFile::open(const std::string& path, std::unique_ptr<LoadedFile>* out) {
  out->reset();
  if (path.empty()) return errSecCSStaticCodeNotFound;
  std::optional<std::string> contents = contentsOfRegularFile(path);
  if (!contents) return statusForErrno(errno);
  out->reset(new (std::nothrow) LoadedFile(std::move(*contents)));
  return *out ? errSecSuccess : errSecAllocate;
}

ByteReader LoadedFile::bytes() const {
  // Viewing char storage as unsigned bytes is allowed aliasing.
  return ByteReader(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(_contents.data()),
                                                  _contents.size()));
}

}  // namespace platform::codesign
