// The tool's own information property list, carried in the executable so
// that its signing identifier and its version travel with it (bootstrap
// compares versions). HELPER_VERSION is the project's version.

#include <array>
#include <cstddef>

#if defined(__APPLE__)
#define HELPER_INFO_PLIST_SECTION "__TEXT,__info_plist"
#else
#define HELPER_INFO_PLIST_SECTION ".info_plist"
#endif

// clang's AddressSanitizer pads globals with a redzone, which would land in
// the section after the text; the section must hold the text alone.
#if defined(__clang__)
#define HELPER_INFO_PLIST_UNPADDED __attribute__((no_sanitize("address")))
#else
#define HELPER_INFO_PLIST_UNPADDED
#endif

namespace {

constexpr char kInfoPlistText[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n"
    "<dict>\n"
    "\t<key>CFBundleExecutable</key>\n"
    "\t<string>helper</string>\n"
    "\t<key>CFBundleIdentifier</key>\n"
    "\t<string>com.quennard.brenlow-helper</string>\n"
    "\t<key>CFBundleVersion</key>\n"
    "\t<string>" HELPER_VERSION "</string>\n"
    "\t<key>LSMinimumSystemVersion</key>\n"
    "\t<string>10.11</string>\n"
    "</dict>\n"
    "</plist>\n";

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
