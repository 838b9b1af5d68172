#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace testing_support {

// A fresh directory under /tmp for one test, removed with everything in it
// when the test ends.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = "/tmp/helper-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    _path = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(_path, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::string& path() const { return _path; }
  std::string operator/(const std::string& name) const { return _path + "/" + name; }

 private:
  std::string _path;
};

inline bool runningAsRoot() { return ::geteuid() == 0; }

}  // namespace testing_support
