#include "codesign/ExtraAnchors.h"

#include <algorithm>
#include <limits>

#include <openssl/pem.h>

#include "codesign/OpenSSLTypes.h"
#include "codesign/Validation.h"

namespace codesign {
namespace {

// DER: exactly one certificate, with nothing after it.
ossl::Certificate fromDer(std::span<const std::uint8_t> bytes) {
  const unsigned char* p = bytes.data();
  ossl::Certificate cert(d2i_X509(nullptr, &p, static_cast<long>(bytes.size())));
  if (cert && p != bytes.data() + bytes.size()) cert.reset();
  return cert;
}

// PEM: the first CERTIFICATE block; any text around it is allowed, as in
// files that carry a readable dump before the block.
ossl::Certificate fromPem(std::span<const std::uint8_t> bytes) {
  const ossl::Bio bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
  if (!bio) return nullptr;
  return ossl::Certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

}  // namespace

std::optional<SHA256Digest> anchorFingerprint(std::span<const std::uint8_t> fileBytes) {
  if (fileBytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return std::nullopt;
  ossl::Certificate cert = fromDer(fileBytes);
  if (!cert) cert = fromPem(fileBytes);
  SHA256Digest print{};
  unsigned int length = 0;
  if (!cert || X509_digest(cert.get(), EVP_sha256(), print.data(), &length) != 1 || length != print.size())
    return std::nullopt;
  return print;
}

OSStatus staticCodeCheckValidityWithAnchors(const StaticCode* staticCode, SecCSFlags flags,
                                            const Requirement* requirement,
                                            std::span<const SHA256Digest> extraAnchors, FailureDetail* failure) {
  const auto isAnchor = [extraAnchors](const SHA256Digest& print) {
    return isTrustedAnchor(print) || std::find(extraAnchors.begin(), extraAnchors.end(), print) != extraAnchors.end();
  };
  return checkStaticCode(staticCode, flags, requirement, isAnchor, failure);
}

}  // namespace codesign
