#pragma once

// The property list of the signed CDHashes attribute: a dictionary whose one
// key "cdhashes" holds an array of data values.

#include <string_view>
#include <vector>

#include "codesign/RequirementSubject.h"

namespace codesign {

// True and the array's values when the XML text has exactly that shape.
bool parseCDHashesPlist(std::string_view xml, std::vector<Bytes>* out);

}  // namespace codesign
