// The tests' own signed executables, built by tests/support with the tests'
// certificate authority, verified through the three calls exactly as the
// tool makes them. Edits of a signed file are the synthetic files' business
// (structure_test.cpp). The macOS build's calls into the Security framework
// (CodeSigningMac.cpp) are not built here, so no test reaches them.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "RequirementTesting.h"
#include "TestFiles.h"
#include "codesign/Status.h"
#include "codesign/StatusNames.h"
#include "codesign/TrustedAnchors.h"

namespace fs = std::filesystem;
using namespace codesign;
using namespace codesign_test;

namespace {

const std::string kHelper = "com.quennard.brenlow-helper";

// The fixture's path, or the reason it cannot be used.
std::optional<fs::path> fixture(const std::string& name, std::string* why) {
  if (!extraTrustedAnchorSHA256()) return *why = "built without the tests' certificate authority", std::nullopt;
  const fs::path path = fs::path(CODESIGN_FIXTURE_DIR) / name;
  if (!fs::exists(path)) return *why = "fixture " + path.string() + " was not built", std::nullopt;
  return path;
}

// One row of tests/fixtures/statuses.txt, the table that signature-check's
// end-to-end tests read too.
struct FixtureCase {
  std::string name;
  std::string file;
  std::string requirement;
  OSStatus expected = 0;
  std::string expectedName;
};

// A requirement column: "-" for none, or IDENTIFIER[/TEAM] for the tool's.
std::string requirementOf(const std::string& column) {
  if (column == "-") return "";
  const auto slash = column.find('/');
  if (slash == std::string::npos) return testing_support::toolRequirement(column);
  return testing_support::toolRequirement(column.substr(0, slash), column.substr(slash + 1));
}

std::vector<FixtureCase> fixtureTable() {
  std::ifstream in(CODESIGN_STATUS_TABLE);
  std::vector<FixtureCase> cases;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream row(line);
    FixtureCase c;
    std::string requirement;
    row >> c.name >> c.file >> requirement >> c.expected >> c.expectedName;
    c.requirement = requirementOf(requirement);
    cases.push_back(c);
  }
  return cases;
}

class Fixture : public testing::TestWithParam<FixtureCase> {};

TEST_P(Fixture, Answers) {
  std::string why;
  const auto path = fixture(GetParam().file, &why);
  if (!path) GTEST_SKIP() << why;
  EXPECT_EQ(verify(*path, GetParam().requirement), GetParam().expected);
  EXPECT_EQ(statusName(GetParam().expected), GetParam().expectedName);
}

INSTANTIATE_TEST_SUITE_P(Files, Fixture, testing::ValuesIn(fixtureTable()),
                         [](const auto& info) { return info.param.name; });

// The engine offers the build's pinned roots when a CMS leaves its root out.
// Not in the shared table: signature-check's --anchor roots are fingerprints
// only, so it cannot complete such a chain with them.
TEST(FixtureWithoutRoot, CompletesWithThePinnedRoot) {
  std::string why;
  const auto path = fixture("helper-devid-without-root", &why);
  if (!path) GTEST_SKIP() << why;
  EXPECT_EQ(verify(*path, testing_support::toolRequirement(kHelper)), 0);
}

}  // namespace
