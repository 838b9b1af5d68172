#pragma once

// What --display prints: for each architecture, in file order, the fields of
// its signature as one Name=value line each, read from the signature blobs
// alone (the code pages are left to the check that follows).

#include <ostream>

#include "codesign/FileSource.h"

namespace verifier {

// Writes the fields of every architecture; where the file stops making
// sense, a Display stopped= line names where and why, and nothing follows.
void displaySignature(const codesign::FileSource& file, std::ostream& out);

}  // namespace verifier
