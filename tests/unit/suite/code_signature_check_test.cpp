#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "suite/MVBrenlowSuite.h"

namespace {

const std::string kFixtures = HELPER_FIXTURE_DIR;
const std::string kHelper = "com.quennard.brenlow-helper";
const std::string kServer = "com.quennard.brenlow-server";

// The verdict on one file, and the message of its one diagnostic line in the
// platform's log style ("" when nothing was logged).
std::pair<bool, std::string> verify(const std::optional<std::string>& path, const std::string& identifier) {
  testing::internal::CaptureStderr();
  const bool verified = MVBrenlowSuite::instance().checkCodeSignatureAtPath(path, identifier);
  const std::string log = testing::internal::GetCapturedStderr();
  static const std::regex kLine(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} [^\[]+\[\d+:\d+\] (.*)\n)");
  std::smatch match;
  if (log.empty() || !std::regex_match(log, match, kLine)) return {verified, log};
  return {verified, match[1]};
}

std::string refusal(const std::string& call, const std::string& path, const std::string& status) {
  return call + " (" + path + ") returned: " + status;
}

TEST(CodeSignatureCheck, VerdictsAndTheirOneLogLine) {
  const std::string missing = kFixtures + "/no-such-file";
  const std::string helper = kFixtures + "/helper-devid-arm64";
  const std::string server = kFixtures + "/server-devid-arm64";
  const std::string otherTeam = kFixtures + "/helper-devid-otherteam-arm64";
  const std::string unsignedFile = kFixtures + "/unsigned-arm64";
  const struct {
    std::optional<std::string> path;
    std::string identifier;
    bool verified;
    std::string log;
  } table[] = {
      {missing, kHelper, false, refusal("SecStaticCodeCreateWithPath", missing, "-67068")},
      {std::nullopt, kHelper, false, ""},
#ifdef HELPER_TRUSTS_TEST_ANCHOR
      {helper, kHelper, true, ""},
      {server, kServer, true, ""},
      {kFixtures + "/helper-appstore-arm64", kHelper, true, ""},
      {kFixtures + "/helper-devid-universal", kHelper, true, ""},
      {helper, kServer, false, refusal("SecStaticCodeCheckValidity", helper, "-67050")},
      {server, kHelper, false, refusal("SecStaticCodeCheckValidity", server, "-67050")},
      {otherTeam, kHelper, false, refusal("SecStaticCodeCheckValidity", otherTeam, "-67050")},
      {unsignedFile, kHelper, false, refusal("SecStaticCodeCheckValidity", unsignedFile, "-67062")},
#else
      // The shipped anchor set: what the tests' authority signed is not trusted.
      {helper, kHelper, false, refusal("SecStaticCodeCheckValidity", helper, "-2147409622")},
#endif
  };
  for (const auto& row : table) {
    const auto [verified, log] = verify(row.path, row.identifier);
    EXPECT_EQ(verified, row.verified) << row.path.value_or("nil");
    EXPECT_EQ(log, row.log) << row.path.value_or("nil");
  }
  EXPECT_FALSE(verify(kFixtures + "/adhoc-arm64", kHelper).first);
}

}  // namespace
