// The tool's own information property list, carried in the executable so
// that its signing identifier and its version travel with it (bootstrap
// compares versions). The text is frontend/Info.plist.in, configured into
// InfoPlistText.inc; the build names the section (HELPER_INFO_PLIST_SECTION:
// .info_plist in ELF, __TEXT,__info_plist in Mach-O).

#include <array>
#include <cstddef>

// clang's AddressSanitizer pads globals with a redzone, which would land in
// the section after the text; the section must hold the text alone.
#if defined(__clang__)
#define HELPER_INFO_PLIST_UNPADDED __attribute__((no_sanitize("address")))
#else
#define HELPER_INFO_PLIST_UNPADDED
#endif

namespace {

constexpr char kInfoPlistText[] =
#include "InfoPlistText.inc"
    ;

// The section holds the text alone, without the terminating NUL of the
// literal, so that it reads back as a well-formed document.
constexpr std::size_t kInfoPlistSize = sizeof(kInfoPlistText) - 1;

consteval std::array<char, kInfoPlistSize> infoPlistBytes() {
  std::array<char, kInfoPlistSize> bytes{};
  for (std::size_t i = 0; i < kInfoPlistSize; ++i) bytes[i] = kInfoPlistText[i];
  return bytes;
}

// Kept by the linker although nothing refers to it: readers of the binary do.
[[gnu::used, gnu::section(HELPER_INFO_PLIST_SECTION)]] HELPER_INFO_PLIST_UNPADDED
const std::array<char, kInfoPlistSize> kInfoPlist = infoPlistBytes();

}  // namespace
