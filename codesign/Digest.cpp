#include "codesign/Digest.h"

namespace codesign {

HashType hashTypeFromByte(std::uint8_t value) {
  switch (value) {
    case 1: return HashType::sha1;
    case 2: return HashType::sha256;
    case 3: return HashType::sha256Truncated;
    case 4: return HashType::sha384;
    default: return HashType::unknown;
  }
}

std::size_t storedHashSize(HashType type) {
  switch (type) {
    case HashType::sha1: return 20;
    case HashType::sha256: return 32;
    case HashType::sha256Truncated: return 20;
    case HashType::sha384: return 48;
    case HashType::unknown: break;
  }
  return 0;
}

int hashRank(HashType type) {
  switch (type) {
    case HashType::sha1: return 1;
    case HashType::sha256Truncated: return 2;
    case HashType::sha256: return 3;
    case HashType::sha384: return 4;
    case HashType::unknown: break;
  }
  return 0;
}

ossl::MD fetchDigest(HashType type) {
  const char* name = nullptr;
  switch (type) {
    case HashType::sha1: name = "SHA1"; break;
    case HashType::sha256:
    case HashType::sha256Truncated: name = "SHA256"; break;
    case HashType::sha384: name = "SHA384"; break;
    case HashType::unknown: return nullptr;
  }
  return ossl::MD(EVP_MD_fetch(nullptr, name, nullptr));
}

Bytes digest(const EVP_MD* md, std::span<const std::uint8_t> bytes) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  if (md == nullptr || EVP_Digest(bytes.data(), bytes.size(), out.data(), &length, md, nullptr) != 1)
    return {};
  out.resize(length);
  return out;
}

Bytes sha256(std::span<const std::uint8_t> bytes) {
  const ossl::MD md = fetchDigest(HashType::sha256);
  return digest(md.get(), bytes);
}

Bytes sha1(std::span<const std::uint8_t> bytes) {
  const ossl::MD md = fetchDigest(HashType::sha1);
  return digest(md.get(), bytes);
}

std::string hexDigits(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const std::uint8_t byte : bytes) {
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xF];
  }
  return out;
}

}  // namespace codesign
