#pragma once

// What the code says about itself: its embedded information property list,
// the section __TEXT,__info_plist of the main architecture (as the Security
// framework's signing information hands it out). Its bytes lie in the code
// pages, so for code that verified they are bytes the signature covers.

#include <optional>
#include <string>
#include <vector>

#include "codesign/CodeSigning.h"

namespace codesign {

// 0 and the list's bytes; errSecCSUnsigned for a file that is not Mach-O,
// errSecCSBadObjectFormat for a malformed one, errSecCSInfoPlistFailed when
// the main architecture carries no list.
OSStatus copyInfoPlist(const StaticCode* staticCode, std::string* plist);

// One list per slice, in file order (one for a thin file), so that every
// slice's version can be compared; fails as copyInfoPlist does when any
// slice carries none.
OSStatus copyInfoPlists(const StaticCode* staticCode, std::vector<std::string>* plists);

// The list's CFBundleVersion, when it is a string; nothing otherwise.
std::optional<std::string> bundleVersionOf(const std::string& plist);

}  // namespace codesign
