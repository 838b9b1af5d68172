#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "suite/MVBrenlowSuite.h"

namespace {

const std::string kFixtures = HELPER_FIXTURE_DIR;

struct Verdict {
  bool verified;
  std::string log;
};

Verdict verify(const std::optional<std::string>& path, const std::string& identifier) {
  testing::internal::CaptureStderr();
  const bool verified = MVBrenlowSuite::instance().checkCodeSignatureAtPath(path, identifier);
  return {verified, testing::internal::GetCapturedStderr()};
}

// One diagnostic line in the platform's log style, with the message given.
void expectOneLogLine(const std::string& log, const std::string& message) {
  static const std::regex kLine(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} [^\[]+\[\d+:\d+\] (.*)\n)");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(log, match, kLine)) << log;
  EXPECT_EQ(match[1], message);
}

#ifdef HELPER_TRUSTS_TEST_ANCHOR

TEST(CodeSignatureCheck, ASignatureThatMeetsTheRequirementVerifiesSilently) {
  for (const auto& [file, identifier] : {std::pair{"helper-devid-arm64", "com.quennard.brenlow-helper"},
                                         std::pair{"server-devid-arm64", "com.quennard.brenlow-server"},
                                         std::pair{"helper-appstore-arm64", "com.quennard.brenlow-helper"},
                                         std::pair{"helper-devid-universal", "com.quennard.brenlow-helper"}}) {
    const Verdict verdict = verify(kFixtures + "/" + file, identifier);
    EXPECT_TRUE(verdict.verified) << file << ": " << verdict.log;
    EXPECT_EQ(verdict.log, "") << file;
  }
}

TEST(CodeSignatureCheck, AWrongIdentifierOrTeamFailsTheRequirementNamingThePath) {
  for (const auto& [file, identifier] : {std::pair{"helper-devid-arm64", "com.quennard.brenlow-server"},
                                         std::pair{"server-devid-arm64", "com.quennard.brenlow-helper"},
                                         std::pair{"helper-devid-otherteam-arm64", "com.quennard.brenlow-helper"}}) {
    const std::string path = kFixtures + "/" + file;
    const Verdict verdict = verify(path, identifier);
    EXPECT_FALSE(verdict.verified) << file;
    expectOneLogLine(verdict.log, "SecStaticCodeCheckValidity (" + path + ") returned: -67050");
  }
}

TEST(CodeSignatureCheck, UnsignedAndAdHocCodeNeverVerifies) {
  const std::string unsignedPath = kFixtures + "/unsigned-arm64";
  Verdict verdict = verify(unsignedPath, "com.quennard.brenlow-helper");
  EXPECT_FALSE(verdict.verified);
  expectOneLogLine(verdict.log, "SecStaticCodeCheckValidity (" + unsignedPath + ") returned: -67062");
  verdict = verify(kFixtures + "/adhoc-arm64", "com.quennard.brenlow-helper");
  EXPECT_FALSE(verdict.verified);
}

#else

// The shipped anchor set: what the tests' authority signed is not trusted.
TEST(ShippedCodeSignatureCheck, RefusesWhatTheTestAuthoritySigned) {
  const std::string path = kFixtures + "/helper-devid-arm64";
  const Verdict verdict = verify(path, "com.quennard.brenlow-helper");
  EXPECT_FALSE(verdict.verified);
  expectOneLogLine(verdict.log, "SecStaticCodeCheckValidity (" + path + ") returned: -2147409622");
}

#endif

TEST(CodeSignatureCheck, MissingFilesFailAtCreationAndNoPathFailsSilently) {
  const std::string missing = kFixtures + "/no-such-file";
  Verdict verdict = verify(missing, "com.quennard.brenlow-helper");
  EXPECT_FALSE(verdict.verified);
  expectOneLogLine(verdict.log, "SecStaticCodeCreateWithPath (" + missing + ") returned: -67068");

  verdict = verify(std::nullopt, "com.quennard.brenlow-helper");
  EXPECT_FALSE(verdict.verified);
  EXPECT_EQ(verdict.log, "");
}

}  // namespace
