#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "InstallerTesting.h"

namespace {

namespace fs = std::filesystem;

const std::string kApp = "/Applications/Brenlow.app";
const std::string kSupport = "/Library/Application Support/com.quennard.brenlow";

// A file layer whose copies install other bytes than the file they were
// asked to copy: what a post-install check exists to catch.
class SubstitutingFileManager : public platform::FileManager {
 public:
  bool copyItemAtPath(const std::string& /*source*/, const std::string& destination,
                      platform::ErrorSlot* error) override {
    return FileManager::copyItemAtPath(kApp + "/Contents/Info.plist", destination, error);
  }
};

class Bootstrap : public testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("HELPER_SANDBOX")) GTEST_SKIP() << "installs under /Library: run inside the sandbox";
  }
};

TEST_F(Bootstrap, AnInstalledCopyThatFailsItsSecondCheckDoesNotStayInstalled) {
  MVDaemonInstaller installer(std::make_unique<SubstitutingFileManager>());
  testing::internal::CaptureStderr();
  const platform::Exception error = raisedBy([&] { installer.bootstrapWithAppPath(kApp); });
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(error.name(), "general");
  EXPECT_EQ(error.reason(), "Post-Install Code Signature Validation Failed");
  EXPECT_FALSE(fs::exists(fs::symlink_status(kSupport + "/helper")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(kSupport + "/brenlowd")));
  EXPECT_EQ(std::distance(fs::directory_iterator(kSupport), {}), 0);  // no private copy left either
}

TEST_F(Bootstrap, WhatIsInstalledIsWhatVerified) {
  MVDaemonInstaller installer;
  installer.bootstrapWithAppPath(kApp);
  for (const char* name : {"helper", "brenlowd"}) {
    EXPECT_EQ(testing_support::readFile(kSupport + "/" + name), testing_support::readFile(kApp + "/Contents/MacOS/" + name));
  }
  EXPECT_EQ(testing_support::modeOf(kSupport + "/helper"), 04755u);
}

}  // namespace
