#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>

#include "InstallerTesting.h"

namespace {

using testing_support::TemporaryDirectory;
using testing_support::readFile;
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

TEST(PathSafety, InvalidPathsAreRefusedBeforeAnyLocationTest) {
  EXPECT_EQ(refusalOf(std::nullopt), "Attempted to modify an invalid path (nil).");
  EXPECT_EQ(refusalOf(""), "Attempted to modify an invalid path (empty).");
}

TEST(PathSafety, ProtectedLocationsAreRefusedUnderThePathAsGiven) {
  for (const char* path : {"/", "/Applications", "/System", "/System/Library/x", "/SystemFiles", "/Library",
                           "/Library/Preferences/x", "/Library/LaunchDaemons", "/Library/LaunchDaemonsX/y",
                           "/Library/%d%@"}) {
    EXPECT_EQ(refusalOf(path), std::string("Not allowed to modify ") + path) << path;
  }
}

// Spellings that the plain character tests would let through.
TEST(PathSafety, ProtectedLocationsReachedThroughOtherSpellingsAreRefused) {
  for (const char* path : {"//System/x", "/tmp/../System/x", "/./Library/x", "/Applications/", "//", "/.",
                           "/Library/LaunchDaemons/..", "/Library/LaunchDaemons/.",
                           "/Library/Application Support/../Preferences/x", "/Library/LaunchAgents/../../System"}) {
    EXPECT_EQ(refusalOf(path), std::string("Not allowed to modify ") + path) << path;
  }
}

TEST(PathSafety, ProtectedLocationsReachedThroughSymbolicLinksAreRefused) {
  TemporaryDirectory scratch;
  std::filesystem::create_directory_symlink("/System", scratch / "system");  // dangling here: still refused
  std::filesystem::create_directory_symlink("/", scratch / "root");
  std::filesystem::create_directory(scratch / "dir");
  std::filesystem::create_directory_symlink(scratch / "root", scratch / "dir/chain");
  std::filesystem::create_symlink("loop", scratch / "loop");  // never resolves: judged by its spelling
  for (const std::string& path : {scratch / "system/x", scratch / "root/Library/Preferences/x",
                                  scratch / "dir/chain/System", scratch / "root/Applications",
                                  scratch / "dir/chain/tmp/../Library/x",
                                  scratch / "loop/../../../../../../../../../../System/x"}) {
    EXPECT_EQ(refusalOf(path), "Not allowed to modify " + path) << path;
  }
  // The last component is the item itself: a link there is changed, not followed.
  EXPECT_EQ(refusalOf(scratch / "root"), "");
}

TEST(PathSafety, AllowedLocationsPass) {
  for (const char* path : {"/Applications/Brenlow.app", "/Library/LaunchDaemons/x.plist",
                           "/Library/LaunchAgents/x.plist", "/Library/PreferencePanes/x",
                           "/Library/Application Support/com.quennard.brenlow/brenlowd", "/library/x",
                           "/usr/local/bin/x"}) {
    EXPECT_EQ(refusalOf(path), "") << path;
  }
}

// Sets or clears the user-immutable flag for the life of the guard.
class ImmutableFlag {
 public:
  explicit ImmutableFlag(std::string path) : _path(std::move(path)) { set(true); }
  ~ImmutableFlag() { set(false); }

 private:
  void set(bool on) {
    const int fd = ::open(_path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0) << _path;
    int flags = 0;
    ASSERT_EQ(::ioctl(fd, FS_IOC_GETFLAGS, &flags), 0);
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    EXPECT_EQ(::ioctl(fd, FS_IOC_SETFLAGS, &flags), 0) << _path;
    ::close(fd);
  }
  std::string _path;
};

TEST(PathSafety, LockedItemsAndItemsUnderLockedDirectoriesAreRefused) {
  if (!testing_support::runningAsRoot()) GTEST_SKIP() << "setting the immutable flag needs root";
  TemporaryDirectory scratch;
  std::filesystem::create_directories(scratch / "locked/open");
  writeFile(scratch / "locked/open/file", "x");
  writeFile(scratch / "item", "x");
  {
    ImmutableFlag lockItem(scratch / "item");
    EXPECT_EQ(refusalOf(scratch / "item"), "Path " + (scratch / "item") + " is locked by the user.");
  }
  ImmutableFlag lockDirectory(scratch / "locked");
  EXPECT_EQ(refusalOf(scratch / "locked/open/missing"),
            "Path " + (scratch / "locked") + " is locked by the user.");
  {
    // The item's own lock is found before its directory's.
    ImmutableFlag lockFile(scratch / "locked/open/file");
    EXPECT_EQ(refusalOf(scratch / "locked/open/file"),
              "Path " + (scratch / "locked/open/file") + " is locked by the user.");
  }
  EXPECT_EQ(refusalOf(scratch / "open-item"), "");
}

}  // namespace
