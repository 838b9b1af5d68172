#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "Bytes.h"

namespace signer {

// The CodeDirectory hash types the signer writes, with their on-disk numbers.
enum class HashType : std::uint8_t { sha1 = 1, sha256 = 2, sha256Truncated = 3, sha384 = 4 };

// "sha1", "sha256", "sha256-truncated", "sha384"; throws for anything else.
HashType hashTypeNamed(const std::string& name);
std::size_t digestSize(HashType type);
// The dotted OID of the digest algorithm, as CDHashes2 names it.
const char* digestOID(HashType type);
// The digest as the type stores it: truncated SHA-256 keeps 20 bytes.
Bytes digest(HashType type, std::span<const std::uint8_t> bytes);

}  // namespace signer
