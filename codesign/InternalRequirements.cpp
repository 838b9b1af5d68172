#include "codesign/InternalRequirements.h"

#include <set>

#include "codesign/Status.h"
#include "codesign/SuperBlob.h"

namespace codesign {
namespace {

constexpr std::uint64_t kSetHeader = 12;   // magic, length, count
constexpr std::uint64_t kIndexEntry = 8;   // type, offset
constexpr std::uint64_t kBlobHeader = 8;   // magic, length

// The requirement blob at offset, exactly as long as it says.
bool requirementAt(const ByteReader& set, std::uint32_t offset, ByteReader* out) {
  std::uint32_t magic = 0, length = 0;
  return set.u32be(offset, &magic) && set.u32be(std::uint64_t{offset} + 4, &length) &&
         magic == static_cast<std::uint32_t>(BlobMagic::requirement) && length >= kBlobHeader &&
         set.sub(offset, length, out);
}

}  // namespace

OSStatus readInternalRequirements(const ByteReader& set, InternalRequirements* out) {
  *out = {};
  std::uint32_t magic = 0, length = 0, count = 0;
  if (!set.u32be(0, &magic) || !set.u32be(4, &length) || !set.u32be(8, &count) ||
      magic != static_cast<std::uint32_t>(BlobMagic::requirements) || length != set.size() ||
      !inRange(kSetHeader, std::uint64_t{count} * kIndexEntry, set.size())) {
    return errSecCSReqInvalid;
  }
  InternalRequirements result;
  result.count = count;
  std::set<std::uint32_t> types;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t type = 0, offset = 0;
    const std::uint64_t entry = kSetHeader + std::uint64_t{i} * kIndexEntry;
    ByteReader blob;
    if (!set.u32be(entry, &type) || !set.u32be(entry + 4, &offset) ||
        offset < kSetHeader + std::uint64_t{count} * kIndexEntry || !requirementAt(set, offset, &blob) ||
        !types.insert(type).second) {
      return errSecCSReqInvalid;
    }
    if (type == kDesignatedRequirementType) result.designated = blob;
  }
  *out = result;
  return errSecSuccess;
}

}  // namespace codesign
