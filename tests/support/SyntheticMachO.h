#pragma once

// Builds small, correctly signed Mach-O files in memory (ad-hoc signatures,
// as the linker makes them), so tests can break one field at a time and the
// benchmark can sign a large file without a certificate.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace codesign_test {

using Bytes = std::vector<std::uint8_t>;

struct SyntheticLayout;

struct SyntheticOptions {
  std::int32_t cputype = 0x0100000c;  // arm64
  bool bigEndian = false;
  std::uint64_t codeSize = 0x6000;    // bytes the page hashes cover
  std::uint8_t pageShift = 12;           // 0: the whole code is one page
  std::uint64_t alternateCodeLimit = 0;  // when not 0, the alternate directories' (below codeSize)
  std::vector<std::uint8_t> hashTypes{2};  // one CodeDirectory per type; the first goes in slot 0
  std::string identifier = "com.example.synthetic";
  std::optional<std::string> team;
  std::optional<std::string> infoPlist;     // placed in __TEXT,__info_plist and sealed
  std::optional<std::string> entitlements;  // an entitlements blob, sealed
  std::uint32_t entitlementsSlot = 5;       // the special slot that holds it
  std::uint32_t entitlementsMagic = 0xfade7171;
  bool requirements = true;                 // an empty requirement set, sealed
  bool topDirectory = false;                // slot 4 lists the slots the signature fills
  std::uint32_t flags = 0x20002;            // ad hoc, linker-signed
  // Makes the CMS blob's payload from the slot-0 CodeDirectory and all of
  // them (slot order); without it the signature has no CMS slot.
  std::function<std::vector<std::uint8_t>(const std::vector<std::uint8_t>& signedDirectory,
                                          const std::vector<std::vector<std::uint8_t>>& directories)>
      signer;
  std::uint64_t cmsReserve = 12000;  // room for the CMS; a larger one is cut short
  // Edits the header and load commands before the pages are hashed, so the
  // edit is signed.
  std::function<void(Bytes& file, const SyntheticLayout& layout)> beforeHashing;
};

// Where the interesting parts of a built slice lie.
struct SyntheticLayout {
  std::uint64_t commandsEnd = 0;     // end of the load commands
  std::uint64_t codeSignatureCommand = 0;  // offset of LC_CODE_SIGNATURE
  std::uint64_t signature = 0;       // dataoff
  std::uint64_t firstDirectory = 0;  // slot 0 CodeDirectory, in the file
  std::uint64_t infoPlist = 0;
};

Bytes buildSignedMachO(const SyntheticOptions& options, SyntheticLayout* layout = nullptr);

// A universal file of the slices, each aligned to 2^alignShift.
Bytes buildUniversal(const std::vector<Bytes>& slices, const std::vector<std::int32_t>& cputypes,
                     std::uint32_t alignShift = 14);

void putBE32(Bytes& bytes, std::uint64_t at, std::uint32_t value);
std::uint32_t getBE32(const Bytes& bytes, std::uint64_t at);

}  // namespace codesign_test
