#include <gtest/gtest.h>

#include <filesystem>

#include "InstallerTesting.h"

namespace {

using testing_support::TemporaryDirectory;
using testing_support::readFile;
using testing_support::writeFile;

TEST(InstallerCore, ShellCommandsReturnTheRawWaitStatusAndLogIt) {
  MVDaemonInstaller installer;
  int status = -2;
  const std::string log = actionLogOf(installer, [&] { status = installer.system("exit %d", 1); });
  EXPECT_EQ(status, 256);
  EXPECT_EQ(log, "exit 1: 256\n");
  EXPECT_EQ(installer.system("true"), 0);
}

TEST(InstallerCore, TheActionLogIsSilentUnlessVerbose) {
  MVDaemonInstaller installer;
  testing::internal::CaptureStderr();
  installer.logInstallerAction("remove %@", "/tmp/x");
  installer.system("true");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(InstallerCore, AbortsCarryTheirNameAndTheMessageFormattedOnce) {
  MVDaemonInstaller installer;
  platform::Exception error = raisedBy([&] { installer.abortWithError("Not allowed to modify %@", "/tmp/%d%@"); });
  EXPECT_EQ(error.name(), "abortWithError");
  EXPECT_EQ(error.reason(), "Not allowed to modify /tmp/%d%@");

  platform::Exception notice = raisedBy([&] { installer.abortWithNotice("%@", ""); });
  EXPECT_EQ(notice.name(), "abortWithNotice");
  EXPECT_EQ(notice.reason(), "");
}

TEST(InstallerCore, ManifestsKeepFirstRecordingOrderWithoutDuplicates) {
  MVDaemonInstaller installer;
  installer.installAddManifestPath("/tmp/b", 0);
  installer.installAddManifestPath("/tmp/a", 0);
  installer.installAddManifestPath("/tmp/b", kInstallReplaceExisting);
  installer.installAddManifestPath("/tmp/a/", 0);
  installer.installAddManifestPath("/tmp/b", kInstallTemporary);
  EXPECT_EQ(installer.installedFiles(), (std::vector<std::string>{"/tmp/b", "/tmp/a", "/tmp/a/"}));
  EXPECT_EQ(installer.tempFiles(), (std::vector<std::string>{"/tmp/b"}));
}

TEST(InstallerCore, CleanupRemovesInRecordingOrderPastFailuresAndKeepsTheList) {
  TemporaryDirectory scratch;
  std::filesystem::create_directory(scratch / "dir");
  writeFile(scratch / "dir/inner", "x");
  writeFile(scratch / "file", "y");

  MVDaemonInstaller installer;
  for (const char* name : {"dir", "dir/inner", "missing", "file"}) installer.installAddManifestPath(scratch / name, 0);
  const std::string log = actionLogOf(installer, [&] { installer.cleanupInstalledFiles(); });

  EXPECT_FALSE(std::filesystem::exists(scratch / "dir"));
  EXPECT_FALSE(std::filesystem::exists(scratch / "file"));
  EXPECT_EQ(installer.installedFiles().size(), 4u);
  EXPECT_EQ(log, "cleanup: deleting " + (scratch / "dir") + "\ncleanup: deleting " + (scratch / "dir/inner") +
                     "\ncleanup: deleting " + (scratch / "missing") + "\ncleanup: deleting " + (scratch / "file") +
                     "\n");
  // A second walk tries every removal again and fails silently.
  EXPECT_NO_THROW(installer.cleanupInstalledFiles());
  EXPECT_NO_THROW(installer.cleanupTempFiles());
}

TEST(InstallerCore, RemovingARecordedItemTakesItOutOfTheInstalledManifestOnly) {
  TemporaryDirectory scratch;
  writeFile(scratch / "file", "x");
  MVDaemonInstaller installer;
  installer.installAddManifestPath(scratch / "file", 0);
  installer.installAddManifestPath(scratch / "file", kInstallTemporary);
  installer.installRemoveItem(scratch / "file");
  EXPECT_TRUE(installer.installedFiles().empty());
  EXPECT_EQ(installer.tempFiles(), std::vector<std::string>{scratch / "file"});
}

}  // namespace
