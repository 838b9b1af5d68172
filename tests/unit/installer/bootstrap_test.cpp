#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "InstallerTesting.h"

namespace {

namespace fs = std::filesystem;

const std::string kSupport = "/Library/Application Support/com.quennard.brenlow";

// A file layer under which the installed server changes once it is in
// place: what a post-install check exists to catch.
class ChangingFileManager : public platform::FileManager {
 public:
  std::optional<platform::FileAttributes> attributesOfItemAtPath(const std::string& path,
                                                                 platform::ErrorSlot* error) const override {
    if (path == kSupport + "/brenlowd") std::ofstream(path, std::ios::binary) << "other bytes";
    return FileManager::attributesOfItemAtPath(path, error);
  }
};

class Bootstrap : public testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("HELPER_SANDBOX")) GTEST_SKIP() << "installs under /Library: run inside the sandbox";
  }
};

TEST_F(Bootstrap, AnInstalledCopyThatFailsItsSecondCheckDoesNotStayInstalled) {
  MVDaemonInstaller installer(std::make_unique<ChangingFileManager>());
  testing::internal::CaptureStderr();
  const platform::Exception error = raisedBy([&] { installer.bootstrapWithAppPath("/Applications/Brenlow.app"); });
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(error.name(), "general");
  EXPECT_EQ(error.reason(), "Post-Install Code Signature Validation Failed");
  EXPECT_FALSE(fs::exists(fs::symlink_status(kSupport + "/helper")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(kSupport + "/brenlowd")));
  EXPECT_EQ(std::distance(fs::directory_iterator(kSupport), {}), 0);  // no staging copy left either
}

}  // namespace
