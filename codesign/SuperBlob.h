#pragma once

// The embedded signature: a SuperBlob whose index names the blobs of one
// architecture's signature by slot.

#include <cstdint>
#include <vector>

#include "codesign/ByteReader.h"
#include "codesign/CodeSigning.h"

namespace codesign {

enum class BlobMagic : std::uint32_t {
  requirement = 0xfade0c00,
  requirements = 0xfade0c01,
  codeDirectory = 0xfade0c02,
  embeddedSignature = 0xfade0cc0,
  blobWrapper = 0xfade0b01,
  entitlements = 0xfade7171,
  derEntitlements = 0xfade7172,
  launchConstraint = 0xfade8181,
};

// SuperBlob index types (slots). Types not listed are kept as their number.
namespace slot {
inline constexpr std::uint32_t kCodeDirectory = 0;
inline constexpr std::uint32_t kInfoPlist = 1;
inline constexpr std::uint32_t kRequirements = 2;
inline constexpr std::uint32_t kResourceDirectory = 3;
inline constexpr std::uint32_t kTopDirectory = 4;
inline constexpr std::uint32_t kEntitlements = 5;
inline constexpr std::uint32_t kRepSpecific = 6;
inline constexpr std::uint32_t kDerEntitlements = 7;
inline constexpr std::uint32_t kLastSpecial = 11;  // special slots above this are ignored
inline constexpr std::uint32_t kAlternateCodeDirectory = 0x1000;
inline constexpr std::uint32_t kAlternateCodeDirectoryEnd = 0x1005;
inline constexpr std::uint32_t kSignature = 0x10000;
}  // namespace slot

class SuperBlob {
 public:
  struct Entry {
    std::uint32_t type;
    ByteReader blob;  // exactly the blob's own length
  };

  // Reads the SuperBlob at the start of the signature area. 0 or
  // errSecCSSignatureInvalid: wrong magic, a length beyond the area, an
  // index entry or blob outside the SuperBlob, a duplicated type.
  static OSStatus parse(const ByteReader& area, SuperBlob* out);

  // The blob in that slot, or null.
  const ByteReader* find(std::uint32_t type) const;
  const std::vector<Entry>& entries() const { return _entries; }

 private:
  std::vector<Entry> _entries;
};

// The magic of a blob (its first word), or 0 when it has none.
std::uint32_t blobMagic(const ByteReader& blob);

// The payload of a BlobWrapper (after its 8-byte header); false when the
// blob is not one.
bool blobWrapperPayload(const ByteReader& blob, ByteReader* payload);

}  // namespace codesign
