#include "codesign/MachO.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "codesign/Digest.h"
#include "codesign/FailureDetail.h"
#include "codesign/Limits.h"
#include "codesign/MachOWire.h"
#include "codesign/Status.h"

namespace codesign {
namespace {

using namespace macho;

std::string_view fixedName(const char (&name)[16]) {
  const void* nul = std::memchr(name, 0, sizeof name);
  const std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - name) : sizeof name;
  return {name, length};
}

// A slice as the walk sees it: the header and load commands, read by
// offset, and the size of the whole slice, which bounds every offset they
// name.
struct SliceView {
  ByteReader head;
  std::uint64_t size = 0;
};

// What the load-command walk keeps between commands.
struct WalkState {
  bool strictStopSeen = false;  // the first __LINKEDIT segment or LC_SYMTAB
};

template <typename SectionT>
OSStatus findInfoPlist(const SliceView& slice, ByteOrder order, std::uint64_t at,
                       std::uint32_t nsects, MachOSlice* out) {
  for (std::uint32_t i = 0; i < nsects; ++i) {
    SectionT section{};
    if (!readWire(slice.head, at + std::uint64_t{i} * sizeof(SectionT), order, &section))
      return errSecCSBadObjectFormat;
    if (fixedName(section.segname) != "__TEXT" || fixedName(section.sectname) != "__info_plist")
      continue;
    if (out->infoPlist || !inRange(section.offset, section.size, slice.size))
      return errSecCSBadObjectFormat;
    out->infoPlist = FileRange{section.offset, section.size};
  }
  return errSecSuccess;
}

template <typename SegmentT, typename SectionT>
OSStatus segment(const SliceView& slice, ByteOrder order, std::uint64_t at, std::uint32_t cmdsize,
                 WalkState* state, MachOSlice* out) {
  SegmentT seg{};
  if (cmdsize < sizeof(SegmentT) || !readWire(slice.head, at, order, &seg)) return errSecCSBadObjectFormat;
  if (seg.nsects > limits::kMaxSections ||
      std::uint64_t{seg.nsects} * sizeof(SectionT) > cmdsize - sizeof(SegmentT))
    return errSecCSBadObjectFormat;
  // A segment's file range is never read; one that runs past the slice only
  // matters to strict validation, as __LINKEDIT not ending the slice.
  const std::string_view name = fixedName(seg.segname);
  if (name == "__LINKEDIT" && !state->strictStopSeen) {
    state->strictStopSeen = true;
    out->endsAtSliceEnd = seg.fileoff <= slice.size && seg.filesize == slice.size - seg.fileoff;
  }
  if (name != "__TEXT") return errSecSuccess;
  return findInfoPlist<SectionT>(slice, order, at + sizeof(SegmentT), seg.nsects, out);
}

OSStatus symtab(const SliceView& slice, ByteOrder order, std::uint64_t at, std::uint32_t cmdsize,
                WalkState* state, MachOSlice* out) {
  SymtabCommand command{};
  if (cmdsize < sizeof command || !readWire(slice.head, at, order, &command)) return errSecCSBadObjectFormat;
  if (!state->strictStopSeen) {
    state->strictStopSeen = true;
    out->endsAtSliceEnd = std::uint64_t{command.stroff} + command.strsize == slice.size;
  }
  return errSecSuccess;
}

// A command larger than its structure is accepted; its first 16 bytes count.
OSStatus codeSignature(const SliceView& slice, ByteOrder order, std::uint64_t at,
                       std::uint32_t cmdsize, MachOSlice* out) {
  LinkeditDataCommand command{};
  if (cmdsize < sizeof command || out->codeSignature || !readWire(slice.head, at, order, &command))
    return errSecCSBadObjectFormat;
  out->codeSignature = FileRange{command.dataoff, command.datasize};
  return errSecSuccess;
}

OSStatus loadCommand(const SliceView& slice, ByteOrder order, std::uint64_t at, const LoadCommand& lc,
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
OSStatus walkCommands(const SliceView& slice, ByteOrder order, std::uint64_t headerSize,
                      const MachHeader& header, MachOSlice* out, std::string* why) {
  ByteReader area;
  if (!slice.head.sub(headerSize, header.sizeofcmds, &area))
    return explain(why, errSecCSBadObjectFormat, "the load commands run past the header's area");
  WalkState state;
  std::uint64_t position = 0;
  std::uint32_t count = 0;
  while (position < area.size()) {
    LoadCommand lc{};
    if (!readWire(area, position, order, &lc) || lc.cmdsize < sizeof lc || lc.cmdsize % 4 != 0 ||
        !inRange(position, lc.cmdsize, area.size()) || ++count > header.ncmds)
      return explain(why, errSecCSBadObjectFormat,
                     "load command " + std::to_string(count) + " is cut short, misaligned or not declared");
    if (const OSStatus status = loadCommand(slice, order, headerSize + position, lc, &state, out))
      return explain(why, status,
                     "load command " + std::to_string(count - 1) + " (cmd " + hexNumber(lc.cmd) + ") is malformed");
    position += lc.cmdsize;
  }
  if (count != header.ncmds)
    return explain(why, errSecCSBadObjectFormat, "the header declares " + std::to_string(header.ncmds) +
                                                     " load commands but holds " + std::to_string(count));
  return errSecSuccess;
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

// The header's fields that size the command area, checked before it is read.
OSStatus readHeader(const FileSource& file, std::uint64_t offset, std::uint64_t size, ByteOrder* order,
                    std::uint64_t* headerSize, MachHeader* header, std::string* why) {
  std::uint8_t bytes[kMachHeader64Size] = {};
  const std::span<std::uint8_t> head(bytes, static_cast<std::size_t>(std::min(size, kMachHeader64Size)));
  if (const OSStatus status = readExactly(file, offset, head)) return explain(why, status, readFailure(status));
  bool is64 = false;
  if (!thinMagic(ByteReader(head), order, &is64))
    return explain(why, errSecCSBadObjectFormat, "the slice does not start with a Mach-O header");
  *headerSize = is64 ? kMachHeader64Size : sizeof(MachHeader);
  // A file shorter than its header fails here or at the command area's range.
  if (!readWire(ByteReader(head), 0, *order, header) || header->sizeofcmds < sizeof(LoadCommand) ||
      header->ncmds > limits::kMaxLoadCommands || header->sizeofcmds > limits::kMaxCommandBytes ||
      !inRange(*headerSize, header->sizeofcmds, size))
    return explain(why, errSecCSBadObjectFormat, "the Mach-O header is cut short or its load commands do not fit");
  return errSecSuccess;
}

// One thin Mach-O at [offset, offset + size) of the file: its header and
// load commands are read, by offset, and walked.
OSStatus parseThin(const FileSource& file, std::uint64_t offset, std::uint64_t size, MachOSlice* out,
                   std::string* why) {
  ByteOrder order{};
  std::uint64_t headerSize = 0;
  MachHeader header{};
  if (const OSStatus status = readHeader(file, offset, size, &order, &headerSize, &header, why)) return status;
  std::vector<std::uint8_t> head(static_cast<std::size_t>(headerSize + header.sizeofcmds));
  if (const OSStatus status = readExactly(file, offset, head)) return explain(why, status, readFailure(status));
  out->cputype = header.cputype;
  out->cpusubtype = header.cpusubtype;
  out->filetype = header.filetype;
  out->size = size;
  out->headSize = head.size();
  out->headDigest = sha256(head);
  // The command area is walked as it was read this second time.
  if (!readWire(ByteReader(head), 0, order, &header))
    return explain(why, errSecCSBadObjectFormat, "the Mach-O header is cut short");
  return walkCommands(SliceView{ByteReader(head), size}, order, headerSize, header, out, why);
}

// Universal padding rules that need no reading: each gap below its slice's
// alignment, and nothing after the last slice. The gaps themselves, which
// must be zero, are left to the caller to read.
bool containerShape(std::uint64_t fileSize, std::uint64_t tableEnd, std::vector<MachOSlice> slices,
                    std::vector<FileRange>* gaps) {
  std::ranges::sort(slices, {}, &MachOSlice::offset);
  std::uint64_t end = tableEnd;
  bool clean = true;
  for (std::size_t i = 0; i < slices.size(); ++i) {
    const MachOSlice& s = slices[i];
    if (s.align > 30 || (i > 0 && s.offset - end >= (std::uint64_t{1} << s.align))) clean = false;
    if (s.offset > end) gaps->push_back(FileRange{end, s.offset - end});
    end = s.offset + s.size;
  }
  return clean && end == fileSize;
}

// Reasons name the record's architecture, as the universal header gives it.
OSStatus fatSlice(const FileSource& file, const FatArch& arch, MachOSlice* out, std::string* why) {
  const std::string named = architectureOf(arch.cputype, arch.cpusubtype) + " slice: ";
  if (arch.size == 0 || !inRange(arch.offset, arch.size, file.size()))
    return explain(why, errSecCSBadObjectFormat, named + "the universal header places it outside the file");
  std::string inner;
  if (const OSStatus status = parseThin(file, arch.offset, arch.size, out, why ? &inner : nullptr))
    return explain(why, status, named + inner);
  if (out->cputype != arch.cputype)
    return explain(why, errSecCSBadObjectFormat, named + "its own header names another architecture");
  out->offset = arch.offset;
  out->align = arch.align;
  return errSecSuccess;
}

// Slices may not share bytes with each other or with the universal header.
bool slicesDisjoint(std::vector<MachOSlice> slices, std::uint64_t tableEnd) {
  std::ranges::sort(slices, {}, &MachOSlice::offset);
  std::uint64_t end = tableEnd;
  for (const MachOSlice& s : slices) {
    if (s.offset < end) return false;
    end = s.offset + s.size;
  }
  return true;
}

// The universal records, the declared ones and a hidden arm64 one after
// them: an arm64 slice hidden there would be run by the loader, so it is
// validated like the others.
OSStatus fatRecords(const ByteReader& head, std::vector<FatArch>* out) {
  FatHeader header{};
  if (!readWire(head, 0, ByteOrder::big, &header) || header.nfatArch == 0 || header.nfatArch > limits::kMaxSlices)
    return errSecCSBadObjectFormat;
  for (std::uint32_t i = 0; i <= header.nfatArch; ++i) {
    FatArch arch{};
    if (!readWire(head, sizeof header + std::uint64_t{i} * sizeof(FatArch), ByteOrder::big, &arch))
      return errSecCSBadObjectFormat;
    if (i < header.nfatArch || arch.cputype == kCpuTypeArm64) out->push_back(arch);
  }
  return errSecSuccess;
}

bool sharesOffset(const std::vector<FatArch>& records) {
  for (std::size_t i = 0; i < records.size(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (records[i].offset == records[j].offset) return true;
  return false;
}

OSStatus parseFat(const FileSource& file, const ByteReader& head, MachOFile* out, std::string* why) {
  std::vector<FatArch> records;
  if (const OSStatus status = fatRecords(head, &records))
    return explain(why, status, "the universal header is cut short or declares no slices or too many");
  if (sharesOffset(records))  // the framework's answer
    return explain(why, errSecCSInternalError, "two universal records name the same offset");
  for (const FatArch& arch : records) {
    MachOSlice slice;
    if (const OSStatus status = fatSlice(file, arch, &slice, why)) return status;
    out->slices.push_back(slice);
  }
  const std::uint64_t tableEnd = sizeof(FatHeader) + records.size() * sizeof(FatArch);
  if (!slicesDisjoint(out->slices, tableEnd))
    return explain(why, errSecCSBadObjectFormat, "slices overlap each other or the universal header");
  out->universal = true;
  out->containerClean = containerShape(file.size(), tableEnd, out->slices, &out->gaps);
  return errSecSuccess;
}

}  // namespace

OSStatus parseMachO(const FileSource& file, MachOFile* out, std::string* why) {
  *out = MachOFile{};
  // Enough for the universal header, its largest table and the record after it.
  std::uint8_t bytes[sizeof(FatHeader) + (limits::kMaxSlices + 1) * sizeof(FatArch)] = {};
  const std::span<std::uint8_t> start(bytes, static_cast<std::size_t>(std::min<std::uint64_t>(file.size(), sizeof bytes)));
  if (const OSStatus status = readExactly(file, 0, start)) return explain(why, status, readFailure(status));
  const ByteReader head(start);
  std::uint32_t magic = 0;
  ByteOrder order{};
  bool is64 = false;
  OSStatus status = errSecSuccess;
  if (head.u32be(0, &magic) && magic == kFatMagic) {
    status = parseFat(file, head, out, why);
  } else if (thinMagic(head, &order, &is64)) {
    MachOSlice slice;
    status = parseThin(file, 0, file.size(), &slice, why);
    out->slices.push_back(slice);
  } else {  // another format (a 64-bit universal header among them)
    return explain(why, errSecCSUnsigned, "the file is not a Mach-O file the engine can check");
  }
  if (status) return status;
  const std::uint32_t type = out->slices.front().filetype;
  for (const MachOSlice& s : out->slices)
    if (s.filetype != type) return explain(why, errSecCSBadObjectFormat, "the slices are of different file types");
  if (!isSignableFileType(type))
    return explain(why, errSecCSUnsigned, "Mach-O file type " + std::to_string(type) + " carries no code signature");
  return errSecSuccess;
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

}  // namespace codesign
