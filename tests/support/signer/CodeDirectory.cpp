#include "CodeDirectory.h"

#include <algorithm>

namespace signer {

namespace {

constexpr std::uint32_t kCodeDirectoryMagic = 0xfade0c02;
constexpr std::uint32_t kVersionWithExecSegment = 0x20400;
constexpr std::uint32_t kVersionWithRuntime = 0x20500;

// The fixed header: 88 bytes up to the exec segment, 96 with the runtime
// version and the pre-encryption offset after it.
std::uint32_t headerSize(const CodeDirectoryFields& fields) { return fields.runtime != 0 ? 96 : 88; }

// Page shift 0 makes the whole code limit one page.
std::uint64_t pageSize(const CodeDirectoryFields& fields) {
  return fields.pageShift == 0 ? fields.codeLimit : std::uint64_t(1) << fields.pageShift;
}

std::uint64_t codeSlotCount(const CodeDirectoryFields& fields) {
  return fields.codeLimit == 0 ? 0 : (fields.codeLimit - 1) / pageSize(fields) + 1;
}

std::uint64_t stringsSize(const CodeDirectoryFields& fields) {
  return fields.identifier.size() + 1 + (fields.team ? fields.team->size() + 1 : 0);
}

void writeHeader(BlobWriter& out, const CodeDirectoryFields& fields, std::uint32_t length) {
  const std::uint32_t identOffset = headerSize(fields);
  const std::uint32_t teamOffset = fields.team ? identOffset + static_cast<std::uint32_t>(fields.identifier.size() + 1) : 0;
  const std::uint32_t specialSlots = static_cast<std::uint32_t>(fields.specialSlots.size());
  const std::uint64_t hashOffset = identOffset + stringsSize(fields) + specialSlots * digestSize(fields.hashType);
  out.be32(kCodeDirectoryMagic);
  out.be32(length);
  out.be32(fields.runtime != 0 ? kVersionWithRuntime : kVersionWithExecSegment);
  out.be32(fields.flags);
  out.be32(checkedU32(hashOffset, "hash offset"));
  out.be32(identOffset);
  out.be32(specialSlots);
  out.be32(checkedU32(codeSlotCount(fields), "code slot count"));
  out.be32(checkedU32(fields.codeLimit, "code limit"));
  out.u8(static_cast<std::uint8_t>(digestSize(fields.hashType)));
  out.u8(static_cast<std::uint8_t>(fields.hashType));
  out.u8(0);  // platform
  out.u8(static_cast<std::uint8_t>(fields.pageShift));
  out.be32(0);  // spare2
  out.be32(0);  // scatterOffset
  out.be32(teamOffset);
  out.be32(0);  // spare3
  out.be64(0);  // codeLimit64: the 32-bit limit is enough
  out.be64(fields.execSegBase);
  out.be64(fields.execSegLimit);
  out.be64(fields.execSegFlags);
  if (fields.runtime == 0) return;
  out.be32(fields.runtime);
  out.be32(0);  // preEncryptOffset
}

void writeStrings(BlobWriter& out, const CodeDirectoryFields& fields) {
  out.appendString(fields.identifier);
  out.u8(0);
  if (!fields.team) return;
  out.appendString(*fields.team);
  out.u8(0);
}

void writeSpecialSlots(BlobWriter& out, const CodeDirectoryFields& fields) {
  // Stored from the highest slot number down to slot -1, which sits right
  // before code slot 0.
  for (auto slot = fields.specialSlots.rbegin(); slot != fields.specialSlots.rend(); ++slot) {
    if (*slot) out.append(digest(fields.hashType, **slot));
    else out.zeros(digestSize(fields.hashType));
  }
}

void writePageHashes(BlobWriter& out, const CodeDirectoryFields& fields, std::span<const std::uint8_t> code) {
  const std::uint64_t page = pageSize(fields);
  for (std::uint64_t start = 0; start < fields.codeLimit; start += page)
    out.append(digest(fields.hashType, code.subspan(start, std::min(page, fields.codeLimit - start))));
}

}  // namespace

std::uint64_t codeDirectorySize(const CodeDirectoryFields& fields) {
  return headerSize(fields) + stringsSize(fields) + (fields.specialSlots.size() + codeSlotCount(fields)) * digestSize(fields.hashType);
}

Bytes buildCodeDirectory(const CodeDirectoryFields& fields, std::span<const std::uint8_t> slice) {
  if (fields.codeLimit > slice.size()) throw SignerError("code limit beyond the end of the slice");
  if (fields.pageShift >= 64) throw SignerError("page size must be below 2^64");
  const std::uint32_t length = checkedU32(codeDirectorySize(fields), "CodeDirectory");
  BlobWriter out;
  writeHeader(out, fields, length);
  writeStrings(out, fields);
  writeSpecialSlots(out, fields);
  writePageHashes(out, fields, slice);
  if (out.size() != length) throw SignerError("internal error: CodeDirectory size mismatch");
  return out.take();
}

}  // namespace signer
