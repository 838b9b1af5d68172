#pragma once

// Mach-O structures exactly as they lie in the file, and the constants the
// engine uses. Values are copied out with ByteReader::copy and turned into
// host order by the swap() overloads below, which are the only place that
// knows each structure's fields.

#include <cstdint>

#include "codesign/ByteReader.h"

namespace codesign::macho {

inline constexpr std::uint32_t kMachMagic = 0xfeedface;
inline constexpr std::uint32_t kMachCigam = 0xcefaedfe;
inline constexpr std::uint32_t kMachMagic64 = 0xfeedfacf;
inline constexpr std::uint32_t kMachCigam64 = 0xcffaedfe;
inline constexpr std::uint32_t kFatMagic = 0xcafebabe;
inline constexpr std::uint32_t kFatMagic64 = 0xcafebabf;

inline constexpr std::uint32_t kLcSegment = 0x1;
inline constexpr std::uint32_t kLcSymtab = 0x2;
inline constexpr std::uint32_t kLcSegment64 = 0x19;
inline constexpr std::uint32_t kLcCodeSignature = 0x1d;

inline constexpr std::int32_t kCpuTypeX86_64 = 0x01000007;
inline constexpr std::int32_t kCpuTypeArm64 = 0x0100000c;

// File types a signature may be embedded in.
inline constexpr bool isSignableFileType(std::uint32_t type) {
  return type == 0x2 || type == 0x5 || type == 0x6 || type == 0x7 || type == 0x8 || type == 0xb;
}

struct FatHeader {
  std::uint32_t magic;
  std::uint32_t nfatArch;
};
static_assert(sizeof(FatHeader) == 8);

struct FatArch {
  std::int32_t cputype;
  std::int32_t cpusubtype;
  std::uint32_t offset;
  std::uint32_t size;
  std::uint32_t align;
};
static_assert(sizeof(FatArch) == 20);

struct MachHeader {  // the 64-bit header adds a reserved word after flags
  std::uint32_t magic;
  std::int32_t cputype;
  std::int32_t cpusubtype;
  std::uint32_t filetype;
  std::uint32_t ncmds;
  std::uint32_t sizeofcmds;
  std::uint32_t flags;
};
static_assert(sizeof(MachHeader) == 28);
inline constexpr std::uint64_t kMachHeader64Size = 32;

struct LoadCommand {
  std::uint32_t cmd;
  std::uint32_t cmdsize;
};
static_assert(sizeof(LoadCommand) == 8);

struct SegmentCommand {
  std::uint32_t cmd;
  std::uint32_t cmdsize;
  char segname[16];
  std::uint32_t vmaddr;
  std::uint32_t vmsize;
  std::uint32_t fileoff;
  std::uint32_t filesize;
  std::int32_t maxprot;
  std::int32_t initprot;
  std::uint32_t nsects;
  std::uint32_t flags;
};
static_assert(sizeof(SegmentCommand) == 56);

struct SegmentCommand64 {
  std::uint32_t cmd;
  std::uint32_t cmdsize;
  char segname[16];
  std::uint64_t vmaddr;
  std::uint64_t vmsize;
  std::uint64_t fileoff;
  std::uint64_t filesize;
  std::int32_t maxprot;
  std::int32_t initprot;
  std::uint32_t nsects;
  std::uint32_t flags;
};
static_assert(sizeof(SegmentCommand64) == 72);

struct Section {
  char sectname[16];
  char segname[16];
  std::uint32_t addr;
  std::uint32_t size;
  std::uint32_t offset;
  std::uint32_t align;
  std::uint32_t reloff;
  std::uint32_t nreloc;
  std::uint32_t flags;
  std::uint32_t reserved1;
  std::uint32_t reserved2;
};
static_assert(sizeof(Section) == 68);

struct Section64 {
  char sectname[16];
  char segname[16];
  std::uint64_t addr;
  std::uint64_t size;
  std::uint32_t offset;
  std::uint32_t align;
  std::uint32_t reloff;
  std::uint32_t nreloc;
  std::uint32_t flags;
  std::uint32_t reserved1;
  std::uint32_t reserved2;
  std::uint32_t reserved3;
};
static_assert(sizeof(Section64) == 80);

struct LinkeditDataCommand {
  std::uint32_t cmd;
  std::uint32_t cmdsize;
  std::uint32_t dataoff;
  std::uint32_t datasize;
};
static_assert(sizeof(LinkeditDataCommand) == 16);

struct SymtabCommand {
  std::uint32_t cmd;
  std::uint32_t cmdsize;
  std::uint32_t symoff;
  std::uint32_t nsyms;
  std::uint32_t stroff;
  std::uint32_t strsize;
};
static_assert(sizeof(SymtabCommand) == 24);

template <typename T>
void fix(T& value, ByteOrder order) {
  value = fromOrder(value, order);
}

inline void swap(FatHeader& h, ByteOrder o) { fix(h.magic, o), fix(h.nfatArch, o); }
inline void swap(FatArch& a, ByteOrder o) {
  fix(a.cputype, o), fix(a.cpusubtype, o), fix(a.offset, o), fix(a.size, o), fix(a.align, o);
}
inline void swap(MachHeader& h, ByteOrder o) {
  fix(h.magic, o), fix(h.cputype, o), fix(h.cpusubtype, o), fix(h.filetype, o);
  fix(h.ncmds, o), fix(h.sizeofcmds, o), fix(h.flags, o);
}
inline void swap(LoadCommand& c, ByteOrder o) { fix(c.cmd, o), fix(c.cmdsize, o); }
// The 32- and 64-bit segment and section structures share field names.
template <typename Segment>
void swapSegment(Segment& s, ByteOrder o) {
  fix(s.cmd, o), fix(s.cmdsize, o), fix(s.vmaddr, o), fix(s.vmsize, o), fix(s.fileoff, o);
  fix(s.filesize, o), fix(s.maxprot, o), fix(s.initprot, o), fix(s.nsects, o), fix(s.flags, o);
}
template <typename SectionT>
void swapSection(SectionT& s, ByteOrder o) {
  fix(s.addr, o), fix(s.size, o), fix(s.offset, o), fix(s.align, o), fix(s.reloff, o);
  fix(s.nreloc, o), fix(s.flags, o), fix(s.reserved1, o), fix(s.reserved2, o);
}
inline void swap(SegmentCommand& s, ByteOrder o) { swapSegment(s, o); }
inline void swap(SegmentCommand64& s, ByteOrder o) { swapSegment(s, o); }
inline void swap(Section& s, ByteOrder o) { swapSection(s, o); }
inline void swap(Section64& s, ByteOrder o) { swapSection(s, o), fix(s.reserved3, o); }
inline void swap(LinkeditDataCommand& c, ByteOrder o) {
  fix(c.cmd, o), fix(c.cmdsize, o), fix(c.dataoff, o), fix(c.datasize, o);
}
inline void swap(SymtabCommand& c, ByteOrder o) {
  fix(c.cmd, o), fix(c.cmdsize, o), fix(c.symoff, o), fix(c.nsyms, o), fix(c.stroff, o), fix(c.strsize, o);
}

// Copies a structure out of the view and brings it into host order.
template <typename T>
bool readWire(const ByteReader& bytes, std::uint64_t offset, ByteOrder order, T* out) {
  if (!bytes.copy(offset, out)) return false;
  swap(*out, order);
  return true;
}

}  // namespace codesign::macho
