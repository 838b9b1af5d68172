#include "codesign/InfoPlist.h"

#include "codesign/FileSource.h"
#include "codesign/Limits.h"
#include "codesign/MachO.h"
#include "codesign/StaticCode.h"
#include "codesign/Status.h"
#include "codesign/requirement/PropertyListReader.h"

namespace codesign {

OSStatus copyInfoPlist(const StaticCode* staticCode, std::string* plist) {
  if (staticCode == nullptr || plist == nullptr) return errSecCSObjectRequired;
  plist->clear();
  MachOFile file;
  if (const OSStatus status = parseMachO(staticCode->file(), &file)) return status;
  const MachOSlice& slice = file.slices[mainSliceIndex(file)];
  if (!slice.infoPlist || slice.infoPlist->size > limits::kMaxInfoPlistBytes) return errSecCSInfoPlistFailed;
  Bytes section(static_cast<std::size_t>(slice.infoPlist->size));
  if (const OSStatus status = readExactly(staticCode->file(), slice.offset + slice.infoPlist->offset, section)) {
    return status;
  }
  plist->assign(section.begin(), section.end());
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

}  // namespace codesign
