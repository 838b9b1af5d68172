#pragma once

// The hash types of CodeDirectories and the digests the engine computes.

#include <cstdint>
#include <span>
#include <string>

#include "codesign/OpenSSLTypes.h"
#include "codesign/RequirementSubject.h"

namespace codesign {

enum class HashType : std::uint8_t {
  unknown = 0,
  sha1 = 1,
  sha256 = 2,
  sha256Truncated = 3,
  sha384 = 4,
};

// The hash type for a CodeDirectory's hashType byte (unknown for any other).
HashType hashTypeFromByte(std::uint8_t value);

// Bytes a CodeDirectory stores per hash of this type (0 when unknown).
std::size_t storedHashSize(HashType type);

// Preference among CodeDirectories: higher is stronger.
int hashRank(HashType type);

// The algorithm's OpenSSL object, fetched once per use, or null when unknown.
ossl::MD fetchDigest(HashType type);

// The full digest of bytes under the given algorithm; empty on failure.
Bytes digest(const EVP_MD* md, std::span<const std::uint8_t> bytes);

// The SHA-256 and SHA-1 digests of bytes; empty on failure.
Bytes sha256(std::span<const std::uint8_t> bytes);
Bytes sha1(std::span<const std::uint8_t> bytes);

// Lower-case hex digits, two per byte, as hashes are written.
std::string hexDigits(std::span<const std::uint8_t> bytes);

}  // namespace codesign
