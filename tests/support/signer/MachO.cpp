#include "MachO.h"

#include <algorithm>
#include <cstdio>

namespace signer {

namespace {

constexpr std::uint32_t kMagic64 = 0xfeedfacf;
constexpr std::uint64_t kHeaderSize = 32;
constexpr std::uint32_t kMaxCommands = 1024;
constexpr std::uint32_t kSegment64 = 0x19;
constexpr std::uint32_t kCodeSignature = 0x1d;
constexpr std::uint64_t kSegmentCommandSize = 72;
constexpr std::uint64_t kSectionSize = 80;
constexpr std::uint64_t kCodeSignatureCommandSize = 16;

bool isSignableFileType(std::uint32_t filetype) {
  // Executable, preload, dylib, dylinker, bundle, kext bundle.
  return filetype == 2 || filetype == 5 || filetype == 6 || filetype == 7 || filetype == 8 || filetype == 0xb;
}

bool isZeroFill(std::uint32_t sectionFlags) {
  const std::uint32_t type = sectionFlags & 0xff;
  return type == 0x1 || type == 0xc || type == 0x12;
}

std::uint64_t segmentPageSize(std::uint32_t cputype) { return cputype == kCpuTypeARM64 ? 0x4000 : 0x1000; }

void parseSections(const ByteReader& in, std::uint64_t command, std::uint32_t nsects, MachOLayout& layout) {
  for (std::uint32_t i = 0; i < nsects; ++i) {
    const std::uint64_t section = command + kSegmentCommandSize + kSectionSize * i;
    const std::uint64_t size = in.le64(section + 40, "section size");
    const std::uint32_t offset = in.le32(section + 48, "section offset");
    if (isZeroFill(in.le32(section + 64, "section flags")) || size == 0) continue;
    if (!rangeFits(offset, size, in.size())) throw SignerError("a section's contents lie outside the file");
    layout.firstSectionData = std::min<std::uint64_t>(layout.firstSectionData, offset);
    if (in.name16(section, "section name") == "__info_plist" && in.name16(section + 16, "segment name") == "__TEXT")
      layout.infoPlist = FileRange{offset, size};
  }
}

void parseSegment(const ByteReader& in, std::uint64_t command, std::uint32_t cmdsize, MachOLayout& layout) {
  if (cmdsize < kSegmentCommandSize) throw SignerError("LC_SEGMENT_64 shorter than its structure");
  const std::uint32_t nsects = in.le32(command + 64, "segment section count");
  if (nsects > (cmdsize - kSegmentCommandSize) / kSectionSize)
    throw SignerError("LC_SEGMENT_64 holds more sections than its size allows");
  SegmentInfo segment{command, in.le64(command + 40, "segment fileoff"), in.le64(command + 48, "segment filesize")};
  if (!rangeFits(segment.fileoff, segment.filesize, in.size())) throw SignerError("a segment lies outside the file");
  const std::string name = in.name16(command + 8, "segment name");
  if (name == "__TEXT") layout.text = segment;
  if (name == "__LINKEDIT") layout.linkedit = segment;
  parseSections(in, command, nsects, layout);
}

void parseCodeSignature(const ByteReader& in, std::uint64_t command, std::uint32_t cmdsize, MachOLayout& layout) {
  if (cmdsize != kCodeSignatureCommandSize) throw SignerError("LC_CODE_SIGNATURE has the wrong size");
  if (layout.codeSignatureCommand) throw SignerError("more than one LC_CODE_SIGNATURE");
  layout.codeSignatureCommand = command;
  layout.signature = {in.le32(command + 8, "signature offset"), in.le32(command + 12, "signature size")};
  if (!rangeFits(layout.signature.offset, layout.signature.size, in.size()))
    throw SignerError("the code signature lies outside the file");
}

void parseCommands(const ByteReader& in, MachOLayout& layout) {
  std::uint64_t command = kHeaderSize;
  for (std::uint32_t i = 0; i < layout.ncmds; ++i) {
    const std::uint32_t cmd = in.le32(command, "load command");
    const std::uint32_t cmdsize = in.le32(command + 4, "load command size");
    if (cmdsize < 8 || cmdsize % 8 != 0 || !rangeFits(command, cmdsize, layout.commandsEnd))
      throw SignerError("load command " + std::to_string(i) + " has a bad size");
    if (cmd == kSegment64) parseSegment(in, command, cmdsize, layout);
    if (cmd == kCodeSignature) parseCodeSignature(in, command, cmdsize, layout);
    command += cmdsize;
  }
  if (command != layout.commandsEnd) throw SignerError("ncmds and sizeofcmds disagree");
}

}  // namespace

std::string archName(std::uint32_t cputype) {
  if (cputype == kCpuTypeARM64) return "arm64";
  if (cputype == kCpuTypeX86_64) return "x86_64";
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", cputype);
  return text;
}

std::uint32_t cpuTypeNamed(const std::string& name) {
  if (name == "arm64") return kCpuTypeARM64;
  if (name == "x86_64") return kCpuTypeX86_64;
  throw SignerError("unknown architecture " + name);
}

MachOLayout parseMachO(std::span<const std::uint8_t> slice) {
  const ByteReader in(slice);
  if (in.le32(0, "Mach-O magic") != kMagic64) throw SignerError("not a 64-bit little-endian Mach-O");
  MachOLayout layout;
  layout.cputype = in.le32(4, "cputype");
  layout.filetype = in.le32(12, "filetype");
  layout.ncmds = in.le32(16, "ncmds");
  layout.sizeofcmds = in.le32(20, "sizeofcmds");
  if (!isSignableFileType(layout.filetype)) throw SignerError("Mach-O file type cannot carry a signature");
  if (layout.ncmds > kMaxCommands) throw SignerError("too many load commands");
  layout.commandsEnd = kHeaderSize + layout.sizeofcmds;
  if (layout.commandsEnd > slice.size()) throw SignerError("load commands run past the end of the file");
  layout.firstSectionData = slice.size();
  parseCommands(in, layout);
  if (layout.text.commandOffset == 0) throw SignerError("no __TEXT segment");
  if (layout.linkedit.commandOffset == 0) throw SignerError("no __LINKEDIT segment");
  if (layout.linkedit.fileoff + layout.linkedit.filesize != slice.size())
    throw SignerError("__LINKEDIT does not end the file");
  if (layout.firstSectionData < layout.commandsEnd) throw SignerError("section contents overlap the load commands");
  return layout;
}

namespace {

// Appends a zero LC_CODE_SIGNATURE to the load commands, in the padding the
// linker leaves before the first section.
std::uint64_t addCodeSignatureCommand(Bytes& bytes, const MachOLayout& layout) {
  const std::uint64_t command = layout.commandsEnd;
  if (!rangeFits(command, kCodeSignatureCommandSize, layout.firstSectionData))
    throw SignerError("no room after the load commands for LC_CODE_SIGNATURE");
  if (std::any_of(bytes.begin() + command, bytes.begin() + command + kCodeSignatureCommandSize,
                  [](std::uint8_t byte) { return byte != 0; }))
    throw SignerError("the padding after the load commands is not empty");
  storeLE32(bytes, 16, layout.ncmds + 1);
  storeLE32(bytes, 20, layout.sizeofcmds + kCodeSignatureCommandSize);
  return command;
}

}  // namespace

PreparedSlice prepareForSignature(std::span<const std::uint8_t> slice, std::uint32_t reservedSize) {
  const MachOLayout before = parseMachO(slice);
  Bytes bytes(slice.begin(), slice.end());
  std::uint64_t command = 0;
  std::uint64_t signatureOffset = 0;
  if (before.codeSignatureCommand) {
    if (before.signature.offset + before.signature.size != slice.size())
      throw SignerError("the existing signature is not the last thing in the file");
    command = *before.codeSignatureCommand;
    signatureOffset = before.signature.offset;
  } else {
    command = addCodeSignatureCommand(bytes, before);
    signatureOffset = alignUp(slice.size(), 16);
  }
  if (signatureOffset < before.linkedit.fileoff) throw SignerError("the signature would start before __LINKEDIT");
  const std::uint64_t linkeditSize = signatureOffset + reservedSize - before.linkedit.fileoff;
  bytes.resize(signatureOffset);
  bytes.resize(signatureOffset + reservedSize, 0);
  storeLE32(bytes, command, kCodeSignature);
  storeLE32(bytes, command + 4, kCodeSignatureCommandSize);
  storeLE32(bytes, command + 8, checkedU32(signatureOffset, "signature offset"));
  storeLE32(bytes, command + 12, reservedSize);
  storeLE64(bytes, before.linkedit.commandOffset + 32, alignUp(linkeditSize, segmentPageSize(before.cputype)));
  storeLE64(bytes, before.linkedit.commandOffset + 48, linkeditSize);
  MachOLayout after = parseMachO(bytes);
  return {std::move(bytes), signatureOffset, after};
}

}  // namespace signer
