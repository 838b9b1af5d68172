#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Bytes.h"
#include "Digest.h"

namespace signer {

struct CodeDirectoryFields {
  std::string identifier;
  std::optional<std::string> team;
  HashType hashType = HashType::sha256;
  unsigned pageShift = 12;
  std::uint32_t flags = 0;
  std::uint64_t codeLimit = 0;
  std::uint64_t execSegBase = 0;
  std::uint64_t execSegLimit = 0;
  std::uint64_t execSegFlags = 0;
  std::uint32_t runtime = 0;  // when not 0, a version 0x20500 directory with this runtime version
  // specialSlots[k - 1] is the component that special slot -k seals; an empty
  // optional leaves the slot's hash zero. Their count is nSpecialSlots.
  std::vector<std::optional<Bytes>> specialSlots;
};

// Bytes a CodeDirectory of these fields occupies over a code limit of
// codeLimit bytes (the size does not depend on the hashed bytes).
std::uint64_t codeDirectorySize(const CodeDirectoryFields& fields);

// A version 0x20400 CodeDirectory over the first fields.codeLimit bytes of
// slice: identifier, then team, then the special-slot hashes, then one hash
// per page.
Bytes buildCodeDirectory(const CodeDirectoryFields& fields, std::span<const std::uint8_t> slice);

}  // namespace signer
