#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "suite/MVBrenlowSuite.h"

namespace {

namespace fs = std::filesystem;

const std::string kSupport = "/Library/Application Support/com.quennard.brenlow";

TEST(Suite, IdentifiersAndTheJobFileAreFixedAndTouchNothing) {
  const MVBrenlowSuite& suite = MVBrenlowSuite::instance();
  EXPECT_EQ(&suite, &MVBrenlowSuite::instance());
  EXPECT_EQ(suite.appBundleId(), "com.quennard.brenlow");
  EXPECT_EQ(suite.helperBundleId(), "com.quennard.brenlow-helper");
  EXPECT_EQ(suite.serverBundleId(), "com.quennard.brenlow-server");
  EXPECT_EQ(suite.serverLaunchDaemonFilePath(), "/Library/LaunchDaemons/com.quennard.brenlow-server.plist");
  EXPECT_EQ(suite._baseSupportDirectory(std::nullopt, std::nullopt, false), kSupport);
  EXPECT_EQ(MVBrenlowSuite().serverBundleId(), suite.serverBundleId());
}

TEST(Suite, DefaultAttributesAreTheRealUserAndWheel) {
  const platform::FileAttributes attributes = MVBrenlowSuite::instance().defaultFileAttrs();
  EXPECT_EQ(attributes.posixPermissions, 0600u);
  EXPECT_EQ(attributes.ownerAccountID, static_cast<std::int32_t>(getuid()));
  EXPECT_EQ(attributes.groupOwnerAccountName, "wheel");
}

// Runs only where /Library is the sandbox's own.
class SupportDirectories : public testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("HELPER_SANDBOX")) GTEST_SKIP() << "creates folders under /Library: run inside the sandbox";
    fs::remove_all("/Library/Application Support");
  }
};

TEST_F(SupportDirectories, PathsCreateTheirDirectoryButNeverTheFile) {
  const MVBrenlowSuite& suite = MVBrenlowSuite::instance();
  EXPECT_EQ(suite.helperInstalledPath(), kSupport + "/helper");
  EXPECT_TRUE(fs::is_directory(kSupport));
  EXPECT_FALSE(fs::exists(kSupport + "/helper"));
  EXPECT_EQ(suite.fileAttributeCacheDatabaseFilePath(), kSupport + "/data/shared.db");
  EXPECT_TRUE(fs::is_directory(kSupport + "/data"));
  EXPECT_FALSE(fs::exists(kSupport + "/data/shared.db"));
  EXPECT_EQ(suite.sharedFilesPath(), kSupport + "/Shared");
  EXPECT_EQ(suite.serverInstalledPath(), kSupport + "/brenlowd");
  EXPECT_EQ(suite.serverSocketPath(), kSupport + "/brenlowd.sock");
  EXPECT_EQ(suite.fileAttributeCacheDirectoryPath(), kSupport + "/data");
  EXPECT_EQ(std::distance(fs::directory_iterator(kSupport), {}), 2);  // data and Shared
}

TEST_F(SupportDirectories, AFileInTheWayIsLeftAloneAndThePathStillReturned) {
  fs::create_directories(kSupport);
  std::ofstream(kSupport + "/data") << "in the way";
  EXPECT_EQ(MVBrenlowSuite::instance().fileAttributeCacheDatabaseFilePath(), kSupport + "/data/shared.db");
  EXPECT_TRUE(fs::is_regular_file(kSupport + "/data"));
}

TEST_F(SupportDirectories, NothingIsCreatedWhenNotAsked) {
  EXPECT_EQ(MVBrenlowSuite::instance()._baseSupportDirectory("data", "x", false), kSupport + "/data/x");
  EXPECT_FALSE(fs::exists(kSupport));
}

TEST_F(SupportDirectories, WritePlistCreatesTheFileWithDefaultAttributes) {
  fs::create_directories("/Library/Application Support");
  platform::PlistValue value = platform::PlistValue::dictionary();
  value.set("key", platform::PlistValue::integer(1));
  ASSERT_TRUE(MVBrenlowSuite::instance().writePlist(value, "/Library/Application Support/x.plist"));
  struct stat status {};
  ASSERT_EQ(::stat("/Library/Application Support/x.plist", &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);
  EXPECT_EQ(status.st_gid, 0u);
}

}  // namespace
