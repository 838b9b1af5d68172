#include "verifier/DisplayText.h"

#include <cstdio>

#include "verifier/Display.h"
#include "verifier/Printable.h"
#include "verifier/Report.h"

namespace verifier {
namespace {

std::string hex32(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", value);
  return text;
}

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ",") + name;
  return text.empty() ? "none" : text;
}

std::string unreadable(const Unreadable& part) { return "unreadable (" + statusText(part.status) + ")"; }

void directoryLines(const SliceFields& s, std::ostream& out) {
  const DirectoryFields& cd = s.codeDirectory;
  out << "CodeDirectory v=" << hex32(cd.version) << " size=" << cd.size << " flags=0x" << hex32(cd.flags) << "("
      << joined(flagNames(cd.flags)) << ") hashes=" << cd.codeSlots << "+" << cd.specialSlots << "\n";
  for (const HashTypeField& type : s.hashTypes) out << "Hash type=" << type.name << " size=" << type.size << "\n";
  out << "CDHash=" << s.cdhash << "\n";
}

void signerLines(const SliceFields& s, std::ostream& out) {
  if (s.adhoc) out << "Signature=adhoc\n";
  if (s.signatureSize) out << "Signature size=" << *s.signatureSize << "\n";
  if (const auto* part = std::get_if<Unreadable>(&s.authorities)) out << "Authority=" << unreadable(*part) << "\n";
  if (const auto* names = std::get_if<std::vector<std::string>>(&s.authorities)) {
    for (const std::string& name : *names) out << "Authority=" << printable(name) << "\n";
  }
  if (s.timestamp) out << "Timestamp=" << displayDate(*s.timestamp) << "\n";
  if (s.signedTime) out << "Signed Time=" << displayDate(*s.signedTime) << "\n";
}

void requirementLines(const SliceFields& s, std::ostream& out) {
  if (!s.internalRequirements) {
    out << "Internal requirements=none\n";
  } else if (const auto* part = std::get_if<Unreadable>(&*s.internalRequirements)) {
    out << "Internal requirements=" << unreadable(*part) << "\n";
  } else {
    const auto& set = std::get<RequirementSetFields>(*s.internalRequirements);
    out << "Internal requirements count=" << set.count << " size=" << set.size << "\n";
  }
  if (!s.designated) return;
  if (const auto* part = std::get_if<Unreadable>(&*s.designated)) {
    out << "# designated requirement " << unreadable(*part) << "\n";
    return;
  }
  const auto& field = std::get<DesignatedField>(*s.designated);
  out << (field.implicit ? "# designated => " : "designated => ") << printable(field.text) << "\n";
}

// The property list's lines, each behind a tab so that none reads as a field.
void entitlementLines(const EntitlementsField& field, std::ostream& out) {
  switch (field.state) {
    case EntitlementsField::State::none: out << "Entitlements=none\n"; return;
    case EntitlementsField::State::notBound: out << "Entitlements=not bound\n"; return;
    case EntitlementsField::State::present: break;
  }
  out << "Entitlements=\n";
  std::size_t start = 0;
  while (start < field.xml.size()) {
    const std::size_t end = std::min(field.xml.find('\n', start), field.xml.size());
    out << "\t" << printable(field.xml.substr(start, end - start)) << "\n";
    start = end + 1;
  }
}

void sliceLines(const SliceFields& s, std::ostream& out) {
  if (s.architecture) out << "Architecture=" << *s.architecture << "\n";
  if (s.stopped) {
    out << "Display stopped=" << (s.architecture ? *s.architecture + " " : "") << s.stopped->where << " ("
        << statusText(s.stopped->status) << ")\n";
    return;
  }
  out << "Identifier=" << printable(s.identifier) << "\n";
  out << "Format=" << s.format << "\n";
  directoryLines(s, out);
  signerLines(s, out);
  if (!s.infoPlistEntries) {
    out << "Info.plist=not bound\n";
  } else if (const auto* part = std::get_if<Unreadable>(&*s.infoPlistEntries)) {
    out << "Info.plist=" << unreadable(*part) << "\n";
  } else {
    out << "Info.plist entries=" << std::get<std::size_t>(*s.infoPlistEntries) << "\n";
  }
  out << "TeamIdentifier=" << (s.teamIdentifier ? printable(*s.teamIdentifier) : "not set") << "\n";
  if (s.runtimeVersion) out << "Runtime Version=" << packedVersion(*s.runtimeVersion) << "\n";
  if (s.pageSize) out << "Page size=" << *s.pageSize << "\n";
  requirementLines(s, out);
  if (s.entitlements) entitlementLines(*s.entitlements, out);
}

}  // namespace

void writeDisplayText(const SliceFields& slice, std::ostream& out) { sliceLines(slice, out); }

std::string displayDate(std::time_t time) {
  std::tm parts{};
  if (gmtime_r(&time, &parts) == nullptr) return "unrepresentable";
  char text[96];  // room for any int the fields could hold
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d +0000", parts.tm_year + 1900, parts.tm_mon + 1,
                parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

std::string packedVersion(std::uint32_t version) {
  return std::to_string(version >> 16) + "." + std::to_string((version >> 8) & 0xFF) + "." +
         std::to_string(version & 0xFF);
}

}  // namespace verifier
