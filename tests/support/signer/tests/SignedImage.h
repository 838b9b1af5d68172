#pragma once

// A reader of signed Mach-O files for the signer's tests, written apart from
// the signer's own parser so that the tests do not take the signer's word for
// the layout.

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <openssl/evp.h>

namespace signer_test {

using Bytes = std::vector<std::uint8_t>;

std::string fixturePath(const std::string& name);
std::string caPath(const std::string& name);
Bytes readBytes(const std::string& path);
void writeBytes(const std::string& path, std::span<const std::uint8_t> bytes);
Bytes hashOf(const EVP_MD* algorithm, std::span<const std::uint8_t> bytes);
const EVP_MD* algorithmOfHashType(std::uint8_t hashType);
std::uint32_t be32(std::span<const std::uint8_t> bytes, std::size_t offset);
std::uint32_t le32(std::span<const std::uint8_t> bytes, std::size_t offset);

struct CodeDirectoryView {
  std::uint32_t slot = 0;
  Bytes blob;
  std::uint32_t version = 0, flags = 0, hashOffset = 0, nSpecialSlots = 0, nCodeSlots = 0, codeLimit = 0;
  std::uint8_t hashSize = 0, hashType = 0, pageShift = 0;
  std::uint64_t execSegBase = 0, execSegLimit = 0, execSegFlags = 0;
  std::string identifier;
  std::optional<std::string> team;

  // The stored hash of a slot: negative for special slots, 0.. for pages.
  Bytes hashSlot(int index) const;
};

struct SliceView {
  std::uint32_t cputype = 0;
  Bytes bytes;
  std::uint32_t ncmds = 0;
  std::uint32_t codeSignatureCommands = 0;
  std::uint32_t dataoff = 0, datasize = 0;  // of the LC_CODE_SIGNATURE, when there is one
  std::uint64_t linkeditEnd = 0, textFileoff = 0, textFilesize = 0;
  std::optional<std::pair<std::uint64_t, std::uint64_t>> infoPlist;  // offset, size
  std::uint32_t superBlobLength = 0;
  std::vector<std::pair<std::uint32_t, Bytes>> blobs;  // slot and blob, in index order

  bool isSigned() const { return codeSignatureCommands > 0; }
  const Bytes& blob(std::uint32_t slot) const;
  bool hasBlob(std::uint32_t slot) const;
  std::vector<CodeDirectoryView> codeDirectories() const;
  // The DER CMS inside the signature slot's wrapper.
  Bytes cms() const;
};

struct FatArchView {
  std::uint32_t cputype = 0, offset = 0, size = 0, align = 0;
};

struct ImageView {
  Bytes file;
  std::vector<FatArchView> arches;  // empty for a thin file
  std::vector<SliceView> slices;
};

// Throws std::runtime_error on anything malformed.
ImageView readImage(const std::string& path);

// The code slots of cd whose stored hash differs from the page of slice.
std::vector<std::uint32_t> mismatchedPages(const SliceView& slice, const CodeDirectoryView& cd);

struct CommandResult {
  int status = -1;     // exit status, or -1 when the command did not exit
  std::string output;  // standard output and standard error
};
// Runs argv (no shell expansion of its words) and collects its output.
CommandResult runCommand(const std::vector<std::string>& argv);
// A fresh empty directory for one test, removed with everything in it when
// the test ends.
class TemporaryDirectory {
 public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  std::string file(const std::string& name) const { return _path + "/" + name; }

 private:
  std::string _path;
};

}  // namespace signer_test
