#pragma once

// The code pages of one slice, checked against every CodeDirectory of it as
// the slice's bytes stream past: each piece is fed to every directory's
// digest in turn while it is in cache.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "codesign/CodeDirectory.h"
#include "codesign/FailureDetail.h"
#include "codesign/PageDigest.h"

namespace codesign {

class PageHashes {
 public:
  // 0 and the checker; errSecCSSignatureFailed for a code limit beyond the
  // slice, errSecCSInternalError when a digest cannot be set up (both
  // explained in the detail, when given).
  static OSStatus create(std::span<const CodeDirectory* const> directories, std::uint64_t sliceSize,
                         std::unique_ptr<PageHashes>* out, FailureDetail* detail = nullptr);

  // How many bytes from the start of the slice the pages cover.
  std::uint64_t extent() const { return _extent; }

  // The slice's next bytes, in order from its start.
  void take(std::span<const std::uint8_t> bytes);

  // 0 once every page of every directory was seen and matched;
  // errSecCSSignatureFailed otherwise.
  OSStatus result() const;

  // The first page that did not match: its directory, index and offset in
  // the slice. Recorded only on the failing path, so checking costs nothing.
  struct Mismatch {
    const CodeDirectory* cd = nullptr;
    std::uint64_t page = 0;
    std::uint64_t offset = 0;
  };
  const std::optional<Mismatch>& mismatch() const { return _mismatch; }

 private:
  // One directory's running page digest.
  struct Directory {
    const CodeDirectory* cd;
    std::unique_ptr<PageDigest> digest;
    std::uint64_t pageSize;  // page size 0 makes the whole code limit one page
  };
  PageHashes() = default;
  void feed(Directory& directory, std::span<const std::uint8_t> bytes);

  std::vector<Directory> _directories;
  std::uint64_t _extent = 0;
  std::uint64_t _position = 0;  // bytes taken so far
  bool _failed = false;
  std::optional<Mismatch> _mismatch;
};

}  // namespace codesign
