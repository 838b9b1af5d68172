#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "InstallerTesting.h"
#include "platform/FileManager.h"

namespace {

using testing_support::TemporaryDirectory;
using testing_support::readFile;
using testing_support::writeFile;


class Primitives : public testing::Test {
 protected:
  TemporaryDirectory _scratch;
  RecordingFileManager* _fm = new RecordingFileManager;
  MVDaemonInstaller _installer{std::unique_ptr<platform::FileManager>(_fm)};
};

TEST_F(Primitives, RemovingNothingDoesNothingEvenWhereProtected) {
  for (const std::string& path : {_scratch / "missing", std::string("/System/helper-test-missing")}) {
    const LoggedOutcome outcome = logged(_installer, [&] { _installer.installRemoveItem(path); });
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(outcome.log, "");
  }
  EXPECT_TRUE(_fm->removals.empty());
}

TEST_F(Primitives, RemovingAProtectedItemIsRefusedAfterItsLogLine) {
  _fm->pretendRemovals = true;  // nothing is removed even if the gate were wrong
  const LoggedOutcome outcome = logged(_installer, [&] { _installer.installRemoveItem("/"); });
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->reason(), "Not allowed to modify /");
  EXPECT_EQ(outcome.log, "remove /\n");
  EXPECT_TRUE(_fm->removals.empty());
}

TEST_F(Primitives, RemovingADirectoryTakesItsContentsButNeverFollowsALink) {
  std::filesystem::create_directories(_scratch / "dir/sub");
  writeFile(_scratch / "outside", "keep");
  std::filesystem::create_symlink(_scratch / "outside", _scratch / "dir/sub/link");
  _installer.installAddManifestPath(_scratch / "dir", 0);
  _installer.installRemoveItem(_scratch / "dir");
  EXPECT_FALSE(std::filesystem::exists(_scratch / "dir"));
  EXPECT_EQ(readFile(_scratch / "outside"), "keep");
  EXPECT_TRUE(_installer.installedFiles().empty());
}

TEST_F(Primitives, AnItemThatVanishesDuringRemovalIsNoError) {
  writeFile(_scratch / "file", "x");
  _installer.installAddManifestPath(_scratch / "file", 0);
  _fm->removalError = platform::Error::posix(ENOENT);
  EXPECT_NO_THROW(_installer.installRemoveItem(_scratch / "file"));
  _fm->removalError = platform::Error(platform::kCocoaErrorDomain, 4, "gone");
  EXPECT_NO_THROW(_installer.installRemoveItem(_scratch / "file"));
  EXPECT_EQ(_installer.installedFiles().size(), 1u);  // not removed by us: still recorded

  _fm->removalError = platform::Error::posix(EBUSY);
  const platform::Exception error = raisedBy([&] { _installer.installRemoveItem(_scratch / "file"); });
  EXPECT_EQ(error.reason(), "Couldn't remove " + (_scratch / "file") +
                                " (Error Domain=NSPOSIXErrorDomain Code=16 \"Device or resource busy\")");
}

class RootPrimitives : public Primitives {
 protected:
  void SetUp() override {
    if (!testing_support::runningAsRoot()) GTEST_SKIP() << "enforcing owner 0 needs root";
  }
};

TEST_F(RootPrimitives, AnExistingDirectoryIsOnlyCorrected) {
  std::filesystem::create_directory(_scratch / "dir");
  ASSERT_EQ(::chmod((_scratch / "dir").c_str(), 0777), 0);
  const std::string log = actionLogOf(_installer, [&] {
    _installer.installCreateDirectory(_scratch / "dir", static_cast<std::int32_t>(kInstallReplaceExisting), 0,
                                      "wheel", 0700, 0755);
  });
  EXPECT_EQ(log.find("creating directory"), std::string::npos);
  EXPECT_TRUE(_installer.installedFiles().empty());
  EXPECT_EQ(testing_support::statusOf(_scratch / "dir").st_mode & 07777, 0700u);
}

TEST_F(RootPrimitives, AFileInTheWayOfADirectoryIsReplaced) {
  writeFile(_scratch / "dir", "not a directory");
  const std::string log =
      actionLogOf(_installer, [&] { _installer.installCreateDirectory(_scratch / "dir", 0, 0, "wheel", 0755, 0755); });
  EXPECT_TRUE(std::filesystem::is_directory(_scratch / "dir"));
  EXPECT_EQ(log.substr(0, log.find('\n')), "remove " + (_scratch / "dir"));
  EXPECT_NE(log.find("creating directory " + (_scratch / "dir") + "\n"), std::string::npos);
  EXPECT_EQ(_installer.installedFiles(), std::vector<std::string>{_scratch / "dir"});
}

TEST_F(RootPrimitives, MissingParentsAreCreatedButOnlyTheDirectoryIsRecordedAndEnforced) {
  ::umask(022);
  _installer.installCreateDirectory(_scratch / "a/b/c", -1, 0, "wheel", 0777, 0777);
  EXPECT_EQ(testing_support::statusOf(_scratch / "a/b/c").st_mode & 07777, 0777u);
  EXPECT_EQ(testing_support::statusOf(_scratch / "a").st_mode & 07777, 0777u);  // the same mode attribute, not the umask
  // Flags -1 widen with their sign to every bit, the temporary one included.
  EXPECT_EQ(_installer.tempFiles(), std::vector<std::string>{_scratch / "a/b/c"});
  EXPECT_TRUE(_installer.installedFiles().empty());
}

TEST_F(RootPrimitives, CopiesReplaceRecordAndEnforceTheTopItem) {
  writeFile(_scratch / "source", "new", 0700);
  writeFile(_scratch / "destination", "old", 0600);
  _installer.installCopyItem(_scratch / "source", _scratch / "destination", 0755, kInstallReplaceExisting);
  EXPECT_EQ(readFile(_scratch / "destination"), "new");
  EXPECT_EQ(testing_support::statusOf(_scratch / "destination").st_mode & 07777, 0755u);
  EXPECT_EQ(testing_support::statusOf(_scratch / "destination").st_uid, 0u);
  EXPECT_EQ(_installer.installedFiles(), std::vector<std::string>{_scratch / "destination"});

  // Without the replace flag an existing destination is a failed copy.
  const platform::Exception error =
      raisedBy([&] { _installer.installCopyItem(_scratch / "source", _scratch / "destination", 0755, 0); });
  EXPECT_EQ(error.reason().rfind("Copy of " + (_scratch / "source") + " to " + (_scratch / "destination") +
                                     " failed (Error Domain=NSPOSIXErrorDomain Code=17",
                                 0),
            0u);
}

TEST_F(Primitives, AMissingSourceAbortsAfterTheDestinationWasReplaced) {
  writeFile(_scratch / "destination", "old");
  const platform::Exception copy = raisedBy(
      [&] { _installer.installCopyItem(_scratch / "missing", _scratch / "destination", 0755, kInstallReplaceExisting); });
  EXPECT_EQ(copy.reason(), "Missing file " + (_scratch / "missing") + ".");
  EXPECT_FALSE(std::filesystem::exists(_scratch / "destination"));

  const platform::Exception move =
      raisedBy([&] { _installer.installMoveItem(_scratch / "missing", _scratch / "destination", 0); });
  EXPECT_EQ(move.reason(), "Missing file " + (_scratch / "missing") + ".");
}

TEST_F(Primitives, AMoveRecordsItsDestinationBeforeMoving) {
  writeFile(_scratch / "source", "x", 0640);
  writeFile(_scratch / "taken", "y");
  const platform::Exception error =
      raisedBy([&] { _installer.installMoveItem(_scratch / "source", _scratch / "taken", 0); });
  EXPECT_EQ(error.reason().rfind("Move of " + (_scratch / "source") + " to " + (_scratch / "taken") + " failed (", 0),
            0u);
  EXPECT_EQ(_installer.installedFiles(), std::vector<std::string>{_scratch / "taken"});

  _installer.installMoveItem(_scratch / "source", _scratch / "moved", 0);
  EXPECT_EQ(testing_support::statusOf(_scratch / "moved").st_mode & 07777, 0640u);  // nothing enforced on a move
}

TEST_F(RootPrimitives, WritesReplaceAtomicallyWithTheRequestedMode) {
  writeFile(_scratch / "job.plist", "old", 0600);
  ::umask(077);
  _installer.installWriteData("new contents", _scratch / "job.plist", 0644, 0);
  EXPECT_EQ(readFile(_scratch / "job.plist"), "new contents");
  EXPECT_EQ(testing_support::statusOf(_scratch / "job.plist").st_mode & 07777, 0644u);
  ::umask(022);
  _installer.installWriteData(std::nullopt, _scratch / "empty", 0600, 0);
  EXPECT_EQ(std::filesystem::file_size(_scratch / "empty"), 0u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(_scratch.path()), {}), 2);  // no temporary left
}

TEST_F(RootPrimitives, PropertyListsAreWrittenAsXML) {
  platform::PlistValue job = platform::PlistValue::dictionary();
  job.set("Label", platform::PlistValue::string("a&b"));
  _installer.installWritePlist(job, _scratch / "job.plist", 0644, 0);
  EXPECT_NE(readFile(_scratch / "job.plist").find("<key>Label</key>\n\t<string>a&amp;b</string>"), std::string::npos);
  const platform::Exception error =
      raisedBy([&] { _installer.installWritePlist(std::nullopt, _scratch / "other.plist", 0644, 0); });
  EXPECT_EQ(error.reason(), "Internal error.");
  EXPECT_FALSE(std::filesystem::exists(_scratch / "other.plist"));
}

TEST_F(Primitives, ApplicationsMustBeNamedDotApp) {
  for (const char* path : {"/tmp/Tool", "/tmp/Tool.APP", ""}) {
    const platform::Exception error = raisedBy([&] { _installer.installApplication(path, 0); });
    EXPECT_EQ(error.reason(), std::string("Couldn't install app, name ") + path + " is invalid.");
  }
}

}  // namespace
