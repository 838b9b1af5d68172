// OpenSSL 3 marks its per-algorithm functions deprecated in favour of the
// generic calls, whose cost per page is what this file avoids.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "codesign/PageDigest.h"

#include <openssl/sha.h>

namespace codesign {
namespace {

class Sha256Page final : public PageDigest {
 public:
  bool start() override { return SHA256_Init(&_context) == 1; }
  bool update(std::span<const std::uint8_t> bytes) override {
    return SHA256_Update(&_context, bytes.data(), bytes.size()) == 1;
  }
  std::size_t finish(Output* out) override {
    return SHA256_Final(out->data(), &_context) == 1 ? SHA256_DIGEST_LENGTH : 0;
  }

 private:
  SHA256_CTX _context{};
};

class GenericPage final : public PageDigest {
 public:
  GenericPage(ossl::MD md, ossl::MDContext context) : _md(std::move(md)), _context(std::move(context)) {}
  bool start() override { return EVP_DigestInit_ex2(_context.get(), _md.get(), nullptr) == 1; }
  bool update(std::span<const std::uint8_t> bytes) override {
    return EVP_DigestUpdate(_context.get(), bytes.data(), bytes.size()) == 1;
  }
  std::size_t finish(Output* out) override {
    unsigned int length = 0;
    return EVP_DigestFinal_ex(_context.get(), out->data(), &length) == 1 ? length : 0;
  }

 private:
  ossl::MD _md;
  ossl::MDContext _context;
};

}  // namespace

std::unique_ptr<PageDigest> PageDigest::create(HashType type) {
  if (type == HashType::sha256 || type == HashType::sha256Truncated) return std::make_unique<Sha256Page>();
  ossl::MD md = fetchDigest(type);
  ossl::MDContext context(EVP_MD_CTX_new());
  if (!md || !context) return nullptr;
  return std::make_unique<GenericPage>(std::move(md), std::move(context));
}

}  // namespace codesign
