// Feeds arbitrary bytes to the requirement compiler and evaluates whatever
// compiles against a fixed signed subject. Bytes after the first NUL (which
// requirement text may never hold) become that run's sealed Info.plist and
// DER entitlements, so both readers are exercised through info[…] and
// entitlement[…] clauses too. Whatever compiles, or reads as a compiled
// blob, must be written back as text that compiles to the same text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "RequirementTestCertificates.h"
#include "codesign/Requirement.h"
#include "codesign/Status.h"

namespace {

using codesign::Bytes;
using codesign::RequirementSubject;
using testing_support::TestCertificate;

constexpr std::string_view kInfoPlist =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
    "<key>CFBundleIdentifier</key><string>com.example.tool</string>"
    "<key>CFBundleVersion</key><string>1.10.2</string><key>Flag</key><true/>"
    "<key>List</key><array><string>a</string><date>2021-06-01T12:00:00Z</date></array>"
    "</dict></plist>";
constexpr std::string_view kEntitlements =
    "<plist><dict><key>com.example.allowed</key><true/></dict></plist>";

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

RequirementSubject makeSubject() {
  const TestCertificate root = TestCertificate::root(
      {{{"C", "US"}, {"O", "Apple Inc."}, {"CN", "Root"}}, {}, {"1.2.3.4"}, true});
  const TestCertificate authority = root.issue(
      {{{"O", "Apple Inc."}, {"CN", "Apple Code Signing Certification Authority"}},
       {"1.2.840.113635.100.6.2.6"}, {}, true});
  const TestCertificate leaf = authority.issue(
      {{{"UID", "Q7MK2RX5VN"}, {"CN", "Developer ID Application: Maker"}, {"OU", "Q7MK2RX5VN"},
        {"O", "Maker"}, {"C", "US"}},
       {"1.2.840.113635.100.6.1.13", "1.2.840.113635.100.6.22"}, {"1.2.840.113635.100.5.1"}, false});
  RequirementSubject subject;
  subject.identifier = "com.example.tool";
  subject.cdhash = Bytes(20, 0x5a);
  subject.platform = 0;
  subject.certificates = {leaf.der(), authority.der(), root.der()};
  subject.anchorIsApple = true;
  subject.infoPlist = bytesOf(kInfoPlist);
  subject.entitlements = bytesOf(kEntitlements);
  return subject;
}

// What a requirement writes as text must compile back to the same text.
void checkWrittenText(const codesign::Requirement& requirement) {
  std::string text;
  if (requirement.text(&text) != codesign::errSecSuccess) return;
  codesign::RequirementRef again;
  std::string againText;
  if (codesign::Requirement::compile(text, &again) != codesign::errSecSuccess ||
      again->text(&againText) != codesign::errSecSuccess || againText != text) {
    std::abort();
  }
}

// The same bytes read as a compiled blob.
void readAsBlob(const std::uint8_t* data, std::size_t size) {
  codesign::RequirementRef requirement;
  if (codesign::Requirement::read({data, size}, &requirement) == codesign::errSecSuccess) {
    checkWrittenText(*requirement);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const RequirementSubject kSubject = makeSubject();
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  readAsBlob(data, size);
  codesign::RequirementRef requirement;
  if (codesign::Requirement::compile(input.substr(0, nul), &requirement) !=
      codesign::errSecSuccess) {
    return 0;
  }
  if (requirement == nullptr) std::abort();  // success must deliver a requirement
  checkWrittenText(*requirement);
  if (nul == std::string_view::npos) {
    requirement->evaluate(kSubject);
    return 0;
  }
  RequirementSubject subject = kSubject;
  subject.infoPlist = bytesOf(input.substr(nul + 1));
  subject.derEntitlements = subject.infoPlist;
  requirement->evaluate(subject);
  return 0;
}
