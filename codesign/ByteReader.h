#pragma once

// The one type through which the engine reads untrusted bytes: a view of a
// byte range with checked reads. Every offset and length is 64-bit and is
// checked with inRange(), so no sum can wrap and nothing is read outside the
// view. Reads fail with false and leave nothing half-written.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <type_traits>

namespace codesign {

// True when [offset, offset + length) lies inside [0, size), written so that
// it cannot overflow.
constexpr bool inRange(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
  return offset <= size && length <= size - offset;
}

enum class ByteOrder { little, big };

class ByteReader {
 public:
  ByteReader() = default;
  explicit ByteReader(std::span<const std::uint8_t> bytes) : _bytes(bytes) {}

  std::uint64_t size() const { return _bytes.size(); }
  std::span<const std::uint8_t> bytes() const { return _bytes; }

  // The sub-view [offset, offset + length), or false when it does not fit.
  bool sub(std::uint64_t offset, std::uint64_t length, ByteReader* out) const {
    if (!inRange(offset, length, size())) return false;
    *out = ByteReader(_bytes.subspan(static_cast<std::size_t>(offset),
                                     static_cast<std::size_t>(length)));
    return true;
  }

  // The bytes from offset to the end of the view.
  bool tail(std::uint64_t offset, ByteReader* out) const {
    return offset <= size() && sub(offset, size() - offset, out);
  }

  bool u8(std::uint64_t offset, std::uint8_t* out) const {
    if (!inRange(offset, 1, size())) return false;
    *out = _bytes[static_cast<std::size_t>(offset)];
    return true;
  }
  bool u32(std::uint64_t offset, ByteOrder order, std::uint32_t* out) const {
    return integer(offset, order, out);
  }
  bool u64(std::uint64_t offset, ByteOrder order, std::uint64_t* out) const {
    return integer(offset, order, out);
  }
  bool u32be(std::uint64_t offset, std::uint32_t* out) const {
    return integer(offset, ByteOrder::big, out);
  }

  // Copies a wire structure out of the view; the caller byte-swaps it.
  template <typename T>
  bool copy(std::uint64_t offset, T* out) const {
    static_assert(std::is_trivially_copyable_v<T>);
    if (!inRange(offset, sizeof(T), size())) return false;
    std::memcpy(out, _bytes.data() + offset, sizeof(T));
    return true;
  }

  // A NUL-terminated string starting at offset, without its NUL. False when
  // no NUL follows inside the view.
  bool cString(std::uint64_t offset, std::string_view* out) const {
    if (offset >= size()) return false;
    const auto rest = _bytes.subspan(static_cast<std::size_t>(offset));
    const void* nul = std::memchr(rest.data(), 0, rest.size());
    if (nul == nullptr) return false;
    const auto length = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - rest.data());
    *out = std::string_view(reinterpret_cast<const char*>(rest.data()), length);
    return true;
  }

 private:
  template <typename U>
  bool integer(std::uint64_t offset, ByteOrder order, U* out) const {
    if (!inRange(offset, sizeof(U), size())) return false;
    U value = 0;
    for (std::size_t i = 0; i < sizeof(U); ++i) {
      const std::size_t index = order == ByteOrder::big ? i : sizeof(U) - 1 - i;
      value = static_cast<U>((value << 8) | _bytes[static_cast<std::size_t>(offset) + index]);
    }
    *out = value;
    return true;
  }

  std::span<const std::uint8_t> _bytes;
};

// Byte-swaps a value read in the other order; the one place wire structures
// are turned into host values.
template <typename U>
constexpr U fromOrder(U value, ByteOrder order) {
  static_assert(std::is_unsigned_v<U> || std::is_signed_v<U>);
  constexpr bool hostLittle = std::endian::native == std::endian::little;
  const bool swap = (order == ByteOrder::little) != hostLittle;
  if (!swap) return value;
  if constexpr (sizeof(U) == 2) return static_cast<U>(__builtin_bswap16(static_cast<std::uint16_t>(value)));
  if constexpr (sizeof(U) == 4) return static_cast<U>(__builtin_bswap32(static_cast<std::uint32_t>(value)));
  if constexpr (sizeof(U) == 8) return static_cast<U>(__builtin_bswap64(static_cast<std::uint64_t>(value)));
  return value;
}

}  // namespace codesign
