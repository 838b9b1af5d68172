#pragma once

// Helpers the engine's tests share: temporary files and running a
// verification the way the tool does.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "codesign/CodeSigning.h"

namespace codesign_test {

using Bytes = std::vector<std::uint8_t>;

Bytes readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const Bytes& bytes);

// The three calls in the tool's order with flags 17 (all architectures,
// strict); the first non-zero status, or 0. An empty requirement text
// checks the signature alone.
codesign::OSStatus verify(const std::filesystem::path& path, const std::string& requirement);

}  // namespace codesign_test
