#include "codesign/CodeDirectory.h"

#include <algorithm>

#include "codesign/Limits.h"
#include "codesign/MachOWire.h"
#include "codesign/Status.h"
#include "codesign/SuperBlob.h"

namespace codesign {
namespace {

constexpr std::uint32_t kEarliestVersion = 0x20001;
constexpr std::uint32_t kLatestVersion = 0x2F000;
constexpr std::uint32_t kScatterVersion = 0x20100;
constexpr std::uint32_t kTeamVersion = 0x20200;
constexpr std::uint32_t kCodeLimit64Version = 0x20300;
constexpr std::uint32_t kRuntimeVersion = 0x20500;  // runtime and preEncryptOffset

// The CodeDirectory header as far as version 0x20500; fields of later
// versions follow it and are not used.
struct CodeDirectoryWire {
  std::uint32_t magic;
  std::uint32_t length;
  std::uint32_t version;
  std::uint32_t flags;
  std::uint32_t hashOffset;
  std::uint32_t identOffset;
  std::uint32_t nSpecialSlots;
  std::uint32_t nCodeSlots;
  std::uint32_t codeLimit;
  std::uint8_t hashSize;
  std::uint8_t hashType;
  std::uint8_t platform;
  std::uint8_t pageSize;
  std::uint32_t spare2;
  std::uint32_t scatterOffset;     // since 0x20100
  std::uint32_t teamOffset;        // since 0x20200
  std::uint32_t spare3;            // since 0x20300
  std::uint64_t codeLimit64;       // since 0x20300
  std::uint64_t execSegBase;       // since 0x20400
  std::uint64_t execSegLimit;      // since 0x20400
  std::uint64_t execSegFlags;      // since 0x20400
  std::uint32_t runtime;           // since 0x20500
  std::uint32_t preEncryptOffset;  // since 0x20500
};
static_assert(sizeof(CodeDirectoryWire) == 96);

void swap(CodeDirectoryWire& w) {
  constexpr ByteOrder o = ByteOrder::big;
  using macho::fix;
  fix(w.magic, o), fix(w.length, o), fix(w.version, o), fix(w.flags, o), fix(w.hashOffset, o);
  fix(w.identOffset, o), fix(w.nSpecialSlots, o), fix(w.nCodeSlots, o), fix(w.codeLimit, o);
  fix(w.spare2, o), fix(w.scatterOffset, o), fix(w.teamOffset, o), fix(w.spare3, o);
  fix(w.codeLimit64, o), fix(w.execSegBase, o), fix(w.execSegLimit, o), fix(w.execSegFlags, o);
  fix(w.runtime, o), fix(w.preEncryptOffset, o);
}

// Fields the blob's version does not have are treated as absent.
void clearLaterFields(CodeDirectoryWire& w) {
  if (w.version < kScatterVersion) w.scatterOffset = 0;
  if (w.version < kTeamVersion) w.teamOffset = 0;
  if (w.version < kCodeLimit64Version) w.codeLimit64 = 0;
  if (w.version < kRuntimeVersion) w.runtime = 0, w.preEncryptOffset = 0;
}

// The whole hash array, special slots below hashOffset and code slots above
// it, lies inside the blob after its magic and length.
bool hashArrayInside(const CodeDirectoryWire& w) {
  const std::uint64_t special = std::uint64_t{w.hashSize} * w.nSpecialSlots;
  const std::uint64_t code = std::uint64_t{w.hashSize} * w.nCodeSlots;
  if (w.hashOffset < special || w.hashOffset - special < 8) return false;
  if (!inRange(w.hashOffset - special, special + code, w.length)) return false;
  return w.preEncryptOffset == 0 || inRange(w.preEncryptOffset, code, w.length);
}

// Page size 0 makes the whole code limit one page. A shift of 64 or more
// names no page size a file could use.
bool pagingConsistent(const CodeDirectoryWire& w, std::uint64_t limit) {
  if (w.pageSize == 0) return w.nCodeSlots == (limit > 0 ? 1u : 0u);
  return w.pageSize < 64 && limit > 0 && w.nCodeSlots == ((limit - 1) >> w.pageSize) + 1;
}

}  // namespace

OSStatus CodeDirectory::parse(const ByteReader& blob, std::optional<CodeDirectory>* out) {
  out->reset();
  CodeDirectoryWire w{};
  if (!blob.copy(0, &w)) return errSecCSSignatureFailed;
  swap(w);
  if (w.magic != static_cast<std::uint32_t>(BlobMagic::codeDirectory) || w.length != blob.size())
    return errSecCSSignatureFailed;
  if (w.version < kEarliestVersion || w.version > kLatestVersion) return errSecCSSignatureUnsupported;
  clearLaterFields(w);
  if (w.scatterOffset != 0) return errSecCSSignatureUnsupported;  // never used for Mach-O
  CodeDirectory cd;
  std::string_view identifier, team;
  if (!blob.cString(w.identOffset, &identifier)) return errSecCSSignatureFailed;
  if (w.teamOffset != 0 && !blob.cString(w.teamOffset, &team)) return errSecCSSignatureFailed;
  cd._hashType = hashTypeFromByte(w.hashType);
  if (cd._hashType != HashType::unknown && w.hashSize != storedHashSize(cd._hashType))
    return errSecCSSignatureFailed;
  if (w.nSpecialSlots > limits::kMaxSpecialSlots || w.nCodeSlots > limits::kMaxCodeSlots ||
      !hashArrayInside(w))
    return errSecCSSignatureFailed;
  cd._codeLimit = w.codeLimit64 != 0 ? w.codeLimit64 : w.codeLimit;
  if (!pagingConsistent(w, cd._codeLimit)) return errSecCSSignatureFailed;
  cd._blob = blob;
  cd._version = w.version;
  cd._flags = w.flags;
  cd._identifier = std::string(identifier);
  if (w.teamOffset != 0) cd._teamIdentifier = std::string(team);
  cd._platform = w.platform;
  cd._pageShift = w.pageSize;
  cd._runtime = w.runtime;
  cd._hashSize = w.hashSize;
  cd._hashOffset = w.hashOffset;
  cd._nSpecialSlots = w.nSpecialSlots;
  cd._nCodeSlots = w.nCodeSlots;
  *out = std::move(cd);
  return errSecSuccess;
}

std::span<const std::uint8_t> CodeDirectory::specialSlotHash(std::uint32_t n) const {
  if (n == 0 || n > _nSpecialSlots) return {};
  return _blob.bytes().subspan(static_cast<std::size_t>(_hashOffset - std::uint64_t{n} * _hashSize), _hashSize);
}

bool CodeDirectory::specialSlotPresent(std::uint32_t n) const {
  const auto hash = specialSlotHash(n);
  return std::any_of(hash.begin(), hash.end(), [](std::uint8_t b) { return b != 0; });
}

std::span<const std::uint8_t> CodeDirectory::codeSlotHash(std::uint32_t i) const {
  if (i >= _nCodeSlots) return {};
  return _blob.bytes().subspan(static_cast<std::size_t>(_hashOffset + std::uint64_t{i} * _hashSize), _hashSize);
}

}  // namespace codesign
