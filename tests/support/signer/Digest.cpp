#include "Digest.h"

#include <algorithm>

#include <openssl/evp.h>

#include "OpenSSLSupport.h"

namespace signer {

namespace {

const EVP_MD* algorithm(HashType type) {
  switch (type) {
    case HashType::sha1: return EVP_sha1();
    case HashType::sha256:
    case HashType::sha256Truncated: return EVP_sha256();
    case HashType::sha384: return EVP_sha384();
  }
  throw SignerError("unknown hash type");
}

constexpr std::size_t kTruncatedSize = 20;

}  // namespace

HashType hashTypeNamed(const std::string& name) {
  if (name == "sha1") return HashType::sha1;
  if (name == "sha256") return HashType::sha256;
  if (name == "sha256-truncated") return HashType::sha256Truncated;
  if (name == "sha384") return HashType::sha384;
  throw SignerError("unknown hash " + name);
}

std::size_t digestSize(HashType type) {
  if (type == HashType::sha256Truncated) return kTruncatedSize;
  return static_cast<std::size_t>(EVP_MD_get_size(algorithm(type)));
}

const char* digestOID(HashType type) {
  switch (type) {
    case HashType::sha1: return "1.3.14.3.2.26";
    case HashType::sha256:
    case HashType::sha256Truncated: return "2.16.840.1.101.3.4.2.1";
    case HashType::sha384: return "2.16.840.1.101.3.4.2.2";
  }
  throw SignerError("unknown hash type");
}

Bytes digest(HashType type, std::span<const std::uint8_t> bytes) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  mustSucceed(EVP_Digest(bytes.data(), bytes.size(), out.data(), &length, algorithm(type), nullptr), "hashing");
  out.resize(std::min<std::size_t>(length, digestSize(type)));
  return out;
}

}  // namespace signer
