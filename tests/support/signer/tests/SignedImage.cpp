#include "SignedImage.h"

#include <stdexcept>

namespace signer_test {

using signer::ByteReader;

std::string fixturePath(const std::string& name) { return std::string(HELPER_FIXTURE_DIR) + "/" + name; }
std::string caPath(const std::string& name) { return std::string(HELPER_TEST_CA_DIR) + "/" + name; }

namespace {

void readSuperBlob(SliceView& slice, std::uint32_t datasize) {
  const ByteReader signature(ByteReader(slice.bytes).slice(slice.dataoff, datasize, "signature"));
  if (signature.be32(0, "magic") != 0xfade0cc0) throw std::runtime_error("no SuperBlob");
  for (std::uint32_t i = 0; i < signature.be32(8, "count"); ++i) {
    const std::uint32_t offset = signature.be32(16 + 8 * i, "blob offset");
    const auto blob = signature.slice(offset, signature.be32(offset + 4, "blob length"), "blob");
    slice.blobs.emplace_back(signature.be32(12 + 8 * i, "slot"), Bytes(blob.begin(), blob.end()));
  }
}

SliceView readSlice(std::span<const std::uint8_t> bytes) {
  const ByteReader reader(bytes);
  if (reader.le32(0, "magic") != 0xfeedfacf) throw std::runtime_error("not a 64-bit Mach-O");
  SliceView slice{reader.le32(4, "cputype"), Bytes(bytes.begin(), bytes.end()), 0, {}};
  std::uint64_t command = 32;
  for (std::uint32_t i = 0; i < reader.le32(16, "ncmds"); ++i) {
    if (reader.le32(command, "cmd") == 0x1d) {
      slice.dataoff = reader.le32(command + 8, "dataoff");
      readSuperBlob(slice, reader.le32(command + 12, "datasize"));
    }
    command += reader.le32(command + 4, "cmdsize");
  }
  return slice;
}

}  // namespace

std::vector<Bytes> SliceView::codeDirectories() const {
  std::vector<Bytes> directories;
  for (const auto& [slot, blob] : blobs)
    if (slot == 0 || (slot >= 0x1000 && slot <= 0x1004)) directories.push_back(blob);
  return directories;
}

Bytes SliceView::cms() const {
  for (const auto& [slot, blob] : blobs)
    if (slot == 0x10000 && ByteReader(blob).be32(0, "wrapper magic") == 0xfade0b01) return Bytes(blob.begin() + 8, blob.end());
  throw std::runtime_error("no signature blob");
}

std::vector<SliceView> readSlices(const std::string& path) {
  const Bytes file = signer::readFile(path);
  const ByteReader reader(file);
  if (reader.be32(0, "magic") != 0xcafebabe) return {readSlice(file)};
  std::vector<SliceView> slices;
  for (std::uint32_t i = 0; i < reader.be32(4, "nfat_arch"); ++i)
    slices.push_back(readSlice(reader.slice(reader.be32(16 + 20 * i, "offset"), reader.be32(20 + 20 * i, "size"), "slice")));
  return slices;
}

}  // namespace signer_test
