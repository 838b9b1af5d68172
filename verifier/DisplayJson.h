#pragma once

// The display as JSON: one object per architecture, its keys the fields'
// names in camelCase, in the order the text shows them.

#include <string>
#include <vector>

#include "verifier/DisplayFields.h"

namespace verifier {

std::string displayJson(const SliceFields& slice);

// The objects as one JSON array.
std::string jsonArray(const std::vector<std::string>& objects);

}  // namespace verifier
