#include "verifier/DisplayJson.h"

#include "codesign/StatusNames.h"
#include "verifier/Display.h"
#include "verifier/DisplayText.h"
#include "verifier/Json.h"

namespace verifier {
namespace {

// Members of one object, written in the order they are added.
class Object {
 public:
  Object& raw(const char* key, const std::string& json) {
    _text += (_text.empty() ? "{" : ", ") + jsonString(key) + ": " + json;
    return *this;
  }
  Object& string(const char* key, const std::string& value) { return raw(key, jsonString(value)); }
  Object& number(const char* key, std::uint64_t value) { return raw(key, std::to_string(value)); }
  // The status's number and the framework's name for it (null when none).
  Object& status(codesign::OSStatus status) {
    const auto name = codesign::statusName(status);
    return raw("status", std::to_string(status)).raw("name", name ? jsonString(std::string(*name)) : "null");
  }
  std::string text() const { return _text.empty() ? "{}" : _text + "}"; }

 private:
  std::string _text;
};

std::string array(const std::vector<std::string>& jsonItems) {
  std::string text;
  for (const std::string& item : jsonItems) text += (text.empty() ? "" : ", ") + item;
  return "[" + text + "]";
}

std::string strings(const std::vector<std::string>& values) {
  std::vector<std::string> items;
  for (const std::string& value : values) items.push_back(jsonString(value));
  return array(items);
}

std::string unreadable(const Unreadable& part) {
  return Object().raw("unreadable", Object().status(part.status).text()).text();
}

std::string codeDirectory(const DirectoryFields& cd) {
  return Object()
      .number("version", cd.version)
      .number("size", cd.size)
      .number("flags", cd.flags)
      .raw("flagNames", strings(flagNames(cd.flags)))
      .number("codeSlots", cd.codeSlots)
      .number("specialSlots", cd.specialSlots)
      .text();
}

std::string hashTypes(const std::vector<HashTypeField>& types) {
  std::vector<std::string> items;
  for (const HashTypeField& type : types) items.push_back(Object().string("name", type.name).number("size", type.size).text());
  return array(items);
}

void signer(const SliceFields& s, Object& out) {
  if (s.adhoc) out.raw("adhoc", "true");
  if (s.signatureSize) out.number("signatureSize", *s.signatureSize);
  if (const auto* part = std::get_if<Unreadable>(&s.authorities)) out.raw("authorities", unreadable(*part));
  if (const auto* names = std::get_if<std::vector<std::string>>(&s.authorities); names && !names->empty())
    out.raw("authorities", strings(*names));
  if (s.timestamp) out.string("timestamp", displayDate(*s.timestamp));
  if (s.signedTime) out.string("signedTime", displayDate(*s.signedTime));
}

void requirements(const SliceFields& s, Object& out) {
  if (!s.internalRequirements) {
    out.raw("internalRequirements", "null");
  } else if (const auto* part = std::get_if<Unreadable>(&*s.internalRequirements)) {
    out.raw("internalRequirements", unreadable(*part));
  } else {
    const auto& set = std::get<RequirementSetFields>(*s.internalRequirements);
    out.raw("internalRequirements", Object().number("count", set.count).number("size", set.size).text());
  }
  if (!s.designated) return;
  if (const auto* part = std::get_if<Unreadable>(&*s.designated)) {
    out.raw("designated", unreadable(*part));
  } else {
    const auto& field = std::get<DesignatedField>(*s.designated);
    out.raw("designated", Object().string("text", field.text).raw("implicit", field.implicit ? "true" : "false").text());
  }
}

std::string entitlements(const EntitlementsField& field) {
  switch (field.state) {
    case EntitlementsField::State::none: return "null";
    case EntitlementsField::State::notBound: return Object().raw("notBound", "true").text();
    case EntitlementsField::State::present: break;
  }
  return jsonString(field.xml);
}

std::string slice(const SliceFields& s) {
  Object out;
  if (s.architecture) out.string("architecture", *s.architecture);
  if (s.stopped) {
    return out.raw("stopped", Object().string("at", s.stopped->where).status(s.stopped->status).text()).text();
  }
  out.string("identifier", s.identifier).string("format", s.format).raw("codeDirectory", codeDirectory(s.codeDirectory));
  out.raw("hashTypes", hashTypes(s.hashTypes)).string("cdhash", s.cdhash);
  signer(s, out);
  if (!s.infoPlistEntries) {
    out.raw("infoPlistEntries", "null");
  } else if (const auto* part = std::get_if<Unreadable>(&*s.infoPlistEntries)) {
    out.raw("infoPlistEntries", unreadable(*part));
  } else {
    out.number("infoPlistEntries", std::get<std::size_t>(*s.infoPlistEntries));
  }
  out.raw("teamIdentifier", s.teamIdentifier ? jsonString(*s.teamIdentifier) : "null");
  if (s.runtimeVersion) out.string("runtimeVersion", packedVersion(*s.runtimeVersion));
  if (s.pageSize) out.number("pageSize", *s.pageSize);
  requirements(s, out);
  if (s.entitlements) out.raw("entitlements", entitlements(*s.entitlements));
  return out.text();
}

}  // namespace

std::string displayJson(const SliceFields& fields) { return slice(fields); }

std::string jsonArray(const std::vector<std::string>& objects) { return array(objects); }

}  // namespace verifier
