#include <gtest/gtest.h>

#include "common/TestSupport.h"
#include "platform/FileManager.h"
#include "platform/RegularFile.h"
#include "platform/ScopedFd.h"

namespace platform {
namespace {

using testing_support::modeOf;
using testing_support::readFile;
using testing_support::statusOf;
using testing_support::writeFile;

class FileManagerTest : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return _directory.path(name); }
  std::string link(const std::string& target, const std::string& name) const {
    std::string at = path(name);
    if (symlink(target.c_str(), at.c_str()) != 0) throw std::runtime_error("symlink failed");
    return at;
  }

  testing_support::TemporaryDirectory _directory;
  FileManager _fm;
  ErrorSlot _error;
};

FileAttributes withMode(std::uint64_t mode) {
  FileAttributes attributes;
  attributes.posixPermissions = mode;
  return attributes;
}

TEST_F(FileManagerTest, ExistenceCountsALinkAsItself) {
  writeFile(path("file"), "x");
  std::filesystem::create_directory(path("dir"));
  link("missing", "dangling");
  link(path("dir"), "to-dir");
  struct Case {
    std::string name;
    bool exists, directory;
  } cases[] = {{"file", true, false},    {"dir", true, true},    {"dir/", true, true},
               {"dangling", true, false}, {"to-dir", true, false}, {"to-dir/", true, false},
               {"missing", false, false}};
  for (const Case& c : cases) {
    bool isDirectory = !c.directory;
    EXPECT_EQ(_fm.fileExistsAtPath(path(c.name)), c.exists) << c.name;
    EXPECT_EQ(_fm.fileExistsAtPath(path(c.name), &isDirectory), c.exists) << c.name;
    EXPECT_EQ(isDirectory, c.directory) << c.name;
  }
}

TEST_F(FileManagerTest, CreatesDirectoriesWithTheExactModeWhateverTheUmask) {
  FileAttributes attributes = withMode(0751);
  for (mode_t mask : {mode_t{0}, mode_t{077}, mode_t{0777}}) {
    testing_support::UmaskScope umask(mask);
    std::string top = path("m" + std::to_string(mask));
    ASSERT_TRUE(_fm.createDirectoryAtPath(top + "/a/b", true, &attributes, &_error));
    EXPECT_EQ(modeOf(top), 0751u);
    EXPECT_EQ(modeOf(top + "/a"), 0751u);
    EXPECT_EQ(modeOf(top + "/a/b"), 0751u);
  }
  testing_support::UmaskScope umask(022);
  ASSERT_TRUE(_fm.createDirectoryAtPath(path("plain"), true, nullptr, &_error));
  EXPECT_EQ(modeOf(path("plain")), 0755u);
  EXPECT_FALSE(_error);
}

TEST_F(FileManagerTest, CreatingDirectoriesAcceptsExistingOnesOnly) {
  std::filesystem::create_directory(path("dir"));
  link(path("dir"), "to-dir");
  writeFile(path("file"), "x");
  EXPECT_TRUE(_fm.createDirectoryAtPath(path("dir"), true, nullptr, &_error));
  EXPECT_TRUE(_fm.createDirectoryAtPath(path("to-dir/sub"), true, nullptr, &_error));
  EXPECT_FALSE(_error);

  const std::tuple<const char*, bool, int> refused[] = {
      {"file", true, EEXIST}, {"file/sub", true, ENOTDIR}, {"missing/sub", false, ENOENT}, {"dir", false, EEXIST}};
  for (const auto& [name, intermediates, code] : refused) {
    EXPECT_FALSE(_fm.createDirectoryAtPath(path(name), intermediates, nullptr, &_error)) << name;
    EXPECT_EQ(_error ? _error->code() : 0, code) << name;
  }
}

TEST_F(FileManagerTest, ReplacesAFileAtomicallyWithTheExactMode) {
  writeFile(path("job.plist"), "old contents", 0600);
  ScopedFd reader(open(path("job.plist").c_str(), O_RDONLY | O_CLOEXEC));
  FileAttributes attributes = withMode(0644);
  for (mode_t mask : {mode_t{0}, mode_t{0777}}) {
    testing_support::UmaskScope umask(mask);
    std::string contents = std::string("new\0contents ", 13) + std::to_string(mask);
    ASSERT_TRUE(_fm.createFileAtPath(path("job.plist"), contents, &attributes));
    EXPECT_EQ(readFile(path("job.plist")), contents);
    EXPECT_EQ(modeOf(path("job.plist")), 0644u);
  }
  // Replaced, not rewritten: a reader of the old file still sees all of it.
  char old[64] = {};
  EXPECT_EQ(pread(reader.get(), old, sizeof old, 0), 12);
  EXPECT_STREQ(old, "old contents");
  EXPECT_EQ(testing_support::entryCount(path("")), 1u) << "a temporary file was left behind";

  testing_support::UmaskScope umask(027);
  ASSERT_TRUE(_fm.createFileAtPath(path("plain"), "", nullptr));
  EXPECT_EQ(modeOf(path("plain")), 0640u);
}

TEST_F(FileManagerTest, ReplacesALinkRatherThanWritingThroughIt) {
  writeFile(path("target"), "target contents");
  link(path("target"), "link");
  FileAttributes attributes = withMode(0600);
  ASSERT_TRUE(_fm.createFileAtPath(path("link"), "written", &attributes));
  EXPECT_TRUE(S_ISREG(statusOf(path("link")).st_mode));
  EXPECT_EQ(readFile(path("target")), "target contents");
}

TEST_F(FileManagerTest, AFailedWriteLeavesNoTemporary) {
  std::filesystem::create_directory(path("dir"));
  EXPECT_FALSE(_fm.createFileAtPath(path("dir"), "x", nullptr));
  EXPECT_FALSE(_fm.createFileAtPath(path("missing/file"), "x", nullptr));
  EXPECT_FALSE(_fm.createFileAtPath("", "x", nullptr));
  EXPECT_FALSE(_fm.createFileAtPath("/", "x", nullptr));
  EXPECT_EQ(testing_support::entryCount(path("")), 1u);
}

TEST_F(FileManagerTest, ReadsAttributesOfTheItemItself) {
  writeFile(path("file"), "x", 04750);
  link(path("file"), "link");
  std::optional<FileAttributes> file = _fm.attributesOfItemAtPath(path("file"), &_error);
  std::optional<FileAttributes> linked = _fm.attributesOfItemAtPath(path("link"), &_error);
  ASSERT_TRUE(file && linked);
  EXPECT_EQ(file->type, NSFileTypeRegular);
  EXPECT_EQ(file->posixPermissions, 04750u);
  EXPECT_EQ(file->ownerAccountID, static_cast<std::int32_t>(geteuid()));
  EXPECT_EQ(linked->type, NSFileTypeSymbolicLink);
  EXPECT_EQ(linked->posixPermissions, 0777u);
  EXPECT_EQ(_fm.attributesOfItemAtPath(path(""), &_error)->type, NSFileTypeDirectory);
  EXPECT_FALSE(_error);
}

TEST_F(FileManagerTest, SettingAttributesNeverFollowsALink) {
  writeFile(path("target"), "x", 0600);
  std::filesystem::create_directory(path("dir"));
  ASSERT_EQ(chmod(path("dir").c_str(), 0700), 0);
  link(path("target"), "link");
  link(path("dir"), "to-dir");
  for (const char* name : {"link", "to-dir", "to-dir/"}) {
    _error.reset();
    EXPECT_FALSE(_fm.setAttributes(withMode(04777), path(name), &_error)) << name;
    EXPECT_TRUE(_error) << name;
  }
  EXPECT_EQ(modeOf(path("target")), 0600u);
  EXPECT_EQ(modeOf(path("dir")), 0700u);

  if (geteuid() == 0) {
    FileAttributes owner;
    owner.ownerAccountID = 4321;
    ASSERT_TRUE(_fm.setAttributes(owner, path("link"), &_error));
    EXPECT_EQ(statusOf(path("link")).st_uid, 4321u);
    EXPECT_EQ(statusOf(path("target")).st_uid, 0u);
  }
}

TEST_F(FileManagerTest, ReadsTheImmutableFlagOfFilesAndDirectoriesOnly) {
  writeFile(path("file"), "x");
  std::filesystem::create_directory(path("dir"));
  link(path("file"), "link");
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
  const bool root = geteuid() == 0;  // only root sets the flag
  for (const char* name : {"file", "dir"}) {
    ASSERT_EQ(testing_support::setImmutable(path(name), true), root) << name;
    std::optional<bool> locked = _fm.isUserImmutable(path(name), &_error);
    testing_support::setImmutable(path(name), false);
    EXPECT_EQ(locked, root) << name;
  }
  EXPECT_FALSE(_error);
  for (const char* name : {"link", "fifo", "missing"}) {
    _error.reset();
    EXPECT_FALSE(_fm.isUserImmutable(path(name), &_error)) << name;
    EXPECT_TRUE(_error) << name;
  }
}

TEST_F(FileManagerTest, ReadsWholeRegularFilesOnly) {
  std::string bytes("binary\0data\xff", 12);
  writeFile(path("file"), bytes);
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
  std::filesystem::create_directory(path("dir"));
  EXPECT_EQ(dataWithContentsOfFile(path("file")), bytes);
  writeFile(path("empty"), "");
  EXPECT_EQ(dataWithContentsOfFile(path("empty")), "");
  EXPECT_FALSE(dataWithContentsOfFile(path("fifo")));
  EXPECT_FALSE(dataWithContentsOfFile(path("dir")));
  EXPECT_FALSE(dataWithContentsOfFile(path("missing")));
}

}  // namespace
}  // namespace platform
