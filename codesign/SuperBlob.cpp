#include "codesign/SuperBlob.h"

#include "codesign/Limits.h"
#include "codesign/Status.h"

namespace codesign {
namespace {

constexpr std::uint64_t kBlobHeader = 8;
constexpr std::uint64_t kSuperBlobHeader = 12;
constexpr std::uint64_t kIndexEntry = 8;

// One index entry's blob: it starts after the index, and its own length
// (header included) stays inside the SuperBlob.
bool indexedBlob(const ByteReader& super, std::uint64_t indexEnd, std::uint32_t offset, ByteReader* out) {
  std::uint32_t length = 0;
  if (offset < indexEnd || !inRange(offset, kBlobHeader, super.size()) || !super.u32be(offset + 4, &length))
    return false;
  return length >= kBlobHeader && super.sub(offset, length, out);
}

}  // namespace

OSStatus SuperBlob::parse(const ByteReader& area, SuperBlob* out) {
  out->_entries.clear();
  std::uint32_t magic = 0, length = 0, count = 0;
  if (!area.u32be(0, &magic) || !area.u32be(4, &length) || !area.u32be(8, &count) ||
      magic != static_cast<std::uint32_t>(BlobMagic::embeddedSignature) || count > limits::kMaxBlobs)
    return errSecCSSignatureInvalid;
  const std::uint64_t indexEnd = kSuperBlobHeader + kIndexEntry * count;
  ByteReader super;
  if (length < indexEnd || !area.sub(0, length, &super)) return errSecCSSignatureInvalid;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t type = 0, offset = 0;
    ByteReader blob;
    if (!super.u32be(kSuperBlobHeader + kIndexEntry * i, &type) ||
        !super.u32be(kSuperBlobHeader + kIndexEntry * i + 4, &offset) ||
        !indexedBlob(super, indexEnd, offset, &blob) || out->find(type) != nullptr)
      return errSecCSSignatureInvalid;
    out->_entries.push_back({type, blob});
  }
  return errSecSuccess;
}

const ByteReader* SuperBlob::find(std::uint32_t type) const {
  for (const Entry& entry : _entries)
    if (entry.type == type) return &entry.blob;
  return nullptr;
}

std::uint32_t blobMagic(const ByteReader& blob) {
  std::uint32_t magic = 0;
  return blob.u32be(0, &magic) ? magic : 0;
}

bool blobWrapperPayload(const ByteReader& blob, ByteReader* payload) {
  return blobMagic(blob) == static_cast<std::uint32_t>(BlobMagic::blobWrapper) && blob.tail(kBlobHeader, payload);
}

}  // namespace codesign
