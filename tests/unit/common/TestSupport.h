#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "common/SystemExpectations.h"

namespace testing_support {

// A fresh directory under /tmp, removed with everything in it at the end of
// the test. The removal is the standard library's, so that a fault in the
// code under test cannot hide behind its own clean-up.
class TemporaryDirectory {
 public:
  TemporaryDirectory() {
    std::string pattern = "/tmp/helper-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    _path = pattern;
  }
  ~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(_path, ignored);
  }
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  std::string path(const std::string& name = "") const { return name.empty() ? _path : _path + "/" + name; }
  std::string operator/(const std::string& name) const { return path(name); }

 private:
  std::string _path;
};

// Sets the umask for one scope.
class UmaskScope {
 public:
  explicit UmaskScope(mode_t mask) : _saved(umask(mask)) {}
  ~UmaskScope() { umask(_saved); }
  UmaskScope(const UmaskScope&) = delete;
  UmaskScope& operator=(const UmaskScope&) = delete;

 private:
  mode_t _saved;
};

inline void writeFile(const std::string& path, const std::string& contents, mode_t mode = 0644) {
  std::ofstream(path, std::ios::binary) << contents;
  if (chmod(path.c_str(), mode) != 0) throw std::runtime_error("chmod failed: " + path);
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

// The item's own status, a link not followed.
inline struct stat statusOf(const std::string& path) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) throw std::runtime_error("lstat failed: " + path);
  return status;
}

inline mode_t modeOf(const std::string& path) { return statusOf(path).st_mode & 07777; }

inline std::size_t entryCount(const std::string& directory) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) ++count;
  return count;
}

inline bool runningAsRoot() { return geteuid() == 0; }

}  // namespace testing_support

#define REQUIRE_ROOT(why)                                    \
  do {                                                       \
    if (geteuid() != 0) GTEST_SKIP() << "needs root: " why; \
  } while (0)
