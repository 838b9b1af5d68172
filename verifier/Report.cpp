#include "verifier/Report.h"

#include "codesign/StatusNames.h"
#include "verifier/Json.h"
#include "verifier/Printable.h"

namespace verifier {
namespace {

std::string jsonOrNull(const std::string& text) { return text.empty() ? "null" : jsonString(text); }

}  // namespace

std::string statusText(codesign::OSStatus status) {
  const auto name = codesign::statusName(status);
  std::string text = std::to_string(status);
  if (name) text.append(" ").append(*name);
  return text;
}

std::string reportLine(const std::string& path, codesign::OSStatus status, bool json,
                       const codesign::FailureDetail& detail, const std::string& displayJson) {
  if (!json) return statusText(status);
  const auto name = codesign::statusName(status);
  const bool failed = status != 0;
  return "{\"path\": " + jsonString(path) + ", \"status\": " + std::to_string(status) +
         ", \"name\": " + (name ? jsonString(std::string(*name)) : "null") +
         ", \"architecture\": " + (failed ? jsonOrNull(detail.architecture) : "null") +
         ", \"reason\": " + (failed ? jsonOrNull(detail.reason) : "null") +
         ", \"message\": " + (failed ? jsonString(codesign::statusMessage(status)) : "null") +
         (displayJson.empty() ? "" : ", \"display\": " + displayJson) + "}";
}

std::string failureLine(codesign::OSStatus status, const codesign::FailureDetail& detail) {
  std::string line = "signature-check: ";
  if (!detail.architecture.empty()) {
    line += detail.architecture;
    if (!detail.hashType.empty()) line += " (" + detail.hashType + ")";
    line += ": ";
  }
  if (!detail.reason.empty()) line += detail.reason + ": ";
  return printable(line + codesign::statusMessage(status));
}

}  // namespace verifier
