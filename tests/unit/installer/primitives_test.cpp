#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <vector>

#include "InstallerTesting.h"

namespace {

using testing_support::TemporaryDirectory;
using testing_support::modeOf;
using testing_support::readFile;
using testing_support::writeFile;

class Primitives : public testing::Test {
 protected:
  TemporaryDirectory _scratch;
  RecordingFileManager* _fm = new RecordingFileManager;
  MVDaemonInstaller _installer{std::unique_ptr<platform::FileManager>(_fm)};
};

TEST_F(Primitives, RemovalIsGatedButNeverFailsOnNothing) {
  _fm->pretendRemovals = true;  // nothing is removed even if the gate were wrong
  EXPECT_NO_THROW(_installer.installRemoveItem(_scratch / "missing"));
  EXPECT_NO_THROW(_installer.installRemoveItem("/System/helper-test-missing"));
  EXPECT_EQ(raisedBy([&] { _installer.installRemoveItem("/"); }).reason(), "Not allowed to modify /");
  EXPECT_TRUE(_fm->removals.empty());
}

TEST_F(Primitives, RemovingADirectoryTakesItsContentsButNeverFollowsALink) {
  std::filesystem::create_directories(_scratch / "dir/sub");
  writeFile(_scratch / "outside", "keep");
  std::filesystem::create_symlink(_scratch / "outside", _scratch / "dir/sub/link");
  _installer.installRemoveItem(_scratch / "dir");
  EXPECT_FALSE(std::filesystem::exists(_scratch / "dir"));
  EXPECT_EQ(readFile(_scratch / "outside"), "keep");
}

TEST_F(Primitives, AnItemThatVanishesDuringRemovalIsNoError) {
  writeFile(_scratch / "file", "x");
  _fm->removalError = platform::Error::posix(ENOENT);
  EXPECT_NO_THROW(_installer.installRemoveItem(_scratch / "file"));
  _fm->removalError = platform::Error(platform::kCocoaErrorDomain, 4, "gone");
  EXPECT_NO_THROW(_installer.installRemoveItem(_scratch / "file"));
  _fm->removalError = platform::Error::posix(EBUSY);
  EXPECT_EQ(raisedBy([&] { _installer.installRemoveItem(_scratch / "file"); }).reason(),
            "Couldn't remove " + (_scratch / "file") +
                " (Error Domain=NSPOSIXErrorDomain Code=16 \"Device or resource busy\")");
}

// Hidden temporaries beside the installed names are removed, unless a live
// run still holds one; nothing else is touched.
TEST_F(Primitives, AbandonedTemporariesGoButThoseOfALiveRunStay) {
  for (const char* name : {".helper.0a1b2c3d4e5f", ".brenlowd.x", ".job.plist.dead", "helper", ".helper", ".helper.",
                           ".helperx.1", "helper.1", ".job.plistx", ".other.1"}) {
    writeFile(_scratch / name, "x");
  }
  std::optional<platform::StagedFile> live = platform::StagedFile::withContents("live", _scratch / ".brenlowd.live", 0600);
  ASSERT_TRUE(live && live->replaceItemAtPath(_scratch / ".brenlowd.live"));

  _installer.removeAbandonedStagingFiles(_scratch.path());
  _installer.removeAbandonedTemporaries(_scratch.path(), {"job.plist"});
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(_scratch.path())) {
    left.push_back(entry.path().filename());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{".brenlowd.live", ".helper", ".helper.", ".helperx.1", ".job.plistx",
                                            ".other.1", "helper", "helper.1"}));
  live.reset();  // its run has ended
  _installer.removeAbandonedStagingFiles(_scratch.path());
  EXPECT_FALSE(std::filesystem::exists(_scratch / ".brenlowd.live"));
}

// Everything in the staging folder is a staging copy: those of dead runs go,
// a live run's stays.
TEST_F(Primitives, TheStagingFolderKeepsOnlyTheCopiesOfLiveRuns) {
  const std::string staging = _scratch / platform::StagedFile::kStagingFolderName;
  writeFile(_scratch / "original", "bytes");
  const int original = open((_scratch / "original").c_str(), O_RDONLY);
  auto failure = platform::StagedFile::Failure::kSource;
  std::optional<platform::StagedFile> live = platform::StagedFile::copyOfFile(
      original, _scratch.path(), &failure, platform::StagedFile::Staging::kNamed);
  close(original);
  ASSERT_TRUE(live);
  for (const char* name : {".copy.0a1b2c3d4e5f", "anything"}) writeFile(staging + "/" + name, "x");
  _installer.removeAbandonedStagingFiles(_scratch.path());
  EXPECT_EQ(testing_support::entryCount(staging), 1u);
  live.reset();
  EXPECT_EQ(testing_support::entryCount(staging), 0u);
  EXPECT_TRUE(std::filesystem::is_directory(staging));
}

class RootPrimitives : public Primitives {
 protected:
  void SetUp() override {
    if (!testing_support::runningAsRoot()) GTEST_SKIP() << "enforcing owner 0 needs root";
  }
};

TEST_F(RootPrimitives, DirectoriesAreCorrectedReplacedOrCreatedWithTheirParents) {
  std::filesystem::create_directory(_scratch / "dir");
  ASSERT_EQ(::chmod((_scratch / "dir").c_str(), 0777), 0);
  _installer.installCreateDirectory(_scratch / "dir", kInstallReplaceExisting, 0, "wheel", 0700, 0755);
  EXPECT_EQ(modeOf(_scratch / "dir"), 0700u);

  writeFile(_scratch / "file", "not a directory");
  _installer.installCreateDirectory(_scratch / "file", 0, 0, "wheel", 0755, 0755);
  EXPECT_TRUE(std::filesystem::is_directory(_scratch / "file"));

  ::umask(022);
  _installer.installCreateDirectory(_scratch / "a/b/c", 0, 0, "wheel", 0777, 0777);
  EXPECT_EQ(modeOf(_scratch / "a/b/c"), 0777u);
  EXPECT_EQ(modeOf(_scratch / "a"), 0777u);  // the same mode attribute, not the umask
}

TEST_F(RootPrimitives, WritesReplaceAtomicallyWithTheRequestedMode) {
  writeFile(_scratch / "job.plist", "old", 0600);
  ::umask(077);
  _installer.installWriteData("new contents", _scratch / "job.plist", 0644, 0);
  EXPECT_EQ(readFile(_scratch / "job.plist"), "new contents");
  EXPECT_EQ(modeOf(_scratch / "job.plist"), 0644u);
  ::umask(022);
  _installer.installWriteData(std::nullopt, _scratch / "empty", 0600, 0);
  EXPECT_EQ(std::filesystem::file_size(_scratch / "empty"), 0u);
  EXPECT_EQ(testing_support::entryCount(_scratch.path()), 2u);  // no temporary left
}

TEST_F(RootPrimitives, PropertyListsAreWrittenAsXML) {
  platform::PlistValue job = platform::PlistValue::dictionary();
  job.set("Label", platform::PlistValue::string("a&b"));
  _installer.installWritePlist(job, _scratch / "job.plist", 0644, 0);
  EXPECT_NE(readFile(_scratch / "job.plist").find("<key>Label</key>\n\t<string>a&amp;b</string>"), std::string::npos);
  EXPECT_EQ(raisedBy([&] { _installer.installWritePlist(std::nullopt, _scratch / "other.plist", 0644, 0); }).reason(),
            "Internal error.");
  EXPECT_FALSE(std::filesystem::exists(_scratch / "other.plist"));
}

}  // namespace
