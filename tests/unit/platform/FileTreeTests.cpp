#include <gtest/gtest.h>

#include "common/TestSupport.h"
#include "platform/FileManager.h"

namespace platform {
namespace {

using testing_support::modeOf;
using testing_support::readFile;
using testing_support::writeFile;

// A tree with everything that a removal must not follow out of:
//   tree/file, tree/sub/deep, tree/sub/empty/,
//   tree/to-file -> outside/secret, tree/sub/to-dir -> outside
class FileTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(path("outside"));
    writeFile(path("outside/secret"), "keep me", 0600);
    std::filesystem::create_directories(path("tree/sub/empty"));
    writeFile(path("tree/file"), "file contents");
    writeFile(path("tree/sub/deep"), "deep contents");
    ASSERT_EQ(symlink(path("outside/secret").c_str(), path("tree/to-file").c_str()), 0);
    ASSERT_EQ(symlink("../../outside", path("tree/sub/to-dir").c_str()), 0);
  }

  std::string path(const std::string& name) const { return _directory.path(name); }

  void expectOutsideUntouched() {
    EXPECT_EQ(readFile(path("outside/secret")), "keep me");
    EXPECT_EQ(modeOf(path("outside/secret")), 0600u);
    EXPECT_EQ(testing_support::entryCount(path("outside")), 1u);
  }

  testing_support::TemporaryDirectory _directory;
  FileManager _fm;
  ErrorSlot _error;
};

TEST_F(FileTreeTest, RemovesATreeOrALinkWithoutFollowingLinks) {
  ASSERT_EQ(symlink(path("outside").c_str(), path("link").c_str()), 0);
  for (const char* name : {"tree", "link/"}) {
    ASSERT_TRUE(_fm.removeItemAtPath(path(name), &_error)) << name;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path(name)))) << name;
  }
  EXPECT_FALSE(_error);
  expectOutsideUntouched();
}

TEST_F(FileTreeTest, RemovalFailuresReportTheirError) {
  EXPECT_FALSE(_fm.removeItemAtPath(path("missing"), &_error));
  ASSERT_TRUE(_error);
  EXPECT_EQ(_error->domain(), kPOSIXErrorDomain);
  EXPECT_EQ(_error->code(), ENOENT);
  for (const char* name : {"tree/.", "tree/sub/..", "tree/sub/../"}) {
    _error.reset();
    EXPECT_FALSE(_fm.removeItemAtPath(path(name), &_error)) << name;
    EXPECT_EQ(_error->code(), EINVAL) << name;
  }
  // A NUL byte would cut the path short at "tree".
  EXPECT_FALSE(_fm.removeItemAtPath(path("tree") + std::string(1, '\0') + "/sub", &_error));
  EXPECT_EQ(readFile(path("tree/sub/deep")), "deep contents");
}

// Copying is reached by no command today; one test keeps it honest.
TEST_F(FileTreeTest, CopiesATreeWithLinksAsLinksButNeverOverAnItem) {
  ASSERT_TRUE(_fm.copyItemAtPath(path("tree"), path("copy"), &_error));
  EXPECT_EQ(readFile(path("copy/sub/deep")), "deep contents");
  EXPECT_EQ(std::filesystem::read_symlink(path("copy/sub/to-dir")), "../../outside");
  EXPECT_FALSE(_fm.copyItemAtPath(path("tree/file"), path("copy/to-file"), &_error));
  EXPECT_EQ(_error ? _error->code() : 0, EEXIST);
  expectOutsideUntouched();
}

}  // namespace
}  // namespace platform
