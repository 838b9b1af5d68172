#include <gtest/gtest.h>
#include <unistd.h>

#include "frontend/MVHelper.h"
#include "platform/Exception.h"

namespace {

platform::Exception failureOf(const std::string& word, const std::vector<std::string>& args = {}) {
  MVHelper helper;
  try {
    helper.command(word, args);
  } catch (const platform::Exception& exception) {
    EXPECT_FALSE(helper.response()->find("success")) << "success recorded for a failed command";
    return exception;
  }
  ADD_FAILURE() << word << " did not fail";
  return platform::Exception("", "");
}

class Dispatcher : public testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "the dispatcher's privilege step needs root";
  }
};

TEST_F(Dispatcher, UnknownWordsAreRefusedByExactComparison) {
  for (const char* word : {"foo", "Start", "-xml", "%d%@", ""}) {
    const platform::Exception error = failureOf(word);
    EXPECT_EQ(error.name(), "kGeneralException");
    EXPECT_EQ(error.reason(), std::string("Command \"") + word + "\" Not Recognized");
  }
}

TEST_F(Dispatcher, BundleCommandsWithoutAPathRaiseTheRangeFailure) {
  for (const char* word : {"bootstrap", "check"}) {
    const platform::Exception error = failureOf(word);
    EXPECT_EQ(error.name(), platform::kRangeException);
    EXPECT_EQ(error.reason(), "index 0 beyond bounds for empty array");
  }
}

TEST(DispatcherResponse, StartsEmpty) {
  MVHelper helper;
  EXPECT_TRUE(helper.response()->keys().empty());
}

}  // namespace
