#pragma once

// The display as JSON: an array with one object per architecture, its keys
// the fields' names in camelCase, in the order the text shows them.

#include <string>
#include <vector>

#include "verifier/DisplayFields.h"

namespace verifier {

std::string displayJson(const std::vector<SliceFields>& slices);

}  // namespace verifier
