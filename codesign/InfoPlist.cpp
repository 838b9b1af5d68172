#include "codesign/InfoPlist.h"

#include "codesign/FileSource.h"
#include "codesign/Limits.h"
#include "codesign/MachO.h"
#include "codesign/StaticCode.h"
#include "codesign/Status.h"
#include "codesign/requirement/PropertyListReader.h"

namespace codesign {
namespace {

OSStatus readInfoPlist(const FileSource& file, const MachOSlice& slice, std::string* plist) {
  if (!slice.infoPlist || slice.infoPlist->size > limits::kMaxInfoPlistBytes) return errSecCSInfoPlistFailed;
  Bytes section(static_cast<std::size_t>(slice.infoPlist->size));
  if (const OSStatus status = readExactly(file, slice.offset + slice.infoPlist->offset, section)) return status;
  plist->assign(section.begin(), section.end());
  return errSecSuccess;
}

}  // namespace

OSStatus copyBundleVersions(const StaticCode* staticCode, std::vector<std::optional<std::string>>* versions) {
  if (staticCode == nullptr || versions == nullptr) return errSecCSObjectRequired;
  versions->clear();
  MachOFile file;
  if (const OSStatus status = parseMachO(staticCode->file(), &file)) return status;
  for (const MachOSlice& slice : file.slices) {
    std::string plist;
    const OSStatus status = readInfoPlist(staticCode->file(), slice, &plist);
    if (status != errSecSuccess && status != errSecCSInfoPlistFailed) return status;
    versions->push_back(status == errSecSuccess ? bundleVersionOf(plist) : std::nullopt);
  }
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
