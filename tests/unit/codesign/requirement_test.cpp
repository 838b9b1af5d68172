// Evaluating requirements against signatures: certificate positions and
// fields, Apple anchors, and the tool's own pinned requirement against
// chains made here with OpenSSL.

#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "RequirementTestCertificates.h"
#include "RequirementTesting.h"
#include "platform/codesign/Requirement.h"
#include "platform/codesign/Status.h"
#include "platform/codesign/Digest.h"

namespace platform::codesign {
namespace {

using testing_support::CertificateSpec;
using testing_support::TestCertificate;
using testing_support::compileAndEvaluate;

constexpr const char* kMacAppStoreLeaf = "1.2.840.113635.100.6.1.9";
constexpr const char* kDeveloperIDAuthority = "1.2.840.113635.100.6.2.6";
constexpr const char* kDeveloperIDApplication = "1.2.840.113635.100.6.1.13";
constexpr const char* kAppleSoftwareSigning = "1.2.840.113635.100.6.22";
constexpr const char* kTeam = "Q7MK2RX5VN";
constexpr const char* kHelperIdentifier = "com.quennard.brenlow-helper";

std::string hex(const Bytes& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

// The tool's requirement for one identifier, as the suite writes it.
std::string toolRequirement(std::string_view identifier) {
  return "anchor apple generic and identifier \"" + std::string(identifier) +
         "\" and (certificate leaf[field.1.2.840.113635.100.6.1.9] or certificate "
         "1[field.1.2.840.113635.100.6.2.6] and certificate leaf[field.1.2.840.113635.100.6.1.13] "
         "and certificate leaf[subject.OU] = \"" + kTeam + "\")";
}

// Certificates shared by the tests: a root, the two kinds of authority
// below it, and leaves of every kind the tool's requirement tells apart.
class RequirementEvaluation : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { certificates = new Certificates(); }
  static void TearDownTestSuite() {
    delete certificates;
    certificates = nullptr;
  }

  struct Certificates {
    TestCertificate root = TestCertificate::root(
        {{{"C", "US"}, {"O", "Test Authority"}, {"CN", "Test Root CA"}}, {}, {}, true});
    TestCertificate developerIDAuthority = root.issue(
        {{{"CN", "Developer ID Certification Authority"}, {"OU", "G2"}},
         {kDeveloperIDAuthority}, {"1.2.840.113635.100.5.1"}, true});
    TestCertificate storeAuthority = root.issue(
        {{{"CN", "Worldwide Relations Authority"}}, {"1.2.840.113635.100.6.2.1"}, {}, true});
    TestCertificate developerID = developerIDAuthority.issue(developerIDLeaf(kTeam));
    TestCertificate otherTeam = developerIDAuthority.issue(developerIDLeaf("ZZ9PLURALZ"));
    TestCertificate noMarker = developerIDAuthority.issue(
        {{{"CN", "Developer ID Application: Maker"}, {"OU", kTeam}}, {}, {}, false});
    TestCertificate teamFirstOU = developerIDAuthority.issue(
        {{{"OU", kTeam}, {"OU", "Other"}}, {kDeveloperIDApplication}, {}, false});
    TestCertificate teamLastOU = developerIDAuthority.issue(
        {{{"OU", "Other"}, {"OU", kTeam}}, {kDeveloperIDApplication}, {}, false});
    TestCertificate store = storeAuthority.issue(
        {{{"CN", "Store Application: Someone"}, {"OU", "STORETEAM1"}}, {kMacAppStoreLeaf}, {}, false});
    TestCertificate storeWithoutTeam =
        storeAuthority.issue({{{"CN", "Store Application"}}, {kMacAppStoreLeaf}, {}, false});
    TestCertificate developerIDUnderStore = storeAuthority.issue(developerIDLeaf(kTeam));
    TestCertificate detailed = root.issue(
        {{{"C", "US"}, {"ST", "Somestate"}, {"L", "Town"}, {"2.5.4.9", "1 Road"},
          {"O", "First Org"}, {"O", "Maker Inc."}, {"2.5.4.10.1", "Country Org"},
          {"OU", kTeam}, {"2.5.4.13", "A description"}, {"UID", "user-7"}, {"CN", "Detailed"}},
         {"1.2.3.4.5", "1.2.840.113635.100.6.1.33=20200101000000Z", "1.2.3.4.8~20200101000000Z"}, {"2.23.140.1.2.1", "1.3.6.1.4.1.99.1"},
         false});

    static CertificateSpec developerIDLeaf(const char* team) {
      return {{{"UID", team}, {"CN", std::string("Developer ID Application: Maker (") + team + ")"},
               {"OU", team}, {"O", "Maker"}, {"C", "US"}},
              {kDeveloperIDApplication}, {}, false};
    }
  };
  static Certificates* certificates;

  static RequirementSubject signedBy(std::vector<const TestCertificate*> chain,
                                     bool anchorIsApple = true) {
    RequirementSubject subject;
    subject.identifier = kHelperIdentifier;
    subject.anchorIsApple = anchorIsApple;
    for (const TestCertificate* certificate : chain) subject.certificates.push_back(certificate->der());
    return subject;
  }
};

RequirementEvaluation::Certificates* RequirementEvaluation::certificates = nullptr;

TEST_F(RequirementEvaluation, ToolRequirementAcceptsOnlyTheMakersSignatures) {
  const Certificates& c = *certificates;
  RequirementSubject wrongIdentifier = signedBy({&c.developerID, &c.developerIDAuthority, &c.root});
  wrongIdentifier.identifier = "com.quennard.brenlow-server";
  RequirementSubject caseChanged = wrongIdentifier;
  caseChanged.identifier = "com.quennard.Brenlow-helper";
  struct Case {
    const char* name;
    RequirementSubject subject;
    OSStatus status;
  };
  const Case cases[] = {
      {"developer ID", signedBy({&c.developerID, &c.developerIDAuthority, &c.root}), errSecSuccess},
      {"store, other team", signedBy({&c.store, &c.storeAuthority, &c.root}), errSecSuccess},
      {"store, no team", signedBy({&c.storeWithoutTeam, &c.storeAuthority, &c.root}), errSecSuccess},
      {"team in last OU", signedBy({&c.teamLastOU, &c.developerIDAuthority, &c.root}), errSecSuccess},
      {"wrong identifier", wrongIdentifier, errSecCSReqFailed},
      {"identifier case", caseChanged, errSecCSReqFailed},
      {"wrong team", signedBy({&c.otherTeam, &c.developerIDAuthority, &c.root}), errSecCSReqFailed},
      {"team only in first OU", signedBy({&c.teamFirstOU, &c.developerIDAuthority, &c.root}),
       errSecCSReqFailed},
      {"leaf without marker", signedBy({&c.noMarker, &c.developerIDAuthority, &c.root}),
       errSecCSReqFailed},
      {"issuer not developer ID", signedBy({&c.developerIDUnderStore, &c.storeAuthority, &c.root}),
       errSecCSReqFailed},
      {"marker two above the leaf",
       signedBy({&c.developerID, &c.root, &c.developerIDAuthority}), errSecCSReqFailed},
      {"leaf alone", signedBy({&c.developerID}), errSecCSReqFailed},
      {"ad hoc", signedBy({}), errSecCSReqFailed},
      {"anchor not Apple's",
       signedBy({&c.developerID, &c.developerIDAuthority, &c.root}, false), errSecCSReqFailed},
      {"store, anchor not Apple's", signedBy({&c.store, &c.storeAuthority, &c.root}, false),
       errSecCSReqFailed},
  };
  for (const Case& testCase : cases) {
    EXPECT_EQ(compileAndEvaluate(toolRequirement(kHelperIdentifier), testCase.subject), testCase.status)
        << testCase.name;
  }
}

TEST_F(RequirementEvaluation, PositionsCountUpFromTheLeafAndDownFromTheAnchor) {
  const Certificates& c = *certificates;
  const RequirementSubject subject = signedBy({&c.developerID, &c.developerIDAuthority, &c.root});
  const std::string leafCN = "\"Developer ID Application: Maker (Q7MK2RX5VN)\"";
  const std::string authorityCN = "\"Developer ID Certification Authority\"";
  const std::string rootCN = "\"Test Root CA\"";
  struct Case {
    std::string slot;
    std::string commonName;  // empty: no certificate there
  };
  const Case cases[] = {
      {"leaf", leafCN}, {"0", leafCN}, {"-3", leafCN}, {"1", authorityCN}, {"-2", authorityCN},
      {"2", rootCN}, {"root", rootCN}, {"-1", rootCN}, {"3", ""}, {"-4", ""},
      {"2147483647", ""}, {"-2147483647", ""},
  };
  for (const Case& testCase : cases) {
    const std::string prefix = "certificate " + testCase.slot;
    const bool present = !testCase.commonName.empty();
    EXPECT_EQ(compileAndEvaluate(prefix + "[subject.CN] = " + (present ? testCase.commonName : "\"x\""), subject),
              present ? errSecSuccess : errSecCSReqFailed) << testCase.slot;
    // With no certificate there, even `absent` fails.
    EXPECT_EQ(compileAndEvaluate(prefix + "[field.1.2.3.4] absent", subject),
              present ? errSecSuccess : errSecCSReqFailed) << testCase.slot;
  }
  EXPECT_EQ(compileAndEvaluate("anchor[subject.CN] = " + rootCN, subject), errSecSuccess);
  EXPECT_EQ(compileAndEvaluate("cert leaf[subject.CN] = " + authorityCN, subject), errSecCSReqFailed);
}

TEST_F(RequirementEvaluation, MatchesCertificateHashes) {
  const Certificates& c = *certificates;
  const RequirementSubject subject = signedBy({&c.developerID, &c.developerIDAuthority, &c.root});
  const std::string leaf = "H\"" + hex(sha1(c.developerID.der())) + "\"";
  const std::string root = "H\"" + hex(sha1(c.root.der())) + "\"";
  struct Case {
    std::string text;
    OSStatus status;
  };
  const Case cases[] = {
      {"certificate leaf = " + leaf, errSecSuccess},
      {"certificate 0 " + leaf, errSecSuccess},
      {"anchor = " + root, errSecSuccess},
      {"certificate root == " + root, errSecSuccess},
      {"certificate 1 = " + root, errSecCSReqFailed},
      {"anchor = " + leaf, errSecCSReqFailed},
      {"certificate 5 = " + leaf, errSecCSReqFailed},
  };
  for (const Case& testCase : cases) EXPECT_EQ(compileAndEvaluate(testCase.text, subject), testCase.status) << testCase.text;
  EXPECT_EQ(compileAndEvaluate("certificate leaf = " + leaf, signedBy({})), errSecCSReqFailed);
}

TEST_F(RequirementEvaluation, ReadsSubjectAttributesExtensionsAndPolicies) {
  const RequirementSubject subject = signedBy({&certificates->detailed, &certificates->root});
  struct Case {
    const char* clause;
    bool satisfied;
  };
  const Case cases[] = {
      {"[subject.C] = US", true},
      {"[subject.ST] = Somestate", true},
      {"[subject.L] = Town", true},
      {"[subject.STREET] = \"1 Road\"", true},
      {"[subject.O] = \"Maker Inc.\"", true},   // the last O, not the first
      {"[subject.O] = \"First Org\"", false},
      {"[\"subject.C-O\"] = \"Country Org\"", true},
      {"[subject.OU] = Q7MK2RX5VN", true},
      {"[subject.D] = \"A description\"", true},
      {"[subject.UID] = \"user-7\"", true},
      {"[subject.CN] = \"Det\"*", true},
      {"[subject.CN] exists", true},
      {"[subject.CN] absent", false},
      {"[subject.ST] absent", false},
      {"[\"subject.C-OU\"] exists", false},     // no such attribute: every match fails
      {"[\"subject.C-OU\"] absent", false},
      {"[subject.foo] absent", false},          // unknown name
      {"[subject.foo] exists", false},
      {"[field.1.2.3.4.5]", true},
      {"[extension.1.2.3.4.5] exists", true},
      {"[field.1.2.3.4.5] absent", false},
      {"[field.1.2.3.4.5] = \"anything\"", false},  // the value is never compared
      {"[field.1.2.3.4.6] absent", true},
      {"[field.1.2.3.4.6] exists", false},
      {"[policy.2.23.140.1.2.1]", true},
      {"[policy.1.3.6.1.4.1.99.1] exists", true},
      {"[policy.1.3.6.1.4.1.99.2]", false},
      {"[policy.1.3.6.1.4.1.99.2] absent", true},
      {"[policy.1.2.3.4.5]", false},            // an extension, not a policy
      {"[timestamp.1.2.840.113635.100.6.1.33] = timestamp \"20200101000000Z\"", true},
      {"[timestamp.1.2.840.113635.100.6.1.33] < timestamp \"20200101000001Z\"", true},
      {"[timestamp.1.2.840.113635.100.6.1.33] > timestamp \"20200101000000Z\"", false},
      {"[timestamp.1.2.3.4.5] exists", true},   // present, but no date in it
      {"[timestamp.1.2.3.4.5] < timestamp \"20300101000000Z\"", false},
      {"[timestamp.1.2.3.4.6] absent", true},
      {"[timestamp.1.2.3.4.8] < timestamp \"20300101000000Z\"", false},  // a date, then a stray byte
  };
  for (const Case& testCase : cases) {
    const std::string text = std::string("certificate leaf") + testCase.clause;
    EXPECT_EQ(compileAndEvaluate(text, subject), testCase.satisfied ? errSecSuccess : errSecCSReqFailed) << text;
  }
  const RequirementSubject root = signedBy({&certificates->root});
  EXPECT_EQ(compileAndEvaluate("anchor[policy.2.23.140.1.2.1] absent", root), errSecSuccess);
  EXPECT_EQ(compileAndEvaluate("anchor[extension.2.5.29.19]", root), errSecSuccess);
}

TEST_F(RequirementEvaluation, AppleAnchorsNeedThePinnedRootAndAppleAuthority) {
  const TestCertificate& root = certificates->root;
  const TestCertificate authority = root.issue(
      {{{"O", "Apple Inc."}, {"CN", "Apple Code Signing Certification Authority"}}, {}, {}, true});
  const TestCertificate otherAuthority = root.issue(
      {{{"O", "Apple Inc."}, {"CN", "Apple Code Signing Authority"}}, {}, {}, true});
  const TestCertificate appleLeaf =
      authority.issue({{{"CN", "Software Signing"}}, {kAppleSoftwareSigning}, {}, false});
  const TestCertificate plainLeaf = authority.issue({{{"CN", "Software Signing"}}, {}, {}, false});
  struct Case {
    const char* name;
    RequirementSubject subject;
    bool apple;
    bool appleGeneric;
  };
  const Case cases[] = {
      {"Apple software", signedBy({&appleLeaf, &authority, &root}), true, true},
      {"root not pinned", signedBy({&appleLeaf, &authority, &root}, false), false, false},
      {"leaf without extension", signedBy({&plainLeaf, &authority, &root}), false, true},
      {"other authority", signedBy({&appleLeaf, &otherAuthority, &root}), false, true},
      {"developer ID", signedBy({&certificates->developerID, &certificates->developerIDAuthority, &root}),
       false, true},
      {"no authority", signedBy({&appleLeaf, &root}), false, true},
      {"ad hoc", signedBy({}), false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(compileAndEvaluate("anchor apple", c.subject), c.apple ? errSecSuccess : errSecCSReqFailed) << c.name;
    EXPECT_EQ(compileAndEvaluate("anchor apple generic", c.subject),
              c.appleGeneric ? errSecSuccess : errSecCSReqFailed) << c.name;
    EXPECT_EQ(compileAndEvaluate("anchor generic apple", c.subject),
              c.appleGeneric ? errSecSuccess : errSecCSReqFailed) << c.name;
  }
}

TEST_F(RequirementEvaluation, ConstructsNothingHereCanProveAreFalse) {
  const RequirementSubject subject = signedBy({&certificates->developerID,
                                               &certificates->developerIDAuthority, &certificates->root});
  for (const char* text : {"anchor trusted", "certificate trusted", "cert 1 trusted",
                           "certificate leaf trusted", "notarized", "legacy",
                           "anchor apple \"Named\"", "(\"named\")"}) {
    EXPECT_EQ(compileAndEvaluate(text, subject), errSecCSReqFailed) << text;
    EXPECT_EQ(compileAndEvaluate(std::string("!") + text, subject), errSecSuccess) << text;
  }
}

TEST_F(RequirementEvaluation, ReportsWhatItCannotEvaluate) {
  RequirementSubject subject = signedBy({&certificates->developerID, &certificates->root});
  subject.certificates[0] = Bytes{0x30, 0x03, 0x02, 0x01, 0x01};  // not a certificate
  EXPECT_EQ(compileAndEvaluate("certificate leaf[subject.CN] exists", subject), errSecCSInternalError);
  EXPECT_EQ(compileAndEvaluate("certificate leaf[field.1.2.3] absent", subject), errSecCSInternalError);
  EXPECT_EQ(compileAndEvaluate("anchor[subject.CN] exists", subject), errSecSuccess);
  Bytes trailing = certificates->root.der();
  trailing.push_back(0);
  subject.certificates[1] = trailing;
  EXPECT_EQ(compileAndEvaluate("anchor[subject.CN] exists", subject), errSecCSInternalError);
}

TEST(RequirementCodeDirectory, MatchesIdentifierHashAndPlatform) {
  RequirementSubject subject;
  subject.identifier = "com.example.tool";
  subject.cdhash = Bytes(20, 0xab);
  subject.platform = 2;
  struct Case {
    std::string text;
    bool satisfied;
  };
  const Case cases[] = {
      {"identifier com.example.tool", true},
      {"identifier \"com.example.tool\"", true},
      {"identifier = \"com.example\"", false},
      {"identifier \"com.example.tool \"", false},
      {"cdhash H\"" + std::string(20, 'a') + std::string(20, 'b') + "\"", false},
      {"cdhash H\"" + std::string("ab").append(38, '0') + "\"", false},
      {"cdhash = H\"abababababababababababababababababababab\"", true},
      {"cdhash H\"ABABABABABABABABABABABABABABABABABABABAB\"", true},
      {"platform 2", true},
      {"platform = 3", false},
      {"platform 258", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(compileAndEvaluate(c.text, subject), c.satisfied ? errSecSuccess : errSecCSReqFailed) << c.text;
  }
  subject.cdhash.clear();
  EXPECT_EQ(compileAndEvaluate("cdhash H\"abababababababababababababababababababab\"", subject),
            errSecCSReqFailed);
}

}  // namespace
}  // namespace platform::codesign
