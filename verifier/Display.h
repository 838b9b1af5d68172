#pragma once

// What --display shows: for each architecture, in file order, the fields of
// its signature, read from the headers and signature blobs alone (the code
// pages are left to the check that follows).

#include <cstdint>
#include <string>
#include <vector>

#include "codesign/FileSource.h"
#include "verifier/DisplayFields.h"

namespace verifier {

// The fields of every architecture; where the file stops making sense, the
// last entry says where and why (Stopped), and nothing follows it.
// `entitlements` adds each architecture's entitlements.
std::vector<SliceFields> readDisplay(const codesign::FileSource& file, bool entitlements);

// The names of the CodeDirectory flags that are set, lowest bit first.
std::vector<std::string> flagNames(std::uint32_t flags);

}  // namespace verifier
