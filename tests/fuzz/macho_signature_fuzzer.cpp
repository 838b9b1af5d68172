// Feeds arbitrary bytes to the whole validity check, as a file's contents:
// container, SuperBlob, CodeDirectories, CMS and chain parsing all see them.

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/codesign/TrustedAnchors.h"
#include "platform/codesign/Validation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace platform::codesign;
  const ByteReader file(std::span<const std::uint8_t>(data, size));
  // A fixed time keeps runs reproducible.
  const ValidationPolicy policy{isTrustedAnchor, 1767225600, {}};
  (void)checkValidity(file, kSecCSCheckAllArchitectures | kSecCSStrictValidate, nullptr, policy);
  return 0;
}
