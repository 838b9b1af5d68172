#pragma once

// A reader of signed Mach-O files for the signer's tests, written apart from
// the signer's own parser so that the tests do not take the signer's word for
// the layout; and a way to run the signer.

#include <string>
#include <utility>
#include <vector>

#include "../Bytes.h"

namespace signer_test {

using signer::Bytes;

std::string fixturePath(const std::string& name);
std::string caPath(const std::string& name);

struct SliceView {
  std::uint32_t cputype = 0;
  Bytes bytes;
  std::uint32_t dataoff = 0;                           // of LC_CODE_SIGNATURE; 0 when unsigned
  std::vector<std::pair<std::uint32_t, Bytes>> blobs;  // slot and blob, in index order

  // The CodeDirectories in index order (slot 0, then 0x1000..0x1004).
  std::vector<Bytes> codeDirectories() const;
  // The DER CMS inside the signature slot's wrapper.
  Bytes cms() const;
};

// One slice for a thin file, one per architecture for a universal one.
// Throws on anything malformed.
std::vector<SliceView> readSlices(const std::string& path);

struct CommandResult {
  int status = -1;     // exit status, or -1 when the command did not exit
  std::string output;  // standard output and standard error
};
// Runs argv (no shell expansion of its words) and collects its output.
CommandResult runCommand(const std::vector<std::string>& argv);

class TemporaryDirectory {  // a fresh empty directory, removed with all in it
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
