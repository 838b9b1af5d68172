#pragma once

// One architecture's embedded signature, read by offset and checked for
// integrity: its SuperBlob, its CodeDirectories and the components the
// special slots seal. It holds its own copy of those bytes, bounded by
// hard limits, never the slice's code.

#include <memory>
#include <optional>
#include <vector>

#include "codesign/CodeDirectory.h"
#include "codesign/FailureDetail.h"
#include "codesign/MachO.h"
#include "codesign/SuperBlob.h"

namespace codesign {

class EmbeddedSignature {
 public:
  // Reads and loads the signature of a slice. errSecCSUnsigned without
  // LC_CODE_SIGNATURE or slot-0 CodeDirectory; errSecCSSignatureInvalid for
  // a damaged SuperBlob (one larger than limits::kMaxSignatureBytes among
  // them) or two directories of one hash type; a directory's integrity
  // status; errSecCSUnsupportedDigestAlgorithm when no directory has a
  // known type; or a read's status.
  // On failure, *why (when given) says what is wrong.
  static OSStatus load(const FileSource& file, const MachOSlice& layout, std::unique_ptr<EmbeddedSignature>* out,
                       std::string* why = nullptr);

  const CodeDirectory& signedDirectory() const { return _directories.front(); }  // slot 0
  const CodeDirectory& best() const { return *_best; }
  std::span<const CodeDirectory* const> usable() const { return _usable; }
  bool adhoc() const;
  const SuperBlob& superBlob() const { return _superBlob; }

  // Every present special slot of every usable directory (highest first,
  // the resource slot aside) hashes its component: errSecCSInfoPlistFailed
  // for the Info.plist, errSecCSSignatureFailed for the others. The detail,
  // when given, names the slot and the directory.
  OSStatus verifySpecialSlots(FailureDetail* detail = nullptr) const;

  // The component special slot n seals, if the file has one.
  std::optional<ByteReader> component(std::uint32_t n) const;

  // True when the best directory's hash of slot n matches bytes.
  bool slotMatches(std::uint32_t n, const ByteReader& bytes) const;

 private:
  EmbeddedSignature() = default;
  OSStatus readSuperBlob(const FileSource& file, const MachOSlice& layout, std::string* why);
  OSStatus readInfoPlist(const FileSource& file, const MachOSlice& layout);
  OSStatus loadDirectories(std::string* why);
  OSStatus verifyTopDirectory() const;

  Bytes _signature;                 // the SuperBlob, as read
  std::optional<Bytes> _infoPlist;  // __TEXT,__info_plist, when there is one of a bounded size
  SuperBlob _superBlob;             // views into _signature
  std::vector<CodeDirectory> _directories;   // slot 0 first, then the alternates
  std::vector<const CodeDirectory*> _usable;  // those of a known hash type
  const CodeDirectory* _best = nullptr;
};

}  // namespace codesign
