#include "SyntheticMachO.h"

#include <algorithm>
#include <cstring>

#include <openssl/evp.h>

namespace codesign_test {
namespace {

constexpr std::uint64_t kHeader = 32;
constexpr std::uint64_t kSegment = 72;
constexpr std::uint64_t kSection = 80;
constexpr std::uint64_t kDirectoryHeader = 88;  // version 0x20400
constexpr std::uint64_t kInfoPlistAt = 0x1000;

std::uint64_t roundUp(std::uint64_t value, std::uint64_t to) { return (value + to - 1) / to * to; }

std::size_t hashSize(std::uint8_t type) { return type == 1 || type == 3 ? 20 : type == 4 ? 48 : 32; }

const EVP_MD* digestFor(std::uint8_t type) { return type == 1 ? EVP_sha1() : type == 4 ? EVP_sha384() : EVP_sha256(); }

Bytes hashOf(std::uint8_t type, const std::uint8_t* data, std::size_t length) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(data, length, out, &size, digestFor(type), nullptr);
  return Bytes(out, out + hashSize(type));
}

// A writer in the slice's own byte order.
struct Writer {
  Bytes& bytes;
  bool big;
  void u32(std::uint64_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::uint64_t>(i)] = static_cast<std::uint8_t>(v >> (big ? 24 - 8 * i : 8 * i));
  }
  void u64(std::uint64_t at, std::uint64_t v) {
    u32(at + (big ? 4 : 0), static_cast<std::uint32_t>(v));
    u32(at + (big ? 0 : 4), static_cast<std::uint32_t>(v >> 32));
  }
  void name(std::uint64_t at, const char* text) { std::memcpy(&bytes[at], text, std::strlen(text)); }
};

Bytes blob(std::uint32_t magic, const std::string& payload) {
  Bytes out(8 + payload.size());
  putBE32(out, 0, magic);
  putBE32(out, 4, static_cast<std::uint32_t>(out.size()));
  std::memcpy(out.data() + 8, payload.data(), payload.size());
  return out;
}

struct Components {
  std::vector<std::pair<std::uint32_t, Bytes>> blobs;  // special-slot blobs by slot
  std::uint32_t specialSlots = 0;
};

Components components(const SyntheticOptions& o) {
  Components c;
  if (o.infoPlist) c.specialSlots = 1;
  if (o.requirements) c.blobs.push_back({2, Bytes{0xfa, 0xde, 0x0c, 0x01, 0, 0, 0, 12, 0, 0, 0, 0}}), c.specialSlots = 2;
  if (o.entitlements)
    c.blobs.push_back({o.entitlementsSlot, blob(o.entitlementsMagic, *o.entitlements)}), c.specialSlots = o.entitlementsSlot;
  if (o.topDirectory) {
    std::string list;
    const auto put = [&](std::uint32_t v) { for (int s = 24; s >= 0; s -= 8) list.push_back(static_cast<char>(v >> s)); };
    put(0);
    for (std::uint32_t n = 1; n <= 11; ++n)
      if ((n == 1 && o.infoPlist) || (n == 2 && o.requirements) || n == 4 || (n == o.entitlementsSlot && o.entitlements)) put(n);
    for (std::uint32_t i = 1; i < o.hashTypes.size(); ++i) put(0x1000 + i - 1);
    put(0x10000);  // the CMS slot, listed even when ad hoc
    c.blobs.push_back({4, blob(0xfade0b01, list)}), c.specialSlots = std::max(c.specialSlots, 4u);
  }
  return c;
}

// Page shift 0 makes the whole code one page.
std::uint64_t pageSize(const SyntheticOptions& o) { return o.pageShift == 0 ? o.codeSize : std::uint64_t{1} << o.pageShift; }
std::uint64_t pageCount(const SyntheticOptions& o) { return (o.codeSize - 1) / pageSize(o) + 1; }

std::uint64_t directorySize(const SyntheticOptions& o, std::uint8_t type, std::uint32_t special) {
  const std::uint64_t strings = o.identifier.size() + 1 + (o.team ? o.team->size() + 1 : 0);
  const std::uint64_t slots = pageCount(o);
  return kDirectoryHeader + strings + (special + slots) * hashSize(type);
}

Bytes directory(const SyntheticOptions& o, std::uint8_t type, const Bytes& file, const Components& c) {
  const std::uint32_t slots = static_cast<std::uint32_t>(pageCount(o));
  const std::size_t hs = hashSize(type);
  Bytes cd(directorySize(o, type, c.specialSlots));
  const std::uint64_t ident = kDirectoryHeader, team = ident + o.identifier.size() + 1;
  const std::uint64_t hashOffset = (o.team ? team + o.team->size() + 1 : team) + c.specialSlots * hs;
  const std::uint32_t fields[] = {0xfade0c02, static_cast<std::uint32_t>(cd.size()), 0x20400, o.flags,
                                  static_cast<std::uint32_t>(hashOffset), static_cast<std::uint32_t>(ident),
                                  c.specialSlots, slots, static_cast<std::uint32_t>(o.codeSize)};
  for (std::size_t i = 0; i < std::size(fields); ++i) putBE32(cd, 4 * i, fields[i]);
  cd[36] = static_cast<std::uint8_t>(hs), cd[37] = type, cd[39] = o.pageShift;
  if (o.team) putBE32(cd, 48, static_cast<std::uint32_t>(team)), std::memcpy(&cd[team], o.team->data(), o.team->size());
  std::memcpy(&cd[ident], o.identifier.data(), o.identifier.size());
  putBE32(cd, 72 + 4, static_cast<std::uint32_t>(o.codeSize));  // execSegLimit (low word)
  for (const auto& [slot, bytes] : c.blobs) {
    const std::size_t wrapper = slot == 4 || slot == 6 ? 8 : 0;  // these slots seal a BlobWrapper's payload
    const Bytes h = hashOf(type, bytes.data() + wrapper, bytes.size() - wrapper);
    std::memcpy(&cd[hashOffset - slot * hs], h.data(), hs);
  }
  if (o.infoPlist) {
    const Bytes h = hashOf(type, &file[kInfoPlistAt], o.infoPlist->size());
    std::memcpy(&cd[hashOffset - hs], h.data(), hs);
  }
  for (std::uint32_t i = 0; i < slots; ++i) {
    const std::uint64_t start = i * pageSize(o);
    const std::uint64_t end = std::min(o.codeSize, start + pageSize(o));
    const Bytes h = hashOf(type, &file[start], end - start);
    std::memcpy(&cd[hashOffset + i * hs], h.data(), hs);
  }
  return cd;
}

Bytes superBlob(const std::vector<std::pair<std::uint32_t, Bytes>>& entries) {
  Bytes out(12 + 8 * entries.size());
  putBE32(out, 0, 0xfade0cc0);
  putBE32(out, 8, static_cast<std::uint32_t>(entries.size()));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    putBE32(out, 12 + 8 * i, entries[i].first);
    putBE32(out, 16 + 8 * i, static_cast<std::uint32_t>(out.size()));
    out.insert(out.end(), entries[i].second.begin(), entries[i].second.end());
  }
  putBE32(out, 4, static_cast<std::uint32_t>(out.size()));
  return out;
}

std::uint64_t signatureSize(const SyntheticOptions& o, const Components& c) {
  std::uint64_t size = 12 + 8 * (o.hashTypes.size() + c.blobs.size());
  for (const std::uint8_t type : o.hashTypes) size += directorySize(o, type, c.specialSlots);
  for (const auto& b : c.blobs) size += b.second.size();
  if (o.signer) size += 8 + 8 + o.cmsReserve;
  return roundUp(size, 16) + 32;  // signers reserve padding
}

void writeCommands(const SyntheticOptions& o, Bytes& f, std::uint64_t sigAt, std::uint64_t sigSize,
                   SyntheticLayout* layout) {
  Writer w{f, o.bigEndian};
  const std::uint32_t nsects = o.infoPlist ? 1 : 0;
  const std::uint64_t text = kHeader, linkedit = text + kSegment + nsects * kSection, codesig = linkedit + kSegment;
  w.u32(0, 0xfeedfacf), w.u32(4, static_cast<std::uint32_t>(o.cputype)), w.u32(12, 2), w.u32(16, 3);
  w.u32(20, static_cast<std::uint32_t>(codesig + 16 - kHeader));
  w.u32(text, 0x19), w.u32(text + 4, static_cast<std::uint32_t>(kSegment + nsects * kSection)), w.name(text + 8, "__TEXT");
  w.u64(text + 32, o.codeSize), w.u64(text + 48, o.codeSize), w.u32(text + 64, nsects);
  if (nsects) {
    const std::uint64_t s = text + kSegment;
    w.name(s, "__info_plist"), w.name(s + 16, "__TEXT"), w.u64(s + 40, o.infoPlist->size());
    w.u32(s + 48, static_cast<std::uint32_t>(kInfoPlistAt));
  }
  w.u32(linkedit, 0x19), w.u32(linkedit + 4, kSegment), w.name(linkedit + 8, "__LINKEDIT");
  w.u64(linkedit + 40, sigAt), w.u64(linkedit + 48, sigSize);
  w.u32(codesig, 0x1d), w.u32(codesig + 4, 16), w.u32(codesig + 8, static_cast<std::uint32_t>(sigAt));
  w.u32(codesig + 12, static_cast<std::uint32_t>(sigSize));
  if (layout) layout->commandsEnd = codesig + 16, layout->codeSignatureCommand = codesig;
}

}  // namespace

void putBE32(Bytes& bytes, std::uint64_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.at(at + static_cast<std::uint64_t>(i)) = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

std::uint32_t getBE32(const Bytes& bytes, std::uint64_t at) {
  return std::uint32_t{bytes.at(at)} << 24 | std::uint32_t{bytes.at(at + 1)} << 16 | std::uint32_t{bytes.at(at + 2)} << 8 |
         bytes.at(at + 3);
}

Bytes buildSignedMachO(const SyntheticOptions& o, SyntheticLayout* layout) {
  const Components c = components(o);
  const std::uint64_t sigAt = o.codeSize, sigSize = signatureSize(o, c);
  Bytes f(sigAt + sigSize, 0);
  for (std::uint64_t i = 0x400; i < o.codeSize; ++i) f[i] = static_cast<std::uint8_t>(i * 131 + (i >> 12));
  SyntheticLayout l;
  writeCommands(o, f, sigAt, sigSize, &l);
  if (o.infoPlist) std::memcpy(&f[kInfoPlistAt], o.infoPlist->data(), o.infoPlist->size());
  if (o.beforeHashing) o.beforeHashing(f, l);
  std::vector<std::pair<std::uint32_t, Bytes>> entries;
  SyntheticOptions alternate = o;
  if (o.alternateCodeLimit != 0) alternate.codeSize = o.alternateCodeLimit;
  for (std::size_t i = 0; i < o.hashTypes.size(); ++i)
    entries.push_back({i == 0 ? 0u : 0x1000u + static_cast<std::uint32_t>(i - 1),
                       directory(i == 0 ? o : alternate, o.hashTypes[i], f, c)});
  if (o.signer) {
    std::vector<Bytes> directories;
    for (const auto& e : entries) directories.push_back(e.second);
    const Bytes cms = o.signer(entries.front().second, directories);
    entries.push_back({0x10000, blob(0xfade0b01, std::string(cms.begin(), cms.end()))});
  }
  entries.insert(entries.begin() + 1, c.blobs.begin(), c.blobs.end());
  Bytes sb = superBlob(entries);
  if (sb.size() > sigSize) sb.resize(sigSize);  // an oversized CMS is cut, and must then fail
  std::memcpy(&f[sigAt], sb.data(), sb.size());
  l.signature = sigAt, l.firstDirectory = sigAt + getBE32(sb, 16), l.infoPlist = kInfoPlistAt;
  if (layout) *layout = l;
  return f;
}

Bytes buildUniversal(const std::vector<Bytes>& slices, const std::vector<std::int32_t>& cputypes,
                     std::uint32_t alignShift) {
  const std::uint64_t align = std::uint64_t{1} << alignShift;
  Bytes out(align, 0);
  putBE32(out, 0, 0xcafebabe);
  putBE32(out, 4, static_cast<std::uint32_t>(slices.size()));
  for (std::size_t i = 0; i < slices.size(); ++i) {
    out.resize(roundUp(out.size(), align), 0);
    const std::uint64_t record = 8 + 20 * i;
    putBE32(out, record, static_cast<std::uint32_t>(cputypes[i]));
    putBE32(out, record + 8, static_cast<std::uint32_t>(out.size()));
    putBE32(out, record + 12, static_cast<std::uint32_t>(slices[i].size()));
    putBE32(out, record + 16, alignShift);
    out.insert(out.end(), slices[i].begin(), slices[i].end());
  }
  return out;
}

}  // namespace codesign_test
