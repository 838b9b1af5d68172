#include <gtest/gtest.h>

#include <filesystem>

#include "InstallerTesting.h"

namespace {

using testing_support::TemporaryDirectory;
using testing_support::writeFile;

std::string refusalOf(const std::optional<std::string>& path) {
  MVDaemonInstaller installer;
  try {
    installer.checkSafeToModifyItem(path);
  } catch (const platform::Exception& exception) {
    EXPECT_EQ(exception.name(), "abortWithError");
    return exception.reason();
  }
  return "";
}

// Protected locations under the path as given, through other spellings that
// plain character tests would let through, and through symbolic links.
TEST(PathSafety, ProtectedLocationsAreRefusedHoweverReached) {
  TemporaryDirectory scratch;
  std::filesystem::create_directory_symlink("/System", scratch / "system");  // dangling here: still refused
  std::filesystem::create_directory_symlink("/", scratch / "root");
  std::filesystem::create_directory(scratch / "dir");
  std::filesystem::create_directory_symlink(scratch / "root", scratch / "dir/chain");
  std::filesystem::create_symlink("loop", scratch / "loop");  // never resolves: judged by its spelling
  for (const std::string& path : std::initializer_list<std::string>{
           "/", "/Applications", "/System", "/System/Library/x", "/SystemFiles", "/Library", "/Library/Preferences/x",
        "/Library/LaunchDaemons", "/Library/LaunchDaemonsX/y", "/Library/%d%@", "//System/x", "/tmp/../System/x",
        "/./Library/x", "/Applications/", "//", "/.", "/Library/LaunchDaemons/..", "/Library/LaunchDaemons/.",
        "/Library/Application Support/../Preferences/x", "/Library/LaunchAgents/../../System",
        scratch / "system/x", scratch / "root/Library/Preferences/x", scratch / "dir/chain/System",
        scratch / "root/Applications", scratch / "dir/chain/tmp/../Library/x",
        scratch / "loop/../../../../../../../../../../System/x",
        // A case-insensitive volume reaches these as /Library, /System and /Applications.
        "/library/x", "/LIBRARY/Preferences/x", "/library/application support/x", "/\u017Fystem/x", "/Sy\uFB06em",
        "/APPLICATIONS", scratch / "root/library/x"}) {
    EXPECT_EQ(refusalOf(path), "Not allowed to modify " + path) << path;
  }
  EXPECT_EQ(refusalOf(std::nullopt), "Attempted to modify an invalid path (nil).");
  EXPECT_EQ(refusalOf(""), "Attempted to modify an invalid path (empty).");
  // The last component is the item itself: a link there is changed, not followed.
  for (const std::string& path : std::initializer_list<std::string>{
           scratch / "root", "/Applications/Brenlow.app", "/Library/LaunchDaemons/x.plist",
           "/Library/LaunchAgents/x.plist", "/Library/PreferencePanes/x",
           "/Library/Application Support/com.quennard.brenlow/brenlowd", "/usr/local/bin/x", "/APPLICATIONS/x.app"}) {
    EXPECT_EQ(refusalOf(path), "") << path;
  }
}

TEST(PathSafety, LockedItemsAndItemsUnderLockedDirectoriesAreRefused) {
  if (!testing_support::runningAsRoot()) GTEST_SKIP() << "setting the immutable flag needs root";
  TemporaryDirectory scratch;
  std::filesystem::create_directories(scratch / "locked/open");
  writeFile(scratch / "locked/open/file", "x");
  ASSERT_TRUE(testing_support::setImmutable(scratch / "locked/open/file", true));
  ASSERT_TRUE(testing_support::setImmutable(scratch / "locked", true));
  // The item's own lock is found before its directory's.
  const std::string ownLock = refusalOf(scratch / "locked/open/file");
  const std::string directoryLock = refusalOf(scratch / "locked/open/missing");
  testing_support::setImmutable(scratch / "locked", false);
  testing_support::setImmutable(scratch / "locked/open/file", false);
  EXPECT_EQ(ownLock, "Path " + (scratch / "locked/open/file") + " is locked by the user.");
  EXPECT_EQ(directoryLock, "Path " + (scratch / "locked") + " is locked by the user.");
  EXPECT_EQ(refusalOf(scratch / "open-item"), "");
}

}  // namespace
