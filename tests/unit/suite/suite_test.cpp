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

// Runs only where /Library is the sandbox's own.
class SupportDirectories : public testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("HELPER_SANDBOX")) GTEST_SKIP() << "creates folders under /Library: run inside the sandbox";
    fs::remove_all("/Library/Application Support");
  }
};

TEST_F(SupportDirectories, PathsCreateTheirDirectoryOnlyWhenAskedAndNeverTheFile) {
  const MVBrenlowSuite& suite = MVBrenlowSuite::instance();
  EXPECT_EQ(suite._baseSupportDirectory("data", "x", false), kSupport + "/data/x");
  EXPECT_FALSE(fs::exists(kSupport));
  EXPECT_EQ(suite.helperInstalledPath(), kSupport + "/helper");
  EXPECT_EQ(suite.fileAttributeCacheDatabaseFilePath(), kSupport + "/data/shared.db");
  EXPECT_TRUE(fs::is_directory(kSupport + "/data"));
  EXPECT_EQ(std::distance(fs::directory_iterator(kSupport), {}), 1);  // data alone: no file made
  EXPECT_EQ(std::distance(fs::directory_iterator(kSupport + "/data"), {}), 0);
}

TEST_F(SupportDirectories, AFileInTheWayIsLeftAloneAndThePathStillReturned) {
  fs::create_directories(kSupport);
  std::ofstream(kSupport + "/data") << "in the way";
  EXPECT_EQ(MVBrenlowSuite::instance().fileAttributeCacheDatabaseFilePath(), kSupport + "/data/shared.db");
  EXPECT_TRUE(fs::is_regular_file(kSupport + "/data"));
}

TEST_F(SupportDirectories, WritePlistCreatesTheFileForTheRealUserAndWheel) {
  fs::create_directories("/Library/Application Support");
  platform::PlistValue value = platform::PlistValue::dictionary();
  value.set("key", platform::PlistValue::integer(1));
  ASSERT_TRUE(MVBrenlowSuite::instance().writePlist(value, "/Library/Application Support/x.plist"));
  struct stat status {};
  ASSERT_EQ(::stat("/Library/Application Support/x.plist", &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);
  EXPECT_EQ(status.st_gid, 0u);
  EXPECT_EQ(status.st_uid, getuid());
}

}  // namespace
