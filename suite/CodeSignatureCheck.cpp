#include <string>

#include "platform/Format.h"
#include "platform/Log.h"
#include "platform/URL.h"
#include "codesign/CodeSigning.h"
#include "codesign/InfoPlist.h"
#include "suite/MVBrenlowSuite.h"

namespace {

namespace cs = codesign;

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

// Verifies the file that `createStaticCode` opens; the log lines name `path`.
template <typename CreateStaticCode>
bool verify(CreateStaticCode createStaticCode, const std::string& bundleIdentifier,
            const std::optional<std::string>& path) {
  const std::string requirementString = requirementText(bundleIdentifier);
  cs::StaticCodeRef staticCode;
  std::optional<cs::OSStatus> created = createStaticCode(&staticCode);
  if (!created) return false;
  cs::OSStatus status = *created;
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

// A path that makes no file URL is answered before any call is made.
bool MVBrenlowSuite::checkCodeSignatureAtPath(const std::optional<std::string>& path,
                                              const std::string& bundleIdentifier) const {
  const std::optional<platform::FileURL> url = platform::fileURLWithPath(path);
  const auto create = [&](cs::StaticCodeRef* code) -> std::optional<cs::OSStatus> {
    if (!url) return std::nullopt;
    return cs::SecStaticCodeCreateWithPath(*url, cs::kSecCSDefaultFlags, code);
  };
  return verify(create, bundleIdentifier, path);
}

bool MVBrenlowSuite::checkCodeSignatureOfCopy(int copy, const std::string& bundleIdentifier,
                                              const std::string& originalPath) const {
  const auto create = [&](cs::StaticCodeRef* code) -> std::optional<cs::OSStatus> {
    return cs::staticCodeCreateWithDescriptor(copy, cs::kSecCSDefaultFlags, code);
  };
  return verify(create, bundleIdentifier, originalPath);
}

std::vector<std::optional<std::string>> MVBrenlowSuite::bundleVersionsOfExecutable(int executable) const {
  cs::StaticCodeRef staticCode;
  std::vector<std::optional<std::string>> versions;
  if (cs::staticCodeCreateWithDescriptor(executable, cs::kSecCSDefaultFlags, &staticCode) != 0 ||
      cs::copyBundleVersions(staticCode.get(), &versions) != 0) {
    return {};
  }
  return versions;
}
