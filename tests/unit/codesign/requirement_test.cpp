// Evaluating requirements against signatures: certificate positions and
// fields, Apple anchors, and the tool's own pinned requirement against
// chains made here with OpenSSL.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RequirementTestCertificates.h"
#include "RequirementTesting.h"
#include "codesign/Digest.h"
#include "codesign/Requirement.h"
#include "codesign/Status.h"

namespace codesign {
namespace {

using testing_support::CertificateSpec;
using testing_support::compileAndEvaluate;
using testing_support::TestCertificate;

constexpr const char* kDeveloperIDApplication = "1.2.840.113635.100.6.1.13";
constexpr const char* kMacAppStoreLeaf = "1.2.840.113635.100.6.1.9";
constexpr const char* kTeam = "Q7MK2RX5VN";

CertificateSpec developerIDLeaf(const char* team) {
  return {{{"CN", std::string("Developer ID Application: Maker (") + team + ")"}, {"OU", team}},
          {kDeveloperIDApplication}, {}, false};
}

// A root, the two kinds of authority below it, and leaves of every kind the
// tool's requirement tells apart; made once for all tests.
struct Certificates {
  TestCertificate root = TestCertificate::root({{{"O", "Test Authority"}, {"CN", "Test Root CA"}}, {}, {}, true});
  TestCertificate developerIDAuthority = root.issue(
      {{{"CN", "Developer ID Certification Authority"}}, {"1.2.840.113635.100.6.2.6"}, {}, true});
  TestCertificate storeAuthority = root.issue({{{"CN", "Store Authority"}}, {"1.2.840.113635.100.6.2.1"}, {}, true});
  TestCertificate developerID = developerIDAuthority.issue(developerIDLeaf(kTeam));
  TestCertificate otherTeam = developerIDAuthority.issue(developerIDLeaf("ZZ9PLURALZ"));
  TestCertificate noMarker = developerIDAuthority.issue({{{"OU", kTeam}}, {}, {}, false});
  TestCertificate teamFirstOU =
      developerIDAuthority.issue({{{"OU", kTeam}, {"OU", "Other"}}, {kDeveloperIDApplication}, {}, false});
  TestCertificate teamLastOU =
      developerIDAuthority.issue({{{"OU", "Other"}, {"OU", kTeam}}, {kDeveloperIDApplication}, {}, false});
  TestCertificate store = storeAuthority.issue({{{"OU", "STORETEAM1"}}, {kMacAppStoreLeaf}, {}, false});
  TestCertificate developerIDUnderStore = storeAuthority.issue(developerIDLeaf(kTeam));
  TestCertificate detailed = root.issue(
      {{{"C", "US"}, {"O", "First Org"}, {"O", "Maker Inc."}, {"2.5.4.10.1", "Country Org"}, {"OU", kTeam},
        {"CN", "Detailed"}},
       {"1.2.3.4.5", "1.2.840.113635.100.6.1.33=20200101000000Z", "1.2.3.4.8~20200101000000Z"},
       {"2.23.140.1.2.1"}, false});
};

const Certificates& certificates() {
  static const Certificates made;
  return made;
}

RequirementSubject signedBy(std::vector<const TestCertificate*> chain, bool anchorIsApple = true) {
  RequirementSubject subject;
  subject.identifier = "com.quennard.brenlow-helper";
  subject.anchorIsApple = anchorIsApple;
  for (const TestCertificate* certificate : chain) subject.certificates.push_back(certificate->der());
  return subject;
}

std::string hashLiteral(const Bytes& der) {
  std::string text = "H\"";
  for (const std::uint8_t byte : sha1(der)) text += {"0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 15]};
  return text + "\"";
}

TEST(RequirementEvaluation, ToolRequirementAcceptsOnlyTheMakersSignatures) {
  const Certificates& c = certificates();
  RequirementSubject wrongIdentifier = signedBy({&c.developerID, &c.developerIDAuthority, &c.root});
  wrongIdentifier.identifier = "com.quennard.Brenlow-helper";
  const struct {
    const char* name;
    RequirementSubject subject;
    OSStatus status;
  } cases[] = {
      {"developer ID", signedBy({&c.developerID, &c.developerIDAuthority, &c.root}), errSecSuccess},
      {"store, other team", signedBy({&c.store, &c.storeAuthority, &c.root}), errSecSuccess},
      {"team in last OU", signedBy({&c.teamLastOU, &c.developerIDAuthority, &c.root}), errSecSuccess},
      {"wrong identifier", wrongIdentifier, errSecCSReqFailed},
      {"wrong team", signedBy({&c.otherTeam, &c.developerIDAuthority, &c.root}), errSecCSReqFailed},
      {"team only in first OU", signedBy({&c.teamFirstOU, &c.developerIDAuthority, &c.root}), errSecCSReqFailed},
      {"leaf without marker", signedBy({&c.noMarker, &c.developerIDAuthority, &c.root}), errSecCSReqFailed},
      {"issuer not developer ID", signedBy({&c.developerIDUnderStore, &c.storeAuthority, &c.root}), errSecCSReqFailed},
      {"marker two above the leaf", signedBy({&c.developerID, &c.root, &c.developerIDAuthority}), errSecCSReqFailed},
      {"leaf alone", signedBy({&c.developerID}), errSecCSReqFailed},
      {"ad hoc", signedBy({}), errSecCSReqFailed},
      {"anchor not Apple's", signedBy({&c.developerID, &c.developerIDAuthority, &c.root}, false), errSecCSReqFailed},
  };
  for (const auto& testCase : cases)
    EXPECT_EQ(compileAndEvaluate(testing_support::toolRequirement("com.quennard.brenlow-helper"), testCase.subject),
              testCase.status) << testCase.name;
}

// Positions count up from the leaf and down from the anchor; with no
// certificate there, even `absent` fails.
TEST(RequirementEvaluation, FindsCertificatesByPositionAndHash) {
  const Certificates& c = certificates();
  const RequirementSubject subject = signedBy({&c.developerID, &c.developerIDAuthority, &c.root});
  const std::string leaf = "\"Developer ID Application: Maker (Q7MK2RX5VN)\"", root = "\"Test Root CA\"";
  const std::string authority = "\"Developer ID Certification Authority\"";
  const std::pair<std::string, std::string> positions[] = {
      {"leaf", leaf}, {"-3", leaf}, {"1", authority}, {"-2", authority}, {"root", root},
      {"-1", root},   {"3", ""},    {"-4", ""},       {"2147483647", ""},
  };
  for (const auto& [slot, name] : positions) {
    const OSStatus expected = name.empty() ? errSecCSReqFailed : errSecSuccess;
    EXPECT_EQ(compileAndEvaluate("certificate " + slot + "[subject.CN] = " + (name.empty() ? "x" : name), subject),
              expected) << slot;
    EXPECT_EQ(compileAndEvaluate("certificate " + slot + "[field.1.2.3.4] absent", subject), expected) << slot;
  }
  const std::string leafHash = hashLiteral(c.developerID.der()), rootHash = hashLiteral(c.root.der());
  const std::pair<std::string, OSStatus> hashes[] = {
      {"certificate leaf = " + leafHash, errSecSuccess}, {"anchor = " + rootHash, errSecSuccess},
      {"certificate 1 = " + rootHash, errSecCSReqFailed}, {"anchor = " + leafHash, errSecCSReqFailed},
      {"certificate 5 = " + leafHash, errSecCSReqFailed},
      {"anchor[policy.1.2.3] absent", errSecSuccess},  // a root without certificate policies
  };
  for (const auto& [text, status] : hashes) EXPECT_EQ(compileAndEvaluate(text, subject), status) << text;
}

TEST(RequirementEvaluation, ReadsSubjectAttributesExtensionsAndPolicies) {
  const RequirementSubject subject = signedBy({&certificates().detailed, &certificates().root});
  const std::pair<const char*, bool> cases[] = {
      {"[subject.O] = \"Maker Inc.\"", true},  // the last O, not the first
      {"[subject.O] = \"First Org\"", false}, {"[\"subject.C-O\"] = \"Country Org\"", true},
      {"[subject.CN] exists", true}, {"[subject.CN] absent", false},
      {"[\"subject.C-OU\"] absent", false},  // no such attribute: every match fails
      {"[subject.foo] absent", false},       // unknown name
      {"[field.1.2.3.4.5]", true}, {"[field.1.2.3.4.5] absent", false},
      {"[field.1.2.3.4.5] = \"anything\"", false},  // the value is never compared
      {"[field.1.2.3.4.6] absent", true}, {"[field.1.2.3.4.6] exists", false}, {"[policy.2.23.140.1.2.1]", true},
      {"[policy.1.3.6.1.4.1.99.2] absent", true},
      {"[policy.1.2.3.4.5]", false},  // an extension, not a policy
      {"[timestamp.1.2.840.113635.100.6.1.33] = timestamp \"20200101000000Z\"", true},
      {"[timestamp.1.2.840.113635.100.6.1.33] < timestamp \"20200101000001Z\"", true},
      {"[timestamp.1.2.840.113635.100.6.1.33] > timestamp \"20200101000000Z\"", false},
      {"[timestamp.1.2.3.4.5] exists", true},  // present, but no date in it
      {"[timestamp.1.2.3.4.6] absent", true},
      {"[timestamp.1.2.3.4.5] < timestamp \"20300101000000Z\"", false},
      {"[timestamp.1.2.3.4.8] < timestamp \"20300101000000Z\"", false},  // a date, then a stray byte
  };
  for (const auto& [clause, satisfied] : cases) {
    const std::string text = std::string("certificate leaf") + clause;
    EXPECT_EQ(compileAndEvaluate(text, subject), satisfied ? errSecSuccess : errSecCSReqFailed) << text;
  }
}

TEST(RequirementEvaluation, AppleAnchorsNeedThePinnedRootAndAppleAuthority) {
  const TestCertificate& root = certificates().root;
  const TestCertificate authority =
      root.issue({{{"O", "Apple Inc."}, {"CN", "Apple Code Signing Certification Authority"}}, {}, {}, true});
  const TestCertificate otherAuthority =
      root.issue({{{"O", "Apple Inc."}, {"CN", "Apple Code Signing Authority"}}, {}, {}, true});
  const TestCertificate appleLeaf = authority.issue({{{"CN", "Software"}}, {"1.2.840.113635.100.6.22"}, {}, false});
  const TestCertificate plainLeaf = authority.issue({{{"CN", "Software"}}, {}, {}, false});
  const struct {
    const char* name;
    RequirementSubject subject;
    bool apple, appleGeneric;
  } cases[] = {
      {"Apple software", signedBy({&appleLeaf, &authority, &root}), true, true},
      {"root not pinned", signedBy({&appleLeaf, &authority, &root}, false), false, false},
      {"leaf without extension", signedBy({&plainLeaf, &authority, &root}), false, true},
      {"other authority", signedBy({&appleLeaf, &otherAuthority, &root}), false, true},
      {"no authority", signedBy({&appleLeaf, &root}), false, true},
      {"root alone", signedBy({&root}), false, true},
      {"ad hoc", signedBy({}), false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(compileAndEvaluate("anchor apple", c.subject), c.apple ? errSecSuccess : errSecCSReqFailed) << c.name;
    EXPECT_EQ(compileAndEvaluate("anchor generic apple", c.subject), c.appleGeneric ? errSecSuccess : errSecCSReqFailed)
        << c.name;
  }
}

TEST(RequirementEvaluation, ConstructsNothingHereCanProveAreFalse) {
  const Certificates& c = certificates();
  const RequirementSubject subject = signedBy({&c.developerID, &c.developerIDAuthority, &c.root});
  for (const char* text : {"anchor trusted", "cert 1 trusted", "notarized", "legacy", "anchor apple \"Named\"",
                           "(\"named\")"}) {
    EXPECT_EQ(compileAndEvaluate(text, subject), errSecCSReqFailed) << text;
    EXPECT_EQ(compileAndEvaluate(std::string("!") + text, subject), errSecSuccess) << text;
  }
}

TEST(RequirementEvaluation, ReportsWhatItCannotEvaluate) {
  RequirementSubject subject = signedBy({&certificates().developerID, &certificates().root});
  subject.certificates[0] = Bytes{0x30, 0x03, 0x02, 0x01, 0x01};  // not a certificate
  EXPECT_EQ(compileAndEvaluate("certificate leaf[subject.CN] exists", subject), errSecCSInternalError);
  EXPECT_EQ(compileAndEvaluate("certificate leaf[field.1.2.3] absent", subject), errSecCSInternalError);
  EXPECT_EQ(compileAndEvaluate("anchor[subject.CN] exists", subject), errSecSuccess);
  subject.certificates[1].push_back(0);  // trailing bytes
  EXPECT_EQ(compileAndEvaluate("anchor[subject.CN] exists", subject), errSecCSInternalError);
}

TEST(RequirementCodeDirectory, MatchesIdentifierHashAndPlatform) {
  RequirementSubject subject;
  subject.identifier = "com.example.tool";
  subject.cdhash = Bytes(20, 0xab);
  subject.platform = 2;
  const std::pair<std::string, bool> cases[] = {
      {"identifier \"com.example.tool\"", true}, {"identifier = com.example", false},
      {"cdhash H\"" + std::string(20, 'a') + std::string(20, 'b') + "\"", false},
      {"cdhash = H\"abababababababababababababababababababab\"", true},
      {"cdhash H\"ABABABABABABABABABABABABABABABABABABABAB\"", true}, {"platform 2", true}, {"platform = 3", false},
      {"platform 258", false},
  };
  for (const auto& [text, satisfied] : cases)
    EXPECT_EQ(compileAndEvaluate(text, subject), satisfied ? errSecSuccess : errSecCSReqFailed) << text;
  subject.cdhash.clear();
  EXPECT_EQ(compileAndEvaluate("cdhash H\"abababababababababababababababababababab\"", subject), errSecCSReqFailed);
}

// A requirement that fails names the clause that is false: down through
// each `and` into its false operand (the left one when both are), and any
// other node whole, so an `or` is named with all of its alternatives.
TEST(RequirementEvaluation, NamesTheClauseThatIsFalse) {
  RequirementSubject subject;
  subject.identifier = "a";
  const std::pair<const char*, const char*> cases[] = {
      {"identifier b", "identifier b"},
      {"identifier b and identifier a", "identifier b"},
      {"identifier a and identifier c", "identifier c"},
      {"identifier b and identifier c", "identifier b"},
      {"identifier a and (identifier a and ! identifier a)", "! identifier a"},
      {"identifier a and (identifier b or identifier c) and identifier a", "identifier b or identifier c"},
      {"(identifier a or identifier b) and anchor apple generic", "anchor apple generic"},
      {"! (identifier a and identifier a)", "! (identifier a and identifier a)"},
  };
  for (const auto& [text, clause] : cases) {
    RequirementRef requirement, expected;
    std::string why, written;
    ASSERT_EQ(Requirement::compile(text, &requirement), errSecSuccess) << text;
    ASSERT_EQ(Requirement::compile(clause, &expected), errSecSuccess) << clause;
    ASSERT_EQ(expected->text(&written), errSecSuccess);
    EXPECT_EQ(requirement->evaluate(subject, &why), errSecCSReqFailed) << text;
    EXPECT_EQ(why, "the requirement's clause '" + written + "' is not satisfied") << text;
  }
  RequirementRef satisfied;
  std::string why;
  ASSERT_EQ(Requirement::compile("identifier a and identifier a", &satisfied), errSecSuccess);
  EXPECT_EQ(satisfied->evaluate(subject, &why), errSecSuccess);
  EXPECT_EQ(why, "");
}

}  // namespace
}  // namespace codesign
