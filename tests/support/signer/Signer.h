#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Bytes.h"
#include "CmsSignature.h"
#include "Digest.h"
#include "Requirements.h"

namespace signer {

enum class RequirementsSlot { designated, empty, none };

// How to sign: everything the sign command's options say.
struct SignOptions {
  std::string identifier;
  std::optional<std::string> team;
  std::vector<HashType> hashes{HashType::sha256};  // slot 0 first, then 0x1000, ...
  unsigned pageShift = 12;
  std::uint32_t flags = 0;
  std::uint32_t runtime = 0;  // the hardened runtime's version, 0xMMMMmmpp; 0 for none
  RequirementsSlot requirements = RequirementsSlot::designated;
  bool sealInfoPlist = true;
  bool adhoc = false;
  std::optional<SigningIdentity> identity;  // required unless adhoc
  CmsOptions cms;
  std::uint64_t codeLimitShort = 0;         // hash this many bytes fewer than the signature offset
  std::optional<std::uint32_t> onlyArch;    // universal: leave the other slices as they are
};

// One thin Mach-O slice signed: returns the new slice.
Bytes signSlice(std::span<const std::uint8_t> slice, const SignOptions& options);

// A thin or universal Mach-O signed; every slice of a universal file is
// signed on its own (or only options.onlyArch) and the file re-laid.
Bytes signFile(std::span<const std::uint8_t> file, const SignOptions& options);

}  // namespace signer
