#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "InstallerTesting.h"

namespace {

using testing_support::TemporaryDirectory;
using testing_support::readFile;
using testing_support::writeFile;

constexpr uid_t kOtherUser = 65534;

TEST(Permissions, PermissionStringsShowTheNineLowBits) {
  MVDaemonInstaller installer;
  const std::pair<Permissions, const char*> table[] = {
      {0, "---------"}, {0777, "rwxrwxrwx"}, {0640, "rw-r-----"}, {04755, "rwxr-xr-x"}, {0644, "rw-r--r--"}};
  for (const auto& [permissions, text] : table) EXPECT_EQ(installer.stringForPermissions(permissions), text);
}

class PermissionEnforcement : public testing::Test {
 protected:
  void SetUp() override {
    if (!testing_support::runningAsRoot()) GTEST_SKIP() << "changing owners needs root";
    writeFile(_file, "contents", 0755);
    std::filesystem::create_directory(_directory);
    ASSERT_EQ(::chmod(_directory.c_str(), 0755), 0);
  }

  // The mode the item ends with after enforcing the range on one with `mode`.
  mode_t enforced(mode_t mode, Permissions pmin, Permissions pmax) {
    EXPECT_EQ(::chmod(_directory.c_str(), mode), 0);
    _installer.installSetPermissions(_directory, 0, std::nullopt, pmin, pmax);
    return testing_support::statusOf(_directory).st_mode & 07777;
  }

  TemporaryDirectory _scratch;
  std::string _file = _scratch / "file";
  std::string _directory = _scratch / "dir";
  RecordingFileManager* _fm = new RecordingFileManager;
  MVDaemonInstaller _installer{std::unique_ptr<platform::FileManager>(_fm)};
};

// A test on bits: in range when every pmin bit is set and none outside pmax;
// out of range becomes pmin, never pmax.
TEST_F(PermissionEnforcement, TheRangeIsABitTestAndRepairsToPmin) {
  const struct {
    mode_t before;
    Permissions pmin, pmax;
    mode_t after;
  } table[] = {
      {0700, 0700, 0755, 0700}, {0750, 0700, 0755, 0750}, {0755, 0700, 0755, 0755},
      {0720, 0700, 0755, 0700}, {0600, 0700, 0755, 0700}, {0777, 0700, 0755, 0700},
      {0755, 0777, 0777, 0777}, {0700, 0644, 0644, 0644},
  };
  for (const auto& row : table) {
    EXPECT_EQ(enforced(row.before, row.pmin, row.pmax), row.after) << std::oct << row.before;
  }
}

TEST_F(PermissionEnforcement, NothingToFixMakesNoChange) {
  const std::string log = actionLogOf(_installer, [&] { _installer.installSetPermissions(_directory, 0, "wheel", 0700, 0755); });
  EXPECT_TRUE(_fm->changes.empty());
  EXPECT_EQ(log, "permissions check: " + _directory + " [rwxr-xr-x] root/wheel\n");
}

TEST_F(PermissionEnforcement, EveryMismatchIsFixedInOneChangeAndVerified) {
  ASSERT_EQ(::chown(_file.c_str(), kOtherUser, kOtherUser), 0);
  ASSERT_EQ(::chmod(_file.c_str(), 0777), 0);
  const std::string log = actionLogOf(_installer, [&] { _installer.installSetPermissions(_file, 0, "wheel", 0755, 0755); });

  ASSERT_EQ(_fm->changes.size(), 1u);
  EXPECT_EQ(_fm->changes[0].groupOwnerAccountName, "wheel");
  EXPECT_EQ(_fm->changes[0].ownerAccountID, 0);
  EXPECT_EQ(_fm->changes[0].posixPermissions, 0755u);
  const struct stat status = testing_support::statusOf(_file);
  EXPECT_EQ(status.st_uid, 0u);
  EXPECT_EQ(status.st_gid, 0u);
  EXPECT_EQ(status.st_mode & 07777, 0755u);
  EXPECT_EQ(log,
            "permissions check: .../file [rwxrwxrwx] nobody/nogroup\n"
            "fixing permissions: group is nogroup expected wheel for file " + _file + "\n"
            "fixing permissions: owner id is 65534 expected 0 for file " + _file + "\n"
            "fixing permissions: currently rwxrwxrwx [777], expected between 755-755 for file " + _file + "\n"
            "permissions check: .../file [rwxr-xr-x] root/wheel\n");
}

TEST_F(PermissionEnforcement, AnOwnerMismatchAloneChangesOnlyTheOwner) {
  ASSERT_EQ(::chown(_file.c_str(), kOtherUser, 0), 0);
  _installer.installSetPermissions(_file, 0, std::nullopt, 0755, 0755);
  ASSERT_EQ(_fm->changes.size(), 1u);
  EXPECT_EQ(_fm->changes[0].ownerAccountID, 0);
  EXPECT_FALSE(_fm->changes[0].groupOwnerAccountName);
  EXPECT_FALSE(_fm->changes[0].posixPermissions);
}

// On Linux a change of owner clears the set-user-ID bit; asked for together,
// both must hold afterwards.
TEST_F(PermissionEnforcement, ASetUserIDModeHoldsTogetherWithAnOwnerChange) {
  ASSERT_EQ(::chown(_file.c_str(), kOtherUser, kOtherUser), 0);
  _installer.installSetPermissions(_file, 0, "wheel", 04755, 04755);
  EXPECT_EQ(_fm->changes.size(), 1u);
  EXPECT_EQ(testing_support::statusOf(_file).st_mode & 07777, 04755u);
  EXPECT_EQ(testing_support::statusOf(_file).st_uid, 0u);
}

TEST_F(PermissionEnforcement, TheHelpersSetUserIDStepLogsTheRangeInOctal) {
  const std::string log = actionLogOf(_installer, [&] { _installer.installSetPermissions(_file, 0, "wheel", 04755, 04755); });
  EXPECT_EQ(log,
            "permissions check: .../file [rwxr-xr-x] root/wheel\n"
            "fixing permissions: currently rwxr-xr-x [755], expected between 4755-4755 for file " + _file + "\n"
            "permissions check: .../file [rwxr-xr-x] root/wheel\n");
}

TEST_F(PermissionEnforcement, AGroupIsLeftAloneWhenAbsentOrNamedLikeItsOwner) {
  constexpr uid_t kDaemon = 1;  // user "daemon" with its own group "daemon"
  ASSERT_EQ(::chown(_file.c_str(), kDaemon, kDaemon), 0);
  _installer.installSetPermissions(_file, kDaemon, "wheel", 0755, 0755);
  EXPECT_EQ(testing_support::statusOf(_file).st_gid, kDaemon);
  ASSERT_EQ(::chown(_file.c_str(), 0, kOtherUser), 0);
  _installer.installSetPermissions(_file, 0, std::nullopt, 0755, 0755);
  EXPECT_EQ(testing_support::statusOf(_file).st_gid, kOtherUser);
  EXPECT_TRUE(_fm->changes.empty());
}

// Ids that neither database names show as equal numbers; that is no name.
TEST_F(PermissionEnforcement, UnnamedIdsOfTheSameNumberDoNotSpareTheGroup) {
  constexpr uid_t kUnnamed = 4242;
  ASSERT_EQ(::chown(_file.c_str(), kUnnamed, kUnnamed), 0);
  const std::string log =
      actionLogOf(_installer, [&] { _installer.installSetPermissions(_file, kUnnamed, "wheel", 0755, 0755); });
  EXPECT_EQ(testing_support::statusOf(_file).st_gid, 0u);
  EXPECT_EQ(log.substr(0, log.find('\n')), "permissions check: .../file [rwxr-xr-x] 4242/4242");
}

TEST_F(PermissionEnforcement, AChangeThatDoesNotHoldAbortsAfterExactlyOneCall) {
  _fm->ignoreChanges = true;
  ASSERT_EQ(::chmod(_file.c_str(), 0700), 0);
  const platform::Exception error =
      raisedBy([&] { _installer.installSetPermissions(_file, 0, std::nullopt, 0755, 0755); });
  EXPECT_EQ(_fm->changes.size(), 1u);
  EXPECT_EQ(error.reason(), "Couldn't set attributes of item " + _file + " ((null)).");
}

TEST_F(PermissionEnforcement, AnImpossibleRangeAbortsOnTheVerifyingPass) {
  const platform::Exception error =
      raisedBy([&] { _installer.installSetPermissions(_file, 0, std::nullopt, 0777, 0755); });
  EXPECT_EQ(error.reason(), "Couldn't set attributes of item " + _file + " ((null)).");
  EXPECT_EQ(_fm->changes.size(), 1u);
}

TEST_F(PermissionEnforcement, AMissingItemAbortsBeforeAnyLogLine) {
  const LoggedOutcome outcome =
      logged(_installer, [&] { _installer.installSetPermissions(_scratch / "missing", 0, std::nullopt, 0755, 0755); });
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->reason(), "Couldn't get attributes of item " + (_scratch / "missing") +
                                         " (Error Domain=NSPOSIXErrorDomain Code=2 \"No such file or directory\").");
  EXPECT_EQ(outcome.log, "");
  EXPECT_TRUE(_fm->changes.empty());
}

TEST_F(PermissionEnforcement, ALinkIsNeverFollowed) {
  std::filesystem::create_symlink(_file, _scratch / "link");
  ASSERT_EQ(::chmod(_file.c_str(), 0700), 0);
  EXPECT_THROW(_installer.installSetPermissions(_scratch / "link", 0, std::nullopt, 0755, 0755), platform::Exception);
  EXPECT_EQ(testing_support::statusOf(_file).st_mode & 07777, 0700u);
}

}  // namespace
