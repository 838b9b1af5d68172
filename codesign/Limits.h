#pragma once

// Hard limits on what a file can make the engine do. Each is far above what
// any signer produces; a file beyond one is refused rather than processed.

#include <cstdint>

namespace codesign::limits {

inline constexpr std::uint32_t kMaxSlices = 100;            // declared universal entries
inline constexpr std::uint32_t kMaxLoadCommands = 4096;     // per slice
inline constexpr std::uint32_t kMaxCommandBytes = 1u << 20; // a slice's load commands (sizeofcmds)
inline constexpr std::uint64_t kMaxSignatureBytes = 16u << 20;  // a slice's SuperBlob
inline constexpr std::uint64_t kMaxInfoPlistBytes = 1u << 20;   // the embedded Info.plist
inline constexpr std::uint32_t kMaxSections = 1024;         // per segment command
inline constexpr std::uint32_t kMaxBlobs = 32;              // SuperBlob index entries
inline constexpr std::uint32_t kMaxSpecialSlots = 64;       // CodeDirectory special slots
inline constexpr std::uint32_t kMaxCodeSlots = 1u << 22;    // 16 GiB of 4 KiB pages
inline constexpr std::uint32_t kMaxCodeDirectories = 6;     // slot 0 and five alternates
inline constexpr std::uint32_t kMaxCertificates = 16;       // certificates in one CMS
inline constexpr std::uint64_t kMaxCmsBytes = 1u << 20;     // the CMS blob's payload

}  // namespace codesign::limits
