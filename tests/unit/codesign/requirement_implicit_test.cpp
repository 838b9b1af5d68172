// The designated requirement derived for code whose signature states none:
// each form, from chains made here, is the expected text and is satisfied by
// the signature it was derived from.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RequirementTestCertificates.h"
#include "codesign/Digest.h"
#include "codesign/Requirement.h"
#include "codesign/Status.h"
#include "codesign/requirement/Implicit.h"

namespace codesign {
namespace {

using testing_support::TestCertificate;

constexpr const char* kIdentifier = "com.quennard.brenlow-helper";
constexpr const char* kPrefix = "identifier \"com.quennard.brenlow-helper\" and ";

std::string hashLiteral(const Bytes& bytes) {
  std::string text = "H\"";
  for (const std::uint8_t byte : bytes) text += {"0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 15]};
  return text + "\"";
}

struct Chains {
  TestCertificate root = TestCertificate::root({{{"O", "Test Authority"}, {"CN", "Test Root CA"}}, {}, {}, true});
  TestCertificate developerIDAuthority =
      root.issue({{{"CN", "Developer ID Certification Authority"}}, {"1.2.840.113635.100.6.2.6"}, {}, true});
  TestCertificate relationsAuthority =
      root.issue({{{"CN", "Relations Authority"}}, {"1.2.840.113635.100.6.2.1"}, {}, true});
  TestCertificate developerID = developerIDAuthority.issue(
      {{{"CN", "Developer ID Application: Maker (Q7MK2RX5VN)"}, {"OU", "Other"}, {"OU", "Q7MK2RX5VN"}},
       {"1.2.840.113635.100.6.1.13"}, {}, false});
  TestCertificate teamless = developerIDAuthority.issue({{{"CN", "No Team"}}, {}, {}, false});
  TestCertificate development = relationsAuthority.issue({{{"CN", "Apple Development: Maker"}}, {}, {}, false});
  TestCertificate makerRoot = TestCertificate::root({{{"O", "Maker"}, {"CN", "Maker Root"}}, {}, {}, true});
  TestCertificate makerCA = makerRoot.issue({{{"O", "Maker"}, {"CN", "Maker CA"}}, {}, {}, true});
  TestCertificate makerLeaf = makerCA.issue({{{"O", "Maker"}, {"CN", "Maker Signing"}}, {}, {}, false});
  TestCertificate hostedCA = root.issue({{{"O", "Maker"}, {"CN", "Hosted CA"}}, {}, {}, true});
  TestCertificate hostedLeaf = hostedCA.issue({{{"O", "Maker"}, {"CN", "Hosted Signing"}}, {}, {}, false});
};

TEST(ImplicitDesignatedRequirement, EachFormReadsAsExpectedAndIsSatisfiedByItsSignature) {
  const Chains c;
  const Bytes cdhash(20, 0xab);
  const struct {
    const char* name;
    std::vector<const TestCertificate*> chain;
    bool appleRoot;
    std::string expected;  // empty: cannot be derived
    bool satisfiable;      // `anchor apple` needs Apple's own certificates
  } cases[] = {
      {"ad hoc", {}, false, "cdhash " + hashLiteral(cdhash), true},
      {"Developer ID", {&c.developerID, &c.developerIDAuthority, &c.root}, true,
       std::string(kPrefix) + "anchor apple generic and certificate 1[field.1.2.840.113635.100.6.2.6] /* exists */ and "
           "certificate leaf[field.1.2.840.113635.100.6.1.13] /* exists */ and certificate leaf[subject.OU] = Q7MK2RX5VN",
       true},
      {"developer relations", {&c.development, &c.relationsAuthority, &c.root}, true,
       std::string(kPrefix) + "anchor apple generic and certificate leaf[subject.CN] = \"Apple Development: Maker\" and "
           "certificate 1[field.1.2.840.113635.100.6.2.1] /* exists */",
       true},
      {"Apple, two certificates", {&c.developerID, &c.developerIDAuthority}, true, std::string(kPrefix) + "anchor apple",
       false},
      {"Developer ID without a team", {&c.teamless, &c.developerIDAuthority, &c.root}, true, "", false},
      {"other root, leaf without organization", {&c.developerID, &c.developerIDAuthority, &c.root}, false,
       std::string(kPrefix) + "certificate leaf = " + hashLiteral(sha1(c.developerID.der())), true},
      {"other root, one organization throughout", {&c.makerLeaf, &c.makerCA, &c.makerRoot}, false,
       std::string(kPrefix) + "certificate root = " + hashLiteral(sha1(c.makerRoot.der())), true},
      {"other root, organization up to the intermediate", {&c.hostedLeaf, &c.hostedCA, &c.root}, false,
       std::string(kPrefix) + "certificate 1 = " + hashLiteral(sha1(c.hostedCA.der())), true},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    RequirementSubject subject{kIdentifier, cdhash, 0, {}, test.appleRoot, {}, {}, {}};
    for (const TestCertificate* certificate : test.chain) subject.certificates.push_back(certificate->der());
    RequirementRef requirement;
    const OSStatus status = Requirement::implicitDesignated(
        {kIdentifier, cdhash, subject.certificates, test.appleRoot}, &requirement);
    if (test.expected.empty()) {
      EXPECT_EQ(status, errSecCSReqInvalid);
      continue;
    }
    ASSERT_EQ(status, errSecSuccess);
    std::string text;
    ASSERT_EQ(requirement->text(&text), errSecSuccess);
    EXPECT_EQ(text, test.expected);
    EXPECT_EQ(requirement->evaluate(subject), test.satisfiable ? errSecSuccess : errSecCSReqFailed);
  }
}

}  // namespace
}  // namespace codesign
