#pragma once

// What --display shows: for each architecture, in file order, the fields of
// its signature, read from the headers and signature blobs alone (the code
// pages are left to the check that follows).

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "codesign/FileSource.h"
#include "verifier/DisplayFields.h"

namespace verifier {

// Hands `each` the fields of every architecture in turn, so that only one
// architecture's signature is held at a time; where the file stops making
// sense, the last fields say where and why (Stopped), and none follow.
// `entitlements` adds each architecture's entitlements.
void readDisplay(const codesign::FileSource& file, bool entitlements,
                 const std::function<void(const SliceFields&)>& each);

// The names of the CodeDirectory flags that are set, lowest bit first.
std::vector<std::string> flagNames(std::uint32_t flags);

}  // namespace verifier
