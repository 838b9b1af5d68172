// The primitives each system implements on its own (platform/linux,
// platform/darwin), through their one interface: whatever system they run
// on, they must keep the same promises. Where the systems answer
// differently, the test says so in one place.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/TestSupport.h"
#include "platform/FileSystemIdentity.h"
#include "platform/ItemHandle.h"
#include "platform/RenameNoReplace.h"

namespace {

using testing_support::TemporaryDirectory;
using testing_support::readFile;
using testing_support::writeFile;

constexpr uid_t kNobody = 65534;

mode_t modeOf(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0 ? status.st_mode : 0;
}

TEST(ItemHandle, ReachesTheItemItselfNeverALinksTarget) {
  TemporaryDirectory scratch;
  writeFile(scratch / "file", "bytes");
  ASSERT_EQ(chmod((scratch / "file").c_str(), 04755), 0);
  ASSERT_EQ(symlink((scratch / "file").c_str(), (scratch / "link").c_str()), 0);

  const platform::ScopedFd file = platform::openItemNoFollow(scratch / "file");
  ASSERT_TRUE(file.valid());
  ASSERT_EQ(platform::changeModeOfItem(file.get(), 0755), 0);
  EXPECT_EQ(modeOf(scratch / "file") & 07777, 0755u);

  const platform::ScopedFd link = platform::openItemNoFollow(scratch / "link");
  struct stat status {};
  ASSERT_TRUE(link.valid());
  ASSERT_EQ(fstat(link.get(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  EXPECT_FALSE(platform::openItemNoFollow(scratch / "missing").valid());
}

TEST(ItemHandle, APipeNeverBlocksTheOpener) {
  TemporaryDirectory scratch;
  ASSERT_EQ(mkfifo((scratch / "pipe").c_str(), 0600), 0);
  errno = 0;
  const platform::ScopedFd pipe = platform::openItemNoFollow(scratch / "pipe");
#if defined(__APPLE__)
  // No O_PATH: only files, directories and links are opened.
  EXPECT_FALSE(pipe.valid());
  EXPECT_EQ(errno, EOPNOTSUPP);
#else
  EXPECT_TRUE(pipe.valid());  // O_PATH opens nothing
#endif
}

TEST(RenameNoReplace, NeverReplacesWhatIsThere) {
  TemporaryDirectory scratch;
  writeFile(scratch / "new", "new");
  writeFile(scratch / "old", "old");
  errno = 0;
  EXPECT_EQ(platform::renameNoReplace(scratch / "new", scratch / "old"), -1);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(readFile(scratch / "old"), "old");
  EXPECT_EQ(readFile(scratch / "new"), "new");
  EXPECT_EQ(platform::renameNoReplace(scratch / "new", scratch / "free"), 0);
  EXPECT_EQ(readFile(scratch / "free"), "new");
}

TEST(FileSystemIdentity, AccessIsJudgedAsTheAssumedUserUntilRestored) {
  if (!testing_support::runningAsRoot()) GTEST_SKIP() << "switching identities needs root";
  TemporaryDirectory scratch;
  ASSERT_EQ(chmod(scratch.path().c_str(), 0755), 0);
  writeFile(scratch / "root-only", "secret");
  ASSERT_EQ(chmod((scratch / "root-only").c_str(), 0600), 0);
  writeFile(scratch / "public", "open");
  ASSERT_EQ(chmod((scratch / "public").c_str(), 0644), 0);

  const std::optional<platform::FileSystemIdentity> previous = platform::assumeFileSystemIdentity(kNobody, kNobody);
  ASSERT_TRUE(previous);
  errno = 0;
  const platform::ScopedFd denied(open((scratch / "root-only").c_str(), O_RDONLY | O_CLOEXEC));
  const int denial = errno;
  const platform::ScopedFd allowed(open((scratch / "public").c_str(), O_RDONLY | O_CLOEXEC));
  platform::restoreFileSystemIdentity(*previous);
  const platform::ScopedFd again(open((scratch / "root-only").c_str(), O_RDONLY | O_CLOEXEC));

  EXPECT_FALSE(denied.valid());
  EXPECT_EQ(denial, EACCES);
  EXPECT_TRUE(allowed.valid());
  EXPECT_TRUE(again.valid());
}

}  // namespace
