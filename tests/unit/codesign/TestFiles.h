#pragma once

// Helpers the engine's tests share: temporary files and running a
// verification the way the tool does.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/codesign/CodeSigning.h"

namespace codesign_test {

using Bytes = std::vector<std::uint8_t>;

Bytes readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const Bytes& bytes);

// A directory removed with everything in it when the object dies.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::filesystem::path file(const std::string& name) const { return _path / name; }

 private:
  std::filesystem::path _path;
};

// The three calls in the tool's order with flags 17 (all architectures,
// strict); the first non-zero status, or 0. An empty requirement text
// checks the signature alone.
platform::codesign::OSStatus verify(const std::filesystem::path& path, const std::string& requirement);

}  // namespace codesign_test
