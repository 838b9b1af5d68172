#include "verifier/Report.h"

#include "codesign/StatusNames.h"
#include "verifier/Json.h"

namespace verifier {

std::string statusText(codesign::OSStatus status) {
  const auto name = codesign::statusName(status);
  std::string text = std::to_string(status);
  if (name) text.append(" ").append(*name);
  return text;
}

std::string reportLine(const std::string& path, codesign::OSStatus status, bool json, const std::string& displayJson) {
  if (!json) return statusText(status);
  const auto name = codesign::statusName(status);
  return "{\"path\": " + jsonString(path) + ", \"status\": " + std::to_string(status) +
         ", \"name\": " + (name ? jsonString(std::string(*name)) : "null") +
         (displayJson.empty() ? "" : ", \"display\": " + displayJson) + "}";
}

}  // namespace verifier
