#include "codesign/EmbeddedSignature.h"

#include <algorithm>
#include <cstring>

#include "codesign/FailureDetail.h"
#include "codesign/Limits.h"
#include "codesign/Status.h"

namespace codesign {
namespace {

constexpr std::uint64_t kBlobHeaderSize = 8;  // magic and length

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

OSStatus EmbeddedSignature::load(const FileSource& file, const MachOSlice& layout,
                                 std::unique_ptr<EmbeddedSignature>* out, std::string* why) {
  out->reset();
  if (!layout.codeSignature) return explain(why, errSecCSUnsigned, "the code is not signed (no LC_CODE_SIGNATURE)");
  std::unique_ptr<EmbeddedSignature> signature(new EmbeddedSignature());
  if (const OSStatus status = signature->readSuperBlob(file, layout, why)) return status;
  if (const OSStatus status = SuperBlob::parse(ByteReader(signature->_signature), &signature->_superBlob))
    return explain(why, status, "the signature's SuperBlob is malformed");
  if (const OSStatus status = signature->loadDirectories(why)) return status;
  if (const OSStatus status = signature->readInfoPlist(file, layout))
    return explain(why, status, readFailure(status));
  *out = std::move(signature);
  return errSecSuccess;
}

// The signature area up to the SuperBlob's own length (padding follows it);
// a length beyond the area is left for SuperBlob::parse to refuse.
OSStatus EmbeddedSignature::readSuperBlob(const FileSource& file, const MachOSlice& layout, std::string* why) {
  const FileRange& area = *layout.codeSignature;
  if (!inRange(area.offset, area.size, layout.size) || area.size < kBlobHeaderSize)
    return explain(why, errSecCSSignatureInvalid, "LC_CODE_SIGNATURE names bytes outside the slice");
  std::uint8_t header[kBlobHeaderSize];
  if (const OSStatus status = readExactly(file, layout.offset + area.offset, header))
    return explain(why, status, readFailure(status));
  std::uint32_t length = 0;
  (void)ByteReader(header).u32be(4, &length);
  const std::uint64_t size = std::min<std::uint64_t>(std::max<std::uint64_t>(length, kBlobHeaderSize), area.size);
  if (size > limits::kMaxSignatureBytes)
    return explain(why, errSecCSSignatureInvalid, "the signature is larger than any the engine reads");
  _signature.resize(static_cast<std::size_t>(size));
  const OSStatus status = readExactly(file, layout.offset + area.offset, _signature);
  return status ? explain(why, status, readFailure(status)) : status;
}

// A larger Info.plist is left unread: its slot then fails, as a missing one.
OSStatus EmbeddedSignature::readInfoPlist(const FileSource& file, const MachOSlice& layout) {
  if (!layout.infoPlist || layout.infoPlist->size > limits::kMaxInfoPlistBytes) return errSecSuccess;
  Bytes plist(static_cast<std::size_t>(layout.infoPlist->size));
  if (const OSStatus status = readExactly(file, layout.offset + layout.infoPlist->offset, plist)) return status;
  _infoPlist = std::move(plist);
  return errSecSuccess;
}

OSStatus EmbeddedSignature::loadDirectories(std::string* why) {
  for (std::uint32_t type = slot::kCodeDirectory; type < slot::kAlternateCodeDirectoryEnd;
       type = type == slot::kCodeDirectory ? slot::kAlternateCodeDirectory : type + 1) {
    const ByteReader* blob = _superBlob.find(type);
    if (blob == nullptr) {
      if (type == slot::kCodeDirectory) return explain(why, errSecCSUnsigned, "the signature has no CodeDirectory");
      continue;
    }
    std::optional<CodeDirectory> cd;
    if (const OSStatus status = CodeDirectory::parse(*blob, &cd))
      return explain(why, status, "the CodeDirectory in slot " + hexNumber(type) + " is malformed or unsupported");
    _directories.push_back(std::move(*cd));
  }
  for (const CodeDirectory& cd : _directories) {
    for (const CodeDirectory* seen : _usable)
      if (seen->hashType() == cd.hashType())
        return explain(why, errSecCSSignatureInvalid,
                       "two CodeDirectories have hash type " + std::string(hashTypeName(cd.hashType())));
    if (cd.hashType() == HashType::unknown) continue;
    _usable.push_back(&cd);
    if (_best == nullptr || hashRank(cd.hashType()) > hashRank(_best->hashType())) _best = &cd;
  }
  if (_best == nullptr)
    return explain(why, errSecCSUnsupportedDigestAlgorithm, "no CodeDirectory has a hash type the engine knows");
  return errSecSuccess;
}

bool EmbeddedSignature::adhoc() const {
  return std::any_of(_directories.begin(), _directories.end(), [](const auto& cd) { return cd.adhoc(); });
}

std::optional<ByteReader> EmbeddedSignature::component(std::uint32_t n) const {
  if (n == slot::kInfoPlist) {
    if (!_infoPlist) return std::nullopt;
    return ByteReader(*_infoPlist);
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

OSStatus EmbeddedSignature::verifySpecialSlots(FailureDetail* detail) const {
  for (std::uint32_t n = slot::kLastSpecial; n >= 1; --n) {
    if (n == slot::kResourceDirectory) continue;  // judged with the resources, once
    for (const CodeDirectory* cd : _usable) {
      if (!cd->specialSlotPresent(n)) continue;
      const auto bytes = component(n);
      if (!bytes && wrappedSlot(n) && _superBlob.find(n) != nullptr)
        return explain(detail, errSecCSSignatureInvalid, cd->hashType(), specialSlotName(n) + " is not a wrapped blob");
      if (!bytes) return explain(detail, slotFailure(n), cd->hashType(), specialSlotName(n) + " is sealed but missing");
      if (!hashMatches(*cd, n, *bytes))
        return explain(detail, slotFailure(n), cd->hashType(), specialSlotName(n) + " does not match its hash");
    }
  }
  const OSStatus status = verifyTopDirectory();
  return status ? explain(detail, status, _best->hashType(),
                          specialSlotName(slot::kTopDirectory) + " does not list exactly the signature's blobs")
                : status;
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

}  // namespace codesign
