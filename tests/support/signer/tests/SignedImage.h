#pragma once

// A reader of signed Mach-O files for the signer's tests, written apart from
// the signer's own parser so that the tests do not take the signer's word for
// the layout.

#include <string>
#include <utility>
#include <vector>

#include "../Bytes.h"

namespace signer_test {

using signer::Bytes;

std::string fixturePath(const std::string& name);
std::string caPath(const std::string& name);

struct SliceView {
  std::uint32_t cputype = 0;
  Bytes bytes;
  std::uint32_t dataoff = 0;                           // of LC_CODE_SIGNATURE; 0 when unsigned
  std::vector<std::pair<std::uint32_t, Bytes>> blobs;  // slot and blob, in index order

  // The CodeDirectories in index order (slot 0, then 0x1000..0x1004).
  std::vector<Bytes> codeDirectories() const;
  // The DER CMS inside the signature slot's wrapper.
  Bytes cms() const;
};

// One slice for a thin file, one per architecture for a universal one.
// Throws on anything malformed.
std::vector<SliceView> readSlices(const std::string& path);

}  // namespace signer_test
