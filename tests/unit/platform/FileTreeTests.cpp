#include <gtest/gtest.h>

#include "common/TestSupport.h"
#include "platform/FileManager.h"

namespace platform {
namespace {

using testing_support::modeOf;
using testing_support::readFile;
using testing_support::statusOf;
using testing_support::writeFile;

// A tree with everything that a removal or copy must not follow out of:
//   tree/file (0751), tree/sub/deep, tree/sub/empty/,
//   tree/to-file -> outside/secret, tree/sub/to-dir -> outside
class FileTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(path("outside"));
    writeFile(path("outside/secret"), "keep me", 0600);
    std::filesystem::create_directories(path("tree/sub/empty"));
    writeFile(path("tree/file"), "file contents", 0751);
    writeFile(path("tree/sub/deep"), "deep contents", 0640);
    ASSERT_EQ(chmod(path("tree/sub").c_str(), 0710), 0);
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

TEST_F(FileTreeTest, RemovesATreeWithoutFollowingItsLinks) {
  ASSERT_TRUE(_fm.removeItemAtPath(path("tree"), &_error));
  EXPECT_FALSE(_error);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path("tree"))));
  expectOutsideUntouched();
}

TEST_F(FileTreeTest, RemovesALinkToADirectoryAsALink) {
  ASSERT_EQ(symlink(path("outside").c_str(), path("link").c_str()), 0);
  ASSERT_TRUE(_fm.removeItemAtPath(path("link/"), &_error));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path("link"))));
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

TEST_F(FileTreeTest, CopiesATreeWithModesAndLinksAsLinks) {
  ASSERT_TRUE(_fm.copyItemAtPath(path("tree"), path("copy"), &_error));
  EXPECT_FALSE(_error);
  EXPECT_EQ(readFile(path("copy/file")), "file contents");
  EXPECT_EQ(modeOf(path("copy/file")), 0751u);
  EXPECT_EQ(readFile(path("copy/sub/deep")), "deep contents");
  EXPECT_EQ(modeOf(path("copy/sub/deep")), 0640u);
  EXPECT_EQ(modeOf(path("copy/sub")), 0710u);
  EXPECT_TRUE(std::filesystem::is_directory(path("copy/sub/empty")));
  EXPECT_EQ(std::filesystem::read_symlink(path("copy/to-file")), path("outside/secret"));
  EXPECT_EQ(std::filesystem::read_symlink(path("copy/sub/to-dir")), "../../outside");
  EXPECT_NE(statusOf(path("copy/file")).st_ino, statusOf(path("tree/file")).st_ino);
  expectOutsideUntouched();
}

TEST_F(FileTreeTest, CopiesALinkAsALink) {
  ASSERT_TRUE(_fm.copyItemAtPath(path("tree/to-file"), path("copied-link"), &_error));
  EXPECT_EQ(std::filesystem::read_symlink(path("copied-link")), path("outside/secret"));
}

TEST_F(FileTreeTest, NeverCopiesOverAnExistingItem) {
  writeFile(path("existing"), "existing", 0600);
  ASSERT_EQ(symlink(path("outside/secret").c_str(), path("existing-link").c_str()), 0);
  for (const char* destination : {"existing", "existing-link", "outside"}) {
    _error.reset();
    EXPECT_FALSE(_fm.copyItemAtPath(path("tree/file"), path(destination), &_error)) << destination;
    ASSERT_TRUE(_error) << destination;
    EXPECT_EQ(_error->code(), EEXIST) << destination;
  }
  EXPECT_FALSE(_fm.copyItemAtPath(path("tree"), path("existing"), &_error));
  EXPECT_EQ(readFile(path("existing")), "existing");
  EXPECT_EQ(modeOf(path("existing")), 0600u);
  expectOutsideUntouched();
}

TEST_F(FileTreeTest, AFailedCopyLeavesNothingBehind) {
  ASSERT_EQ(mkfifo(path("tree/sub/pipe").c_str(), 0600), 0);
  EXPECT_FALSE(_fm.copyItemAtPath(path("tree"), path("copy"), &_error));
  ASSERT_TRUE(_error);
  EXPECT_EQ(_error->code(), EOPNOTSUPP);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path("copy"))));
  EXPECT_FALSE(_fm.copyItemAtPath(path("missing"), path("copy"), &_error));
  EXPECT_EQ(_error->code(), ENOENT);
}

TEST_F(FileTreeTest, MovesOnlyToAFreeDestination) {
  writeFile(path("existing"), "existing");
  EXPECT_FALSE(_fm.moveItemAtPath(path("tree/file"), path("existing"), &_error));
  ASSERT_TRUE(_error);
  EXPECT_EQ(_error->code(), EEXIST);
  EXPECT_EQ(readFile(path("existing")), "existing");
  EXPECT_EQ(readFile(path("tree/file")), "file contents");

  _error.reset();
  ASSERT_TRUE(_fm.moveItemAtPath(path("tree"), path("moved"), &_error));
  EXPECT_FALSE(_error);
  EXPECT_EQ(readFile(path("moved/sub/deep")), "deep contents");
  EXPECT_FALSE(std::filesystem::exists(path("tree")));
}

}  // namespace
}  // namespace platform
