// The run lock: one holder at a time, a waiter told once, the record kept in
// place, and nothing but a regular file of root's taken for it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "common/TestSupport.h"
#include "platform/LockFile.h"

namespace platform {
namespace {

using Access = LockFile::Access;
using testing_support::TemporaryDirectory;
using testing_support::writeFile;

TEST(LockFile, OneHolderAtATimeAndTheWaiterIsToldOnce) {
  const TemporaryDirectory dir;
  std::optional<LockFile> first = LockFile::create(dir.path(), ".lock");
  ASSERT_TRUE(first);
  int waits = 0;
  ASSERT_TRUE(first->lock(Access::kExclusive, [&] { ++waits; }));
  EXPECT_EQ(waits, 0);
  std::optional<LockFile> second = LockFile::openExisting(dir.path(), ".lock");
  ASSERT_TRUE(second);
  // Told once, before it waits; the first holder then lets go.
  EXPECT_TRUE(second->lock(Access::kShared, [&] { ++waits, first.reset(); }));
  EXPECT_EQ(waits, 1);
  std::optional<LockFile> third = LockFile::openExisting(dir.path(), ".lock");
  ASSERT_TRUE(third);
  EXPECT_TRUE(third->lock(Access::kShared, [&] { ++waits; }));  // readers share
  EXPECT_EQ(waits, 1);
}

TEST(LockFile, TheRecordIsReplacedInPlaceAndBounded) {
  const TemporaryDirectory dir;
  std::optional<LockFile> lock = LockFile::create(dir.path(), ".lock");
  ASSERT_TRUE(lock);
  struct stat before {};
  ASSERT_EQ(stat((dir / ".lock").c_str(), &before), 0);
  EXPECT_EQ(before.st_mode & 07777, 0600u);
  EXPECT_EQ(lock->record(), "");
  ASSERT_TRUE(lock->replaceRecord("brenlowd 12\nhelper 12\n"));
  ASSERT_TRUE(lock->replaceRecord("helper 3\n"));  // shorter: nothing of the old one stays
  EXPECT_EQ(lock->record(), "helper 3\n");
  struct stat after {};
  ASSERT_EQ(stat((dir / ".lock").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);  // the lock stays with its inode
  EXPECT_TRUE(lock->replaceRecord(std::string(LockFile::kMaximumRecord, 'x')));
  EXPECT_FALSE(lock->replaceRecord(std::string(LockFile::kMaximumRecord + 1, 'x')));
  writeFile(dir / ".lock", std::string(LockFile::kMaximumRecord, 'x'));
  EXPECT_TRUE(lock->record());
  writeFile(dir / ".lock", std::string(LockFile::kMaximumRecord + 1, 'x'));
  EXPECT_FALSE(lock->record());
}

TEST(LockFile, OnlyARegularFileOfRootsIsTakenAndItBecomesRootsAlone) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make files of others";
  const TemporaryDirectory dir;
  std::filesystem::create_symlink(dir / "target", dir / "link");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  writeFile(dir / "users", "");
  ASSERT_EQ(chown((dir / "users").c_str(), 65534, 65534), 0);
  for (const char* name : {"link", "fifo", "users"}) {
    EXPECT_FALSE(LockFile::create(dir.path(), name)) << name;
    EXPECT_FALSE(LockFile::openExisting(dir.path(), name)) << name;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "target"));
  EXPECT_FALSE(LockFile::openExisting(dir.path(), "missing"));
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
  writeFile(dir / "open", "");
  ASSERT_EQ(chmod((dir / "open").c_str(), 0666), 0);
  EXPECT_TRUE(LockFile::openExisting(dir.path(), "open"));  // read only: left as it is
  struct stat status {};
  ASSERT_EQ(stat((dir / "open").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0666u);
  EXPECT_TRUE(LockFile::create(dir.path(), "open"));
  ASSERT_EQ(stat((dir / "open").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);
}

}  // namespace
}  // namespace platform
