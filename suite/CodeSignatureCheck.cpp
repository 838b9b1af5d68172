#include <string>

#include "platform/Format.h"
#include "platform/Log.h"
#include "platform/URL.h"
#include "platform/codesign/CodeSigning.h"
#include "suite/MVBrenlowSuite.h"

namespace {

namespace cs = platform::codesign;

const char* const kTeamIdentifier = "Q7MK2RX5VN";

// Apple-anchored, the expected identifier, and either a Mac App Store
// application certificate or a Developer ID Application certificate of the
// maker's team.
std::string requirementText(const std::string& bundleIdentifier) {
  std::string text;
  text += "anchor apple generic and identifier ";
  text += platform::format("\"%@\"", bundleIdentifier);
  text += " and (certificate leaf[field.1.2.840.113635.100.6.1.9] or certificate 1[field.1.2.840.113635.100.6.2.6] "
          "and certificate leaf[field.1.2.840.113635.100.6.1.13] and certificate leaf[subject.OU] = ";
  text += platform::format("\"%@\"", kTeamIdentifier);
  text += ")";
  return text;
}

// Verifies the file at `url`; the log lines name `path`.
bool verify(const std::optional<platform::FileURL>& url, const std::string& bundleIdentifier,
            const std::optional<std::string>& path) {
  const std::string requirementString = requirementText(bundleIdentifier);
  if (!url) return false;

  cs::StaticCodeRef staticCode;
  cs::OSStatus status = cs::SecStaticCodeCreateWithPath(*url, cs::kSecCSDefaultFlags, &staticCode);
  if (status != 0) {
    platform::NSLog("SecStaticCodeCreateWithPath (%@) returned: %d", path, status);
    return false;
  }
  if (!staticCode) return false;

  cs::RequirementRef requirement;
  status = cs::SecRequirementCreateWithString(requirementString, cs::kSecCSDefaultFlags, &requirement);
  if (status != 0) {
    platform::NSLog("SecRequirementCreateWithString returned: %d", status);
    return false;
  }
  // Never validate without the requirement: that would accept any signer.
  if (!requirement) return false;

  status = cs::SecStaticCodeCheckValidity(staticCode.get(), cs::kSecCSCheckAllArchitectures | cs::kSecCSStrictValidate,
                                          requirement.get());
  if (status != 0) {
    platform::NSLog("SecStaticCodeCheckValidity (%@) returned: %d", path, status);
    return false;
  }
  return true;
}

}  // namespace

bool MVBrenlowSuite::checkCodeSignatureAtPath(const std::optional<std::string>& path,
                                              const std::string& bundleIdentifier) const {
  return verify(platform::fileURLWithPath(path), bundleIdentifier, path);
}

bool MVBrenlowSuite::checkCodeSignatureOfCopy(const std::string& copyPath, const std::string& bundleIdentifier,
                                              const std::string& originalPath) const {
  return verify(platform::fileURLWithPath(copyPath), bundleIdentifier, originalPath);
}
