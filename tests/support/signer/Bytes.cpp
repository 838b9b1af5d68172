#include "Bytes.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

namespace signer {

std::uint64_t alignUp(std::uint64_t value, std::uint64_t alignment) {
  const std::uint64_t mask = alignment - 1;
  if (value > std::numeric_limits<std::uint64_t>::max() - mask) throw SignerError("alignment overflows");
  return (value + mask) & ~mask;
}

const std::uint8_t* ByteReader::at(std::uint64_t offset, std::uint64_t length, const char* what) const {
  if (!rangeFits(offset, length, _bytes.size()))
    throw SignerError(std::string("truncated input: ") + what + " lies past the end");
  return _bytes.data() + offset;
}

std::uint32_t ByteReader::le32(std::uint64_t offset, const char* what) const {
  const std::uint8_t* p = at(offset, 4, what);
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

std::uint64_t ByteReader::le64(std::uint64_t offset, const char* what) const {
  const std::uint64_t low = le32(offset, what);
  const std::uint64_t high = le32(offset + 4, what);
  return low | high << 32;
}

std::uint32_t ByteReader::be32(std::uint64_t offset, const char* what) const {
  const std::uint8_t* p = at(offset, 4, what);
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | std::uint32_t(p[3]);
}

std::string ByteReader::name16(std::uint64_t offset, const char* what) const {
  const std::uint8_t* p = at(offset, 16, what);
  const void* nul = std::memchr(p, 0, 16);
  const std::size_t length = nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - p) : 16;
  return std::string(reinterpret_cast<const char*>(p), length);
}

std::span<const std::uint8_t> ByteReader::slice(std::uint64_t offset, std::uint64_t length, const char* what) const {
  return {at(offset, length, what), static_cast<std::size_t>(length)};
}

void BlobWriter::be32(std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) _bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

void BlobWriter::be64(std::uint64_t value) {
  be32(static_cast<std::uint32_t>(value >> 32));
  be32(static_cast<std::uint32_t>(value));
}

void BlobWriter::patchBE32(std::size_t offset, std::uint32_t value) {
  if (!rangeFits(offset, 4, _bytes.size())) throw SignerError("internal error: patch past the end of a blob");
  for (int i = 0; i < 4; ++i) _bytes[offset + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

void storeLE32(Bytes& bytes, std::uint64_t offset, std::uint32_t value) {
  if (!rangeFits(offset, 4, bytes.size())) throw SignerError("internal error: store past the end of a slice");
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void storeLE64(Bytes& bytes, std::uint64_t offset, std::uint64_t value) {
  storeLE32(bytes, offset, static_cast<std::uint32_t>(value));
  storeLE32(bytes, offset + 4, static_cast<std::uint32_t>(value >> 32));
}

std::uint32_t checkedU32(std::uint64_t value, const char* what) {
  if (value > std::numeric_limits<std::uint32_t>::max()) throw SignerError(std::string(what) + " exceeds 4 GiB");
  return static_cast<std::uint32_t>(value);
}

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw SignerError("cannot open " + path);
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw SignerError("cannot read " + path);
  return bytes;
}

void writeFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw SignerError("cannot write " + path);
}

std::string readTextFile(const std::string& path) {
  const Bytes bytes = readFile(path);
  return std::string(bytes.begin(), bytes.end());
}

void writeTextFile(const std::string& path, const std::string& text) {
  writeFile(path, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

}  // namespace signer
