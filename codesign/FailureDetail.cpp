#include "codesign/FailureDetail.h"

#include <cstdio>

#include "codesign/SliceArchitectures.h"
#include "codesign/Status.h"

namespace codesign {

OSStatus explain(std::string* why, OSStatus status, std::string_view reason) {
  if (why != nullptr) *why = reason;
  return status;
}

OSStatus explain(FailureDetail* detail, OSStatus status, HashType type, std::string_view reason) {
  if (detail != nullptr) {
    detail->hashType = hashTypeName(type);
    detail->reason = reason;
  }
  return status;
}

std::string hexNumber(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

std::string_view hashTypeName(HashType type) {
  switch (type) {
    case HashType::sha1: return "sha1";
    case HashType::sha256: return "sha256";
    case HashType::sha256Truncated: return "sha256-truncated";
    case HashType::sha384: return "sha384";
    case HashType::unknown: break;
  }
  return "unknown";
}

std::string specialSlotName(std::uint32_t n) {
  static constexpr std::string_view kNames[] = {
      "",
      "Info.plist",
      "requirements",
      "resource directory",
      "application",
      "entitlements",
      "representation-specific",
      "DER entitlements",
      "launch constraints (self)",
      "launch constraints (parent)",
      "launch constraints (responsible)",
      "library constraints",
  };
  std::string name = "special slot " + std::to_string(n);
  if (n >= 1 && n < std::size(kNames)) name.append(" (").append(kNames[n]).append(")");
  return name;
}

std::string architectureOf(std::int32_t cputype, std::int32_t cpusubtype) {
  const auto cpu = static_cast<std::uint32_t>(cputype);
  return architectureName(cpu, static_cast<std::uint32_t>(cpusubtype)).value_or("cputype-" + hexNumber(cpu));
}

std::string readFailure(OSStatus status) {
  if (status == errSecCSSignatureFailed) return "the file became shorter while it was read";
  return "the file could not be read";
}

}  // namespace codesign
