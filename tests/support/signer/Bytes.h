#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace signer {

using Bytes = std::vector<std::uint8_t>;

// Every failure of the signer: bad input, a refused option, an OpenSSL
// error. main() is the only place that catches it.
class SignerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Rounds value up to a multiple of alignment (a power of two); throws when
// the result does not fit in 64 bits.
std::uint64_t alignUp(std::uint64_t value, std::uint64_t alignment);

// True when [offset, offset + length) lies inside a buffer of size bytes.
// Written so that it cannot overflow.
constexpr bool rangeFits(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
  return offset <= size && length <= size - offset;
}

// Checked reads of untrusted bytes. Every read names what it reads, so that
// a refusal says which field ran past the end.
class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : _bytes(bytes) {}

  std::uint32_t le32(std::uint64_t offset, const char* what) const;
  std::uint64_t le64(std::uint64_t offset, const char* what) const;
  std::uint32_t be32(std::uint64_t offset, const char* what) const;
  std::string name16(std::uint64_t offset, const char* what) const;
  std::span<const std::uint8_t> slice(std::uint64_t offset, std::uint64_t length, const char* what) const;
  std::uint64_t size() const { return _bytes.size(); }

 private:
  const std::uint8_t* at(std::uint64_t offset, std::uint64_t length, const char* what) const;
  std::span<const std::uint8_t> _bytes;
};

// Appends big-endian integers and raw bytes: the byte order of every
// code-signing structure.
class BlobWriter {
 public:
  void be32(std::uint32_t value);
  void be64(std::uint64_t value);
  void u8(std::uint8_t value) { _bytes.push_back(value); }
  void append(std::span<const std::uint8_t> bytes) { _bytes.insert(_bytes.end(), bytes.begin(), bytes.end()); }
  void appendString(const std::string& text) { _bytes.insert(_bytes.end(), text.begin(), text.end()); }
  void zeros(std::size_t count) { _bytes.insert(_bytes.end(), count, 0); }
  // Overwrites a big-endian u32 written earlier (a length known only later).
  void patchBE32(std::size_t offset, std::uint32_t value);
  std::size_t size() const { return _bytes.size(); }
  Bytes take() { return std::move(_bytes); }

 private:
  Bytes _bytes;
};

// Stores a little-endian value into bytes at offset, range-checked.
void storeLE32(Bytes& bytes, std::uint64_t offset, std::uint32_t value);
void storeLE64(Bytes& bytes, std::uint64_t offset, std::uint64_t value);

// A length as the u32 that blob headers hold; throws when it does not fit.
std::uint32_t checkedU32(std::uint64_t value, const char* what);

Bytes readFile(const std::string& path);
void writeFile(const std::string& path, std::span<const std::uint8_t> bytes);
std::string readTextFile(const std::string& path);
void writeTextFile(const std::string& path, const std::string& text);

}  // namespace signer
