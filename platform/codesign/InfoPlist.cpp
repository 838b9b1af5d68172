#include "platform/codesign/InfoPlist.h"

#include "platform/codesign/MachO.h"
#include "platform/codesign/StaticCode.h"
#include "platform/codesign/Status.h"
#include "platform/codesign/requirement/PropertyListReader.h"

namespace platform::codesign {

OSStatus copyInfoPlist(const StaticCode* staticCode, std::string* plist) {
  if (staticCode == nullptr || plist == nullptr) return errSecCSObjectRequired;
  plist->clear();
  const ByteReader bytes = staticCode->file().bytes();
  MachOFile file;
  if (const OSStatus status = parseMachO(bytes, &file)) return status;
  const MachOSlice& slice = file.slices[mainSliceIndex(file)];
  ByteReader section;
  if (!slice.infoPlist || !bytes.sub(slice.offset, slice.size, &section) ||
      !section.sub(slice.infoPlist->offset, slice.infoPlist->size, &section)) {
    return errSecCSInfoPlistFailed;
  }
  plist->assign(section.bytes().begin(), section.bytes().end());
  return errSecSuccess;
}

std::optional<std::string> bundleVersionOf(const std::string& plist) {
  requirement::Value dictionary;
  // A list compiled in as a C string ends with its NUL.
  const Bytes data(plist.begin(), plist.begin() + static_cast<std::ptrdiff_t>(plist.find_last_not_of('\0') + 1));
  if (requirement::readPropertyListDictionary(data, &dictionary) != errSecSuccess) return std::nullopt;
  const requirement::Value* version = dictionary.find("CFBundleVersion");
  if (version == nullptr || version->type != requirement::Value::Type::String) return std::nullopt;
  return version->text;
}

}  // namespace platform::codesign
