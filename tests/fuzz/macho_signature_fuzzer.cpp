// Feeds arbitrary bytes to the whole validity check, as a file's contents:
// container, SuperBlob, CodeDirectories, CMS, timestamp and chain all see
// them.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "codesign/TrustedAnchors.h"
#include "codesign/Validation.h"

namespace {

// Every root is taken as pinned, so that the chain's policy checks, the
// team check and the timestamp's chain run after the chain is built.
bool anyRoot(const codesign::SHA256Digest&) { return true; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace codesign;
  const MemorySource file(std::span<const std::uint8_t>(data, size));
  const std::vector<Bytes> anchors = trustedAnchorCertificates();
  // A fixed time keeps runs reproducible.
  const ValidationPolicy policy{anyRoot, 1767225600, anchors};
  (void)checkValidity(file, kSecCSCheckAllArchitectures | kSecCSStrictValidate, nullptr, policy);
  return 0;
}
