#pragma once

// The display as text: one Name=value line per field, each architecture
// under its Architecture= line.

#include <ctime>
#include <ostream>
#include <string>
#include <vector>

#include "verifier/DisplayFields.h"

namespace verifier {

// One architecture's lines.
void writeDisplayText(const SliceFields& slice, std::ostream& out);

// A time as "2024-05-01 12:34:56 +0000", always in UTC and in the same
// digits whatever the locale (the times shown come from ASN.1, whose years
// have four digits).
std::string displayDate(std::time_t time);

// "x.y.z" for a version packed as 0xMMMMmmpp.
std::string packedVersion(std::uint32_t version);

}  // namespace verifier
