#include "platform/codesign/MachO.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/codesign/Limits.h"
#include "platform/codesign/MachOWire.h"
#include "platform/codesign/Status.h"

namespace platform::codesign {
namespace {

using namespace macho;

std::string_view fixedName(const char (&name)[16]) {
  const void* nul = std::memchr(name, 0, sizeof name);
  const std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - name) : sizeof name;
  return {name, length};
}

// What the load-command walk keeps between commands.
struct WalkState {
  bool strictStopSeen = false;  // the first __LINKEDIT segment or LC_SYMTAB
};

template <typename SectionT>
OSStatus findInfoPlist(const ByteReader& slice, ByteOrder order, std::uint64_t at,
                       std::uint32_t nsects, MachOSlice* out) {
  for (std::uint32_t i = 0; i < nsects; ++i) {
    SectionT section{};
    if (!readWire(slice, at + std::uint64_t{i} * sizeof(SectionT), order, &section))
      return errSecCSBadObjectFormat;
    if (fixedName(section.segname) != "__TEXT" || fixedName(section.sectname) != "__info_plist")
      continue;
    if (out->infoPlist || !inRange(section.offset, section.size, slice.size()))
      return errSecCSBadObjectFormat;
    out->infoPlist = FileRange{section.offset, section.size};
  }
  return errSecSuccess;
}

template <typename SegmentT, typename SectionT>
OSStatus segment(const ByteReader& slice, ByteOrder order, std::uint64_t at, std::uint32_t cmdsize,
                 WalkState* state, MachOSlice* out) {
  SegmentT seg{};
  if (cmdsize < sizeof(SegmentT) || !readWire(slice, at, order, &seg)) return errSecCSBadObjectFormat;
  if (seg.nsects > limits::kMaxSections ||
      std::uint64_t{seg.nsects} * sizeof(SectionT) > cmdsize - sizeof(SegmentT))
    return errSecCSBadObjectFormat;
  if (!inRange(seg.fileoff, seg.filesize, slice.size())) return errSecCSBadObjectFormat;
  const std::string_view name = fixedName(seg.segname);
  if (name == "__LINKEDIT" && !state->strictStopSeen) {
    state->strictStopSeen = true;
    out->endsAtSliceEnd = std::uint64_t{seg.fileoff} + seg.filesize == slice.size();
  }
  if (name != "__TEXT") return errSecSuccess;
  return findInfoPlist<SectionT>(slice, order, at + sizeof(SegmentT), seg.nsects, out);
}

OSStatus symtab(const ByteReader& slice, ByteOrder order, std::uint64_t at, std::uint32_t cmdsize,
                WalkState* state, MachOSlice* out) {
  SymtabCommand command{};
  if (cmdsize < sizeof command || !readWire(slice, at, order, &command)) return errSecCSBadObjectFormat;
  if (!state->strictStopSeen) {
    state->strictStopSeen = true;
    out->endsAtSliceEnd = std::uint64_t{command.stroff} + command.strsize == slice.size();
  }
  return errSecSuccess;
}

OSStatus codeSignature(const ByteReader& slice, ByteOrder order, std::uint64_t at,
                       std::uint32_t cmdsize, MachOSlice* out) {
  LinkeditDataCommand command{};
  if (cmdsize != sizeof command || out->codeSignature || !readWire(slice, at, order, &command))
    return errSecCSBadObjectFormat;
  out->codeSignature = FileRange{command.dataoff, command.datasize};
  return errSecSuccess;
}

OSStatus loadCommand(const ByteReader& slice, ByteOrder order, std::uint64_t at, const LoadCommand& lc,
                     WalkState* state, MachOSlice* out) {
  switch (lc.cmd) {
    case kLcSegment:
      return segment<SegmentCommand, Section>(slice, order, at, lc.cmdsize, state, out);
    case kLcSegment64:
      return segment<SegmentCommand64, Section64>(slice, order, at, lc.cmdsize, state, out);
    case kLcSymtab:
      return symtab(slice, order, at, lc.cmdsize, state, out);
    case kLcCodeSignature:
      return codeSignature(slice, order, at, lc.cmdsize, out);
    default:
      return errSecSuccess;
  }
}

// Walks the load commands: each header and its whole cmdsize must lie inside
// the command area, and the count must agree with the header.
OSStatus walkCommands(const ByteReader& slice, ByteOrder order, std::uint64_t headerSize,
                      const MachHeader& header, MachOSlice* out) {
  ByteReader area;
  if (header.sizeofcmds < sizeof(LoadCommand) || header.ncmds > limits::kMaxLoadCommands ||
      !slice.sub(headerSize, header.sizeofcmds, &area))
    return errSecCSBadObjectFormat;
  WalkState state;
  std::uint64_t position = 0;
  std::uint32_t count = 0;
  while (position < area.size()) {
    LoadCommand lc{};
    if (!readWire(area, position, order, &lc) || lc.cmdsize < sizeof lc || lc.cmdsize % 4 != 0 ||
        !inRange(position, lc.cmdsize, area.size()) || ++count > header.ncmds)
      return errSecCSBadObjectFormat;
    if (const OSStatus status = loadCommand(slice, order, headerSize + position, lc, &state, out))
      return status;
    position += lc.cmdsize;
  }
  return count == header.ncmds ? errSecSuccess : errSecCSBadObjectFormat;
}

// The byte order and width a thin header's magic announces, if it is one.
bool thinMagic(const ByteReader& bytes, ByteOrder* order, bool* is64) {
  std::uint32_t magic = 0;
  if (!bytes.u32(0, ByteOrder::little, &magic)) return false;
  switch (magic) {
    case kMachMagic: *order = ByteOrder::little, *is64 = false; return true;
    case kMachMagic64: *order = ByteOrder::little, *is64 = true; return true;
    case kMachCigam: *order = ByteOrder::big, *is64 = false; return true;
    case kMachCigam64: *order = ByteOrder::big, *is64 = true; return true;
    default: return false;
  }
}

OSStatus parseThin(const ByteReader& slice, MachOSlice* out) {
  ByteOrder order{};
  bool is64 = false;
  if (!thinMagic(slice, &order, &is64)) return errSecCSBadObjectFormat;
  MachHeader header{};
  const std::uint64_t headerSize = is64 ? kMachHeader64Size : sizeof(MachHeader);
  if (slice.size() < headerSize || !readWire(slice, 0, order, &header)) return errSecCSBadObjectFormat;
  out->cputype = header.cputype;
  out->cpusubtype = header.cpusubtype;
  out->filetype = header.filetype;
  out->size = slice.size();
  return walkCommands(slice, order, headerSize, header, out);
}

// Every byte of [from, to) is zero.
bool zeroes(const ByteReader& file, std::uint64_t from, std::uint64_t to) {
  ByteReader gap;
  if (to < from || !file.sub(from, to - from, &gap)) return false;
  const auto bytes = gap.bytes();
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

// Universal padding rules: zero gaps, each gap below its slice's alignment,
// and nothing after the last slice.
bool containerClean(const ByteReader& file, std::uint64_t tableEnd, std::vector<MachOSlice> slices) {
  std::sort(slices.begin(), slices.end(), [](const auto& a, const auto& b) { return a.offset < b.offset; });
  std::uint64_t end = tableEnd;
  for (std::size_t i = 0; i < slices.size(); ++i) {
    const MachOSlice& s = slices[i];
    if (s.align > 30 || !zeroes(file, end, s.offset)) return false;
    if (i > 0 && s.offset - end >= (std::uint64_t{1} << s.align)) return false;
    end = s.offset + s.size;
  }
  return end == file.size();
}

OSStatus fatSlice(const ByteReader& file, const FatArch& arch, MachOSlice* out) {
  ByteReader bytes;
  if (arch.size == 0 || !file.sub(arch.offset, arch.size, &bytes)) return errSecCSBadObjectFormat;
  if (const OSStatus status = parseThin(bytes, out)) return status;
  if (out->cputype != arch.cputype) return errSecCSBadObjectFormat;
  out->offset = arch.offset;
  out->align = arch.align;
  return errSecSuccess;
}

// Slices may not share bytes with each other or with the universal header.
bool slicesDisjoint(std::vector<MachOSlice> slices, std::uint64_t tableEnd) {
  std::sort(slices.begin(), slices.end(), [](const auto& a, const auto& b) { return a.offset < b.offset; });
  std::uint64_t end = tableEnd;
  for (const MachOSlice& s : slices) {
    if (s.offset < end) return false;
    end = s.offset + s.size;
  }
  return true;
}

OSStatus parseFat(const ByteReader& file, MachOFile* out) {
  FatHeader header{};
  if (!readWire(file, 0, ByteOrder::big, &header) || header.nfatArch == 0 ||
      header.nfatArch > limits::kMaxSlices)
    return errSecCSBadObjectFormat;
  // One record past the declared ones is read too: an arm64 slice hidden
  // there would be run by the loader, so it is validated like the others.
  std::uint32_t count = header.nfatArch;
  FatArch extra{};
  if (!readWire(file, sizeof header + std::uint64_t{count} * sizeof(FatArch), ByteOrder::big, &extra))
    return errSecCSBadObjectFormat;
  if (extra.cputype == kCpuTypeArm64) ++count;
  for (std::uint32_t i = 0; i < count; ++i) {
    FatArch arch{};
    MachOSlice slice;
    if (!readWire(file, sizeof header + std::uint64_t{i} * sizeof(FatArch), ByteOrder::big, &arch))
      return errSecCSBadObjectFormat;
    if (const OSStatus status = fatSlice(file, arch, &slice)) return status;
    out->slices.push_back(slice);
  }
  const std::uint64_t tableEnd = sizeof header + std::uint64_t{count} * sizeof(FatArch);
  if (!slicesDisjoint(out->slices, tableEnd)) return errSecCSBadObjectFormat;
  out->universal = true;
  out->containerClean = containerClean(file, tableEnd, out->slices);
  return errSecSuccess;
}

}  // namespace

OSStatus parseMachO(const ByteReader& file, MachOFile* out) {
  *out = MachOFile{};
  std::uint32_t magic = 0;
  ByteOrder order{};
  bool is64 = false;
  if (!file.u32be(0, &magic)) return errSecCSUnsigned;
  OSStatus status = errSecSuccess;
  if (magic == kFatMagic) {
    status = parseFat(file, out);
  } else if (thinMagic(file, &order, &is64)) {
    MachOSlice slice;
    status = parseThin(file, &slice);
    out->slices.push_back(slice);
  } else {
    return errSecCSUnsigned;  // another format (a 64-bit universal header among them)
  }
  if (status) return status;
  const std::uint32_t type = out->slices.front().filetype;
  for (const MachOSlice& s : out->slices)
    if (s.filetype != type) return errSecCSBadObjectFormat;
  return isSignableFileType(type) ? errSecSuccess : errSecCSUnsigned;
}

std::size_t mainSliceIndex(const MachOFile& file) {
#if defined(__aarch64__)
  constexpr std::int32_t host = macho::kCpuTypeArm64;
#else
  constexpr std::int32_t host = macho::kCpuTypeX86_64;
#endif
  for (std::size_t i = 0; i < file.slices.size(); ++i)
    if (file.slices[i].cputype == host) return i;
  return 0;
}

}  // namespace platform::codesign
