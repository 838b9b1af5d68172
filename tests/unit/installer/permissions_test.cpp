#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "InstallerTesting.h"

namespace {

using testing_support::TemporaryDirectory;
using testing_support::modeOf;
using testing_support::statusOf;
using testing_support::writeFile;

constexpr uid_t kOtherUser = 65534;

class PermissionEnforcement : public testing::Test {
 protected:
  void SetUp() override {
    if (!testing_support::runningAsRoot()) GTEST_SKIP() << "changing owners needs root";
    writeFile(_file, "contents", 0755);
  }

  TemporaryDirectory _scratch;
  std::string _file = _scratch / "file";
  RecordingFileManager* _fm = new RecordingFileManager;
  MVDaemonInstaller _installer{std::unique_ptr<platform::FileManager>(_fm)};
};

// A test on bits: in range when every pmin bit is set and none outside pmax;
// out of range becomes pmin, never pmax. Nothing to fix makes no change.
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
    _fm->changes.clear();
    ASSERT_EQ(::chmod(_file.c_str(), row.before), 0);
    _installer.installSetPermissions(_file, 0, std::nullopt, row.pmin, row.pmax);
    EXPECT_EQ(modeOf(_file), row.after) << std::oct << row.before;
    EXPECT_EQ(_fm->changes.size(), row.before == row.after ? 0u : 1u) << std::oct << row.before;
  }
}

// Each row starts from owner, group and mode and asks for owner 0, the
// group and 0755 (or the set-user-ID mode, which Linux clears on a change of
// owner: both must hold afterwards).
TEST_F(PermissionEnforcement, EveryMismatchIsFixedInOneVerifiedChange) {
  constexpr uid_t kDaemon = 1;  // user "daemon" with its own group "daemon"
  constexpr uid_t kUnnamed = 4242;
  const struct {
    uid_t uid, gid, owner;
    std::optional<std::string> group;
    Permissions mode;
    uid_t uidAfter, gidAfter;
    bool changesOwner;
  } table[] = {
      {kOtherUser, kOtherUser, 0, "wheel", 04755, 0, 0, true},
      {kOtherUser, 0, 0, std::nullopt, 0755, 0, 0, true},
      {0, kOtherUser, 0, std::nullopt, 0755, 0, kOtherUser, false},  // no group asked for
      {kDaemon, kDaemon, kDaemon, "wheel", 0755, kDaemon, kDaemon, false},  // group named like its owner
      {kUnnamed, kUnnamed, kUnnamed, "wheel", 0755, kUnnamed, 0, false},  // equal numbers are no name
  };
  for (const auto& row : table) {
    _fm->changes.clear();
    ASSERT_EQ(::chown(_file.c_str(), row.uid, row.gid), 0);
    ASSERT_EQ(::chmod(_file.c_str(), 0755), 0);
    _installer.installSetPermissions(_file, row.owner, row.group, row.mode, row.mode);
    const struct stat status = statusOf(_file);
    EXPECT_EQ(status.st_uid, row.uidAfter) << row.uid;
    EXPECT_EQ(status.st_gid, row.gidAfter) << row.uid;
    EXPECT_EQ(status.st_mode & 07777, row.mode) << row.uid;
    EXPECT_LE(_fm->changes.size(), 1u) << row.uid;
    if (!_fm->changes.empty()) {
      EXPECT_EQ(_fm->changes[0].ownerAccountID.has_value(), row.changesOwner) << row.uid;
    }
  }
}

TEST_F(PermissionEnforcement, AChangeThatDoesNotHoldAbortsAfterExactlyOneCall) {
  const std::string reason = "Couldn't set attributes of item " + _file + " ((null)).";
  ASSERT_EQ(::chmod(_file.c_str(), 0700), 0);
  _fm->ignoreChanges = true;
  EXPECT_EQ(raisedBy([&] { _installer.installSetPermissions(_file, 0, std::nullopt, 0755, 0755); }).reason(), reason);
  EXPECT_EQ(_fm->changes.size(), 1u);
  _fm->ignoreChanges = false;
  _fm->changes.clear();
  EXPECT_EQ(raisedBy([&] { _installer.installSetPermissions(_file, 0, std::nullopt, 0777, 0755); }).reason(), reason);
  EXPECT_EQ(_fm->changes.size(), 1u);
}

TEST_F(PermissionEnforcement, AMissingItemOrALinkAbortsAndChangesNothing) {
  EXPECT_EQ(raisedBy([&] { _installer.installSetPermissions(_scratch / "missing", 0, std::nullopt, 0755, 0755); })
                .reason(),
            "Couldn't get attributes of item " + (_scratch / "missing") +
                " (Error Domain=NSPOSIXErrorDomain Code=2 \"No such file or directory\").");
  EXPECT_TRUE(_fm->changes.empty());
  std::filesystem::create_symlink(_file, _scratch / "link");
  ASSERT_EQ(::chmod(_file.c_str(), 0700), 0);
  EXPECT_THROW(_installer.installSetPermissions(_scratch / "link", 0, std::nullopt, 0755, 0755), platform::Exception);
  EXPECT_EQ(modeOf(_file), 0700u);
}

}  // namespace
