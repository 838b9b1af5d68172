#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <string>

namespace codesign {

using Bytes = std::vector<std::uint8_t>;

// What a verified signature of one architecture proves, and so what a
// requirement is evaluated against. The verifier fills it only after the
// hashes, the CMS signature and the chain have been checked.
struct RequirementSubject {
  std::string identifier;             // the best CodeDirectory's signing identifier
  Bytes cdhash;                       // that CodeDirectory's cdhash, truncated to 20 bytes
  std::uint8_t platform = 0;          // the CodeDirectory's platform byte
  std::vector<Bytes> certificates;    // DER, leaf first, anchor last; empty when ad hoc
  bool anchorIsApple = false;         // the anchor is a pinned Apple root (or the test anchor)
  std::optional<Bytes> infoPlist;     // the sealed Info.plist, when slot -1 is bound
  std::optional<Bytes> entitlements;  // the sealed entitlements property list, when bound
  std::optional<Bytes> derEntitlements;  // the sealed DER entitlements, preferred when bound
};

}  // namespace codesign
