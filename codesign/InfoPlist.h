#pragma once

// What the code says about itself: its embedded information property list,
// the section __TEXT,__info_plist of each architecture (as the Security
// framework's signing information hands it out). Its bytes lie in the code
// pages, so for code that verified they are bytes the signature covers.

#include <optional>
#include <string>
#include <vector>

#include "codesign/CodeSigning.h"

namespace codesign {

// The list's CFBundleVersion, when it is a string; nothing otherwise.
std::optional<std::string> bundleVersionOf(const std::string& plist);

// The CFBundleVersion that each architecture's list states, in the order the
// file lists them; nothing for an architecture without a list (or with one
// too large to hand out) or without a version. A universal file can join
// slices of different builds, so no one slice speaks for the others.
// errSecCSUnsigned for a file that is not Mach-O, errSecCSBadObjectFormat
// for a malformed one.
OSStatus copyBundleVersions(const StaticCode* staticCode, std::vector<std::optional<std::string>>* versions);

}  // namespace codesign
