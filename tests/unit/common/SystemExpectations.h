#pragma once

// What the unit tests expect differently on each system, each said once
// here. Per system: tests/unit/common/linux/SystemExpectations.cpp,
// tests/unit/common/darwin/SystemExpectations.cpp.

#include <string>
#include <vector>

namespace testing_support {

// Sets or clears the flag that makes a file unchangeable (FS_IMMUTABLE_FL
// on Linux, UF_IMMUTABLE on macOS); false when the system refused.
bool setImmutable(const std::string& path, bool on);

// Whether a staged copy has no name in its folder until it is installed
// (Linux's O_TMPFILE); where not, it is named in the staging folder, which
// then counts as one more entry of the folder.
extern const bool kStagedCopiesAreNameless;

// Files the kernel makes up, which the tool must never take for regular
// files: /proc and /sys on Linux; on macOS /dev/fd/N, which hands the opener
// a copy of its own descriptor (here the test's standard input).
std::vector<std::string> kernelFiles();

}  // namespace testing_support
