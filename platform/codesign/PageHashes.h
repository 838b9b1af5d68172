#pragma once

#include <span>

#include "platform/codesign/ByteReader.h"
#include "platform/codesign/CodeDirectory.h"

namespace platform::codesign {

// Checks every code page of the slice against every CodeDirectory in one
// pass: each 4 KiB stretch is fed to every directory's digest while it is
// still in cache. 0, or errSecCSSignatureFailed on the first page whose hash
// differs or a code limit beyond the slice.
OSStatus verifyPageHashes(const ByteReader& slice, std::span<const CodeDirectory* const> directories);

}  // namespace platform::codesign
