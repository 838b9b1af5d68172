#include "Universal.h"

#include <algorithm>

namespace signer {

namespace {

constexpr std::uint32_t kFatMagic = 0xcafebabe;
constexpr std::uint32_t kMaxSlices = 16;
constexpr std::uint32_t kMaxAlign = 30;
constexpr std::uint64_t kFatHeaderSize = 8;
constexpr std::uint64_t kFatArchSize = 20;

struct FatRecord {
  std::uint32_t cputype, cpusubtype, align;
  std::uint64_t offset, size;
};

FatRecord readRecord(const ByteReader& in, std::uint64_t at) {
  FatRecord record{in.be32(at, "fat cputype"), in.be32(at + 4, "fat cpusubtype"), in.be32(at + 16, "fat align"),
                   in.be32(at + 8, "fat offset"), in.be32(at + 12, "fat size")};
  if (record.align > kMaxAlign) throw SignerError("a slice's alignment is beyond 2^30");
  if (!rangeFits(record.offset, record.size, in.size())) throw SignerError("a slice lies outside the file");
  return record;
}

void refuseOverlaps(std::vector<FatRecord> records) {
  std::sort(records.begin(), records.end(), [](const FatRecord& a, const FatRecord& b) { return a.offset < b.offset; });
  std::uint64_t end = 0;
  for (const FatRecord& record : records) {
    if (record.offset < end) throw SignerError("slices overlap");
    end = record.offset + record.size;
  }
}

void writeBE32(Bytes& out, std::uint64_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

}  // namespace

bool isUniversal(std::span<const std::uint8_t> file) {
  return file.size() >= 4 && ByteReader(file).be32(0, "magic") == kFatMagic;
}

std::vector<FatSlice> splitUniversal(std::span<const std::uint8_t> file) {
  const ByteReader in(file);
  const std::uint32_t count = in.be32(4, "nfat_arch");
  if (count == 0 || count > kMaxSlices) throw SignerError("universal file with an unusable slice count");
  std::vector<FatRecord> records;
  for (std::uint32_t i = 0; i < count; ++i) records.push_back(readRecord(in, kFatHeaderSize + kFatArchSize * i));
  if (records.front().offset < kFatHeaderSize + kFatArchSize * count)
    throw SignerError("a slice overlaps the fat header");
  refuseOverlaps(records);
  std::vector<FatSlice> slices;
  for (const FatRecord& record : records) {
    const auto bytes = in.slice(record.offset, record.size, "slice");
    slices.push_back({record.cputype, record.cpusubtype, record.align, Bytes(bytes.begin(), bytes.end())});
  }
  return slices;
}

Bytes joinUniversal(const std::vector<FatSlice>& slices) {
  if (slices.empty() || slices.size() > kMaxSlices) throw SignerError("universal file with an unusable slice count");
  Bytes out(kFatHeaderSize + kFatArchSize * slices.size(), 0);
  writeBE32(out, 0, kFatMagic);
  writeBE32(out, 4, static_cast<std::uint32_t>(slices.size()));
  for (std::size_t i = 0; i < slices.size(); ++i) {
    const FatSlice& slice = slices[i];
    if (slice.align > kMaxAlign) throw SignerError("a slice's alignment is beyond 2^30");
    const std::uint64_t offset = alignUp(out.size(), std::uint64_t(1) << slice.align);
    const std::uint64_t record = kFatHeaderSize + kFatArchSize * i;
    out.resize(offset, 0);
    writeBE32(out, record, slice.cputype);
    writeBE32(out, record + 4, slice.cpusubtype);
    writeBE32(out, record + 8, checkedU32(offset, "slice offset"));
    writeBE32(out, record + 12, checkedU32(slice.bytes.size(), "slice size"));
    writeBE32(out, record + 16, slice.align);
    out.insert(out.end(), slice.bytes.begin(), slice.bytes.end());
  }
  return out;
}

}  // namespace signer
