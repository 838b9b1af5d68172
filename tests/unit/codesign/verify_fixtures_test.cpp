// The tests' own signed executables, built by tests/support with the tests'
// certificate authority, verified through the three calls exactly as the
// tool makes them.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "TestFiles.h"
#include "platform/codesign/Status.h"
#include "platform/codesign/TrustedAnchors.h"

namespace fs = std::filesystem;
using namespace platform::codesign;
using namespace codesign_test;

namespace {

const std::string kHelper = "com.quennard.brenlow-helper";
const std::string kServer = "com.quennard.brenlow-server";

// The fixture's path, or the reason it cannot be used.
std::optional<fs::path> fixture(const std::string& name, std::string* why) {
  if (!extraTrustedAnchorSHA256()) return *why = "built without the tests' certificate authority", std::nullopt;
  const fs::path path = fs::path(CODESIGN_FIXTURE_DIR) / name;
  if (!fs::exists(path)) return *why = "fixture " + path.string() + " was not built", std::nullopt;
  return path;
}

struct FixtureCase {
  const char* name;
  const char* file;
  std::string requirement;
  OSStatus expected;
};

class Fixture : public testing::TestWithParam<FixtureCase> {};

TEST_P(Fixture, Answers) {
  std::string why;
  const auto path = fixture(GetParam().file, &why);
  if (!path) GTEST_SKIP() << why;
  EXPECT_EQ(verify(*path, GetParam().requirement), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, Fixture,
    testing::Values(
        FixtureCase{"Helper", "helper-devid-arm64", toolRequirement(kHelper), 0},
        FixtureCase{"HelperAsServer", "helper-devid-arm64", toolRequirement(kServer), errSecCSReqFailed},
        FixtureCase{"Server", "server-devid-arm64", toolRequirement(kServer), 0},
        FixtureCase{"ServerAsHelper", "server-devid-arm64", toolRequirement(kHelper), errSecCSReqFailed},
        FixtureCase{"OtherTeam", "helper-devid-otherteam-arm64", toolRequirement(kHelper), errSecCSReqFailed},
        FixtureCase{"AppStoreAnyTeam", "helper-appstore-arm64", toolRequirement(kHelper, "ZZZZZ99999"), 0},
        FixtureCase{"Universal", "helper-devid-universal", toolRequirement(kHelper), 0},
        FixtureCase{"UniversalUnsignedSlice", "helper-devid-universal-unsigned-slice", toolRequirement(kHelper),
                    errSecCSUnsigned},
        FixtureCase{"TwoDirectories", "helper-devid-sha1-sha256", toolRequirement(kHelper), 0},
        FixtureCase{"TruncatedSha256", "helper-devid-sha256-truncated", toolRequirement(kHelper), 0},
        FixtureCase{"Sha1AndTruncatedSha256", "helper-devid-sha1-sha256-truncated", toolRequirement(kHelper), 0},
        FixtureCase{"RootLeftOut", "helper-devid-without-root", toolRequirement(kHelper), 0},
        FixtureCase{"ForeignRoot", "helper-devid-foreign-root", toolRequirement(kHelper), CSSMERR_TP_NOT_TRUSTED},
        FixtureCase{"ExpiredButTimestamped", "helper-devid-timestamped-expired", toolRequirement(kHelper), 0},
        FixtureCase{"ExpiredWithoutTimestamp", "helper-devid-expired-no-timestamp", toolRequirement(kHelper), 0},
        FixtureCase{"Intel", "helper-devid-x86_64", toolRequirement(kHelper), 0},
        FixtureCase{"SixteenKiBPages", "helper-devid-16k-arm64", toolRequirement(kHelper), 0},
        FixtureCase{"Timestamped", "helper-devid-timestamped-arm64", toolRequirement(kHelper), 0},
        FixtureCase{"BadTimestamp", "helper-devid-bad-timestamp-arm64", toolRequirement(kHelper),
                    errSecTimestampInvalid},
        FixtureCase{"NoCodeSigningUsage", "helper-devid-no-eku-arm64", toolRequirement(kHelper),
                    CSSMERR_APPLETP_INVALID_EXTENDED_KEY_USAGE},
        FixtureCase{"UnboundAlternate", "helper-devid-unbound-alternate", toolRequirement(kHelper),
                    errSecCSSignatureFailed},
        FixtureCase{"ShortCodeLimit", "helper-devid-short-code-limit-arm64", toolRequirement(kHelper),
                    errSecCSSignatureInvalid},
        FixtureCase{"AdhocSignatureAlone", "adhoc-arm64", "", 0},
        FixtureCase{"AdhocNeedsAnchor", "adhoc-arm64", toolRequirement(kHelper), errSecCSReqFailed},
        FixtureCase{"UnsignedArm", "unsigned-arm64", toolRequirement(kHelper), errSecCSUnsigned},
        FixtureCase{"UnsignedIntel", "unsigned-x86_64", toolRequirement(kHelper), errSecCSUnsigned}),
    [](const auto& info) { return std::string(info.param.name); });

struct TamperCase {
  const char* name;
  const char* file;
  std::function<void(Bytes&)> apply;
  OSStatus expected;
};

class TamperedFixture : public testing::TestWithParam<TamperCase> {};

TEST_P(TamperedFixture, FailsClosed) {
  std::string why;
  const auto path = fixture(GetParam().file, &why);
  if (!path) GTEST_SKIP() << why;
  Bytes bytes = readFile(*path);
  GetParam().apply(bytes);
  const TempDir dir;
  writeFile(dir.file("tampered"), bytes);
  EXPECT_EQ(verify(dir.file("tampered"), toolRequirement(kHelper)), GetParam().expected);
}

// The first byte of the first code page after the load commands.
void flipCode(Bytes& bytes) { bytes.at(0x1000 + 0x10) ^= 1; }

INSTANTIATE_TEST_SUITE_P(
    Edits, TamperedFixture,
    testing::Values(TamperCase{"CodeByte", "helper-devid-arm64", flipCode, errSecCSSignatureFailed},
                    TamperCase{"HeaderByte", "helper-devid-arm64", [](Bytes& b) { b.at(24) ^= 0x80; },
                               errSecCSSignatureFailed},
                    TamperCase{"Appended", "helper-devid-arm64", [](Bytes& b) { b.push_back(0); },
                               errSecCSBadMainExecutable},
                    TamperCase{"UniversalPadding", "helper-devid-universal", [](Bytes& b) { b.at(0x800) ^= 1; },
                               errSecCSBadMainExecutable}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
