// Feeds arbitrary bytes, as a file's contents, to what signature-check
// --display reads (container, SuperBlob, CodeDirectories, CMS certificates
// and times, requirement set, entitlements) and writes both ways.

#include <cstddef>
#include <cstdint>
#include <span>
#include <sstream>

#include "codesign/FileSource.h"
#include "verifier/Display.h"
#include "verifier/DisplayJson.h"
#include "verifier/DisplayText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const codesign::MemorySource file(std::span<const std::uint8_t>(data, size));
  std::ostringstream text;
  verifier::readDisplay(file, true, [&](const verifier::SliceFields& fields) {
    verifier::writeDisplayText(fields, text);
    (void)verifier::displayJson(fields);
  });
  return 0;
}
