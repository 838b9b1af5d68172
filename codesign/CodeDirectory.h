#pragma once

// One CodeDirectory: the signed table of page hashes and special-slot hashes
// of one architecture, with its identifier and team. Valid by construction:
// parse() checks every offset and count before an object exists.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "codesign/ByteReader.h"
#include "codesign/CodeSigning.h"
#include "codesign/Digest.h"

namespace codesign {

// CodeDirectory flags the engine acts on.
inline constexpr std::uint32_t kCodeDirectoryAdhoc = 0x2;
inline constexpr std::uint32_t kCodeDirectoryForceExpiration = 0x400;

class CodeDirectory {
 public:
  // 0 and the CodeDirectory; errSecCSSignatureFailed for a blob that breaks
  // an integrity rule, errSecCSSignatureUnsupported for a version outside
  // the supported range or a scatter vector.
  static OSStatus parse(const ByteReader& blob, std::optional<CodeDirectory>* out);

  const ByteReader& blob() const { return _blob; }  // the whole blob, as signed
  HashType hashType() const { return _hashType; }   // unknown: not usable
  std::uint32_t version() const { return _version; }
  std::uint32_t flags() const { return _flags; }
  bool adhoc() const { return (_flags & kCodeDirectoryAdhoc) != 0; }
  const std::string& identifier() const { return _identifier; }
  const std::optional<std::string>& teamIdentifier() const { return _teamIdentifier; }
  std::uint8_t platform() const { return _platform; }
  std::uint32_t pageShift() const { return _pageShift; }
  // The hardened runtime's SDK version, 0xMMMMmmpp; 0 when none or before version 0x20500.
  std::uint32_t runtime() const { return _runtime; }
  std::uint64_t codeLimit() const { return _codeLimit; }
  std::uint32_t codeSlots() const { return _nCodeSlots; }
  std::uint32_t specialSlots() const { return _nSpecialSlots; }

  // The stored hash of special slot n (1-based), or empty when the
  // directory has fewer special slots.
  std::span<const std::uint8_t> specialSlotHash(std::uint32_t n) const;
  // True when special slot n exists and its hash is not all zero.
  bool specialSlotPresent(std::uint32_t n) const;
  // The stored hash of code page i (i < codeSlots()).
  std::span<const std::uint8_t> codeSlotHash(std::uint32_t i) const;

 private:
  CodeDirectory() = default;

  ByteReader _blob;
  HashType _hashType = HashType::unknown;
  std::uint32_t _version = 0;
  std::uint32_t _flags = 0;
  std::string _identifier;
  std::optional<std::string> _teamIdentifier;
  std::uint8_t _platform = 0;
  std::uint32_t _pageShift = 0;
  std::uint32_t _runtime = 0;
  std::uint64_t _codeLimit = 0;
  std::uint32_t _hashSize = 0;
  std::uint64_t _hashOffset = 0;
  std::uint32_t _nSpecialSlots = 0;
  std::uint32_t _nCodeSlots = 0;
};

}  // namespace codesign
