#pragma once

// The running digest of one code page. A page is started and finished every
// 4 or 16 KiB, so what that costs counts: SHA-256, the hash of nearly every
// directory, runs on OpenSSL's SHA-256 functions themselves, which start and
// finish a digest for a fraction of what the generic digest calls take.

#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "codesign/Digest.h"

namespace codesign {

class PageDigest {
 public:
  using Output = std::array<std::uint8_t, EVP_MAX_MD_SIZE>;

  // The digest of the type, or null when there is none for it.
  static std::unique_ptr<PageDigest> create(HashType type);

  virtual ~PageDigest() = default;
  virtual bool start() = 0;
  virtual bool update(std::span<const std::uint8_t> bytes) = 0;
  // The finished page's digest length in out, or 0 when it failed.
  virtual std::size_t finish(Output* out) = 0;
};

}  // namespace codesign
