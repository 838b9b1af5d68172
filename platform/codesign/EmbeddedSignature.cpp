#include "platform/codesign/EmbeddedSignature.h"

#include <algorithm>
#include <cstring>

#include "platform/codesign/Status.h"

namespace platform::codesign {
namespace {

OSStatus slotFailure(std::uint32_t n) { return n == slot::kInfoPlist ? errSecCSInfoPlistFailed : errSecCSSignatureFailed; }

bool hashMatches(const CodeDirectory& cd, std::uint32_t n, const ByteReader& bytes) {
  const ossl::MD md = fetchDigest(cd.hashType());
  const Bytes actual = digest(md.get(), bytes.bytes());
  const auto stored = cd.specialSlotHash(n);
  return !stored.empty() && actual.size() >= stored.size() &&
         std::memcmp(actual.data(), stored.data(), stored.size()) == 0;
}

// Slots whose component is raw data carried in a BlobWrapper.
bool wrappedSlot(std::uint32_t n) { return n == slot::kTopDirectory || n == slot::kRepSpecific; }

}  // namespace

OSStatus EmbeddedSignature::load(const ByteReader& slice, const MachOSlice& layout,
                                 std::unique_ptr<EmbeddedSignature>* out) {
  out->reset();
  if (!layout.codeSignature) return errSecCSUnsigned;
  std::unique_ptr<EmbeddedSignature> signature(new EmbeddedSignature());
  signature->_slice = slice;
  signature->_layout = layout;
  ByteReader area;
  if (!slice.sub(layout.codeSignature->offset, layout.codeSignature->size, &area)) return errSecCSSignatureInvalid;
  if (const OSStatus status = SuperBlob::parse(area, &signature->_superBlob)) return status;
  if (const OSStatus status = signature->loadDirectories()) return status;
  *out = std::move(signature);
  return errSecSuccess;
}

OSStatus EmbeddedSignature::loadDirectories() {
  for (std::uint32_t type = slot::kCodeDirectory; type < slot::kAlternateCodeDirectoryEnd;
       type = type == slot::kCodeDirectory ? slot::kAlternateCodeDirectory : type + 1) {
    const ByteReader* blob = _superBlob.find(type);
    if (blob == nullptr) {
      if (type == slot::kCodeDirectory) return errSecCSUnsigned;
      continue;
    }
    std::optional<CodeDirectory> cd;
    if (const OSStatus status = CodeDirectory::parse(*blob, &cd)) return status;
    _directories.push_back(std::move(*cd));
  }
  for (const CodeDirectory& cd : _directories) {
    for (const CodeDirectory* seen : _usable)
      if (seen->hashType() == cd.hashType()) return errSecCSSignatureInvalid;
    if (cd.hashType() == HashType::unknown) continue;
    _usable.push_back(&cd);
    if (_best == nullptr || hashRank(cd.hashType()) > hashRank(_best->hashType())) _best = &cd;
  }
  return _best == nullptr ? errSecCSUnsupportedDigestAlgorithm : errSecSuccess;
}

bool EmbeddedSignature::adhoc() const {
  return std::any_of(_directories.begin(), _directories.end(), [](const auto& cd) { return cd.adhoc(); });
}

std::optional<ByteReader> EmbeddedSignature::component(std::uint32_t n) const {
  if (n == slot::kInfoPlist) {
    ByteReader plist;
    if (!_layout.infoPlist || !_slice.sub(_layout.infoPlist->offset, _layout.infoPlist->size, &plist))
      return std::nullopt;
    return plist;
  }
  const ByteReader* blob = _superBlob.find(n);
  if (blob == nullptr) return std::nullopt;
  ByteReader payload;
  if (wrappedSlot(n)) {
    if (!blobWrapperPayload(*blob, &payload)) return std::nullopt;
    return payload;
  }
  return *blob;
}

bool EmbeddedSignature::slotMatches(std::uint32_t n, const ByteReader& bytes) const {
  return hashMatches(*_best, n, bytes);
}

OSStatus EmbeddedSignature::verifySpecialSlots() const {
  for (std::uint32_t n = slot::kLastSpecial; n >= 1; --n) {
    if (n == slot::kResourceDirectory) continue;  // judged with the resources, once
    for (const CodeDirectory* cd : _usable) {
      if (!cd->specialSlotPresent(n)) continue;
      const auto bytes = component(n);
      if (!bytes && wrappedSlot(n) && _superBlob.find(n) != nullptr) return errSecCSSignatureInvalid;
      if (!bytes || !hashMatches(*cd, n, *bytes)) return slotFailure(n);
    }
  }
  return verifyTopDirectory();
}

// The top-directory list names exactly the slots this signature fills: 0,
// the present special slots, each alternate directory, then the CMS slot.
OSStatus EmbeddedSignature::verifyTopDirectory() const {
  if (!_best->specialSlotPresent(slot::kTopDirectory)) return errSecSuccess;
  std::vector<std::uint32_t> expected{slot::kCodeDirectory};
  for (std::uint32_t n = 1; n <= slot::kLastSpecial; ++n)
    if (_best->specialSlotPresent(n)) expected.push_back(n);
  for (std::uint32_t type = slot::kAlternateCodeDirectory; type < slot::kAlternateCodeDirectoryEnd; ++type)
    if (_superBlob.find(type) != nullptr) expected.push_back(type);
  expected.push_back(slot::kSignature);
  const auto list = component(slot::kTopDirectory);
  if (!list || list->size() != expected.size() * 4) return errSecCSSignatureFailed;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    std::uint32_t value = 0;
    if (!list->u32be(i * 4, &value) || value != expected[i]) return errSecCSSignatureFailed;
  }
  return errSecSuccess;
}

}  // namespace platform::codesign
