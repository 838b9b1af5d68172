#include "verifier/Check.h"

#include <iostream>
#include <vector>

#include "platform/DescriptorIO.h"
#include "platform/RegularFile.h"
#include "platform/URL.h"
#include "codesign/ExtraAnchors.h"
#include "codesign/StaticCode.h"
#include "codesign/Status.h"
#include "verifier/Display.h"
#include "verifier/DisplayJson.h"
#include "verifier/DisplayText.h"
#include "verifier/Report.h"

namespace verifier {
namespace {

using namespace codesign;

// Helper's own flags: every architecture, strictly.
constexpr SecCSFlags kFlags = kSecCSCheckAllArchitectures | kSecCSStrictValidate;

// A certificate file is small; anything longer is not one.
constexpr std::size_t kMaximumCertificateFile = std::size_t{1} << 20;

std::optional<SHA256Digest> readAnchor(const std::string& path) {
  const platform::ScopedFd fd = platform::openRegularFileForReading(path);
  if (!fd.valid()) return std::nullopt;
  const auto bytes = platform::readAll(fd.get(), kMaximumCertificateFile + 1);
  if (!bytes || bytes->size() > kMaximumCertificateFile) return std::nullopt;
  return anchorFingerprint({reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()});
}

bool readAnchors(const std::vector<std::string>& files, std::vector<SHA256Digest>* out, std::string* problem) {
  for (const std::string& file : files) {
    const auto print = readAnchor(file);
    if (!print) return *problem = "no certificate could be read from " + file, false;
    out->push_back(*print);
  }
  return true;
}

bool compile(const std::optional<std::string>& text, RequirementRef* out, std::string* problem) {
  if (!text) return true;
  const OSStatus status = SecRequirementCreateWithString(*text, kSecCSDefaultFlags, out);
  if (status != errSecSuccess) *problem = "the requirement does not compile (" + statusText(status) + ")";
  return status == errSecSuccess;
}

// Text goes out one architecture at a time; JSON waits for the status line.
void showDisplay(const FileSource& file, const Arguments& args, std::string* displayJson) {
  std::vector<std::string> objects;
  readDisplay(file, args.entitlements, [&](const SliceFields& fields) {
    if (args.json) {
      objects.push_back(verifier::displayJson(fields));
    } else {
      writeDisplayText(fields, std::cout);
    }
  });
  if (args.json) *displayJson = jsonArray(objects);
}

}  // namespace

std::optional<OSStatus> checkFile(const Arguments& args, std::string* problem, FailureDetail* failure,
                                  std::string* displayJson) {
  std::vector<SHA256Digest> anchors;
  RequirementRef requirement;
  if (!readAnchors(args.anchorFiles, &anchors, problem) || !compile(args.requirement, &requirement, problem))
    return std::nullopt;
  StaticCodeRef code;
  if (const OSStatus status = SecStaticCodeCreateWithPath(platform::FileURL{args.file}, kSecCSDefaultFlags, &code))
    return status;
  if (args.display) showDisplay(code->file(), args, displayJson);
  return staticCodeCheckValidityWithAnchors(code.get(), kFlags, requirement.get(), anchors, failure);
}

}  // namespace verifier
