// Match operations, numeric string order, the sealed property-list reader,
// and info[…] / entitlement[…] clauses evaluated against sealed lists.

#include <string>
#include <string_view>
#include <tuple>

#include <gtest/gtest.h>

#include "RequirementTesting.h"
#include "codesign/Requirement.h"
#include "codesign/Status.h"
#include "codesign/requirement/Date.h"
#include "codesign/requirement/Match.h"
#include "codesign/requirement/PropertyListReader.h"

namespace codesign {
namespace {

using requirement::Match;
using requirement::MatchOperation;
using requirement::Value;
using testing_support::compileAndEvaluate;

Value valueOf(Value::Type type, std::int64_t date = 0, std::vector<Value> items = {}, std::string text = "") {
  Value v;
  v.type = type, v.date = date, v.items = std::move(items), v.text = std::move(text);
  return v;
}
Value dateValue(std::int64_t seconds) { return valueOf(Value::Type::Date, seconds); }
Value arrayOf(std::vector<Value> items) { return valueOf(Value::Type::Array, 0, std::move(items)); }
Value numberValue(std::string text) { return valueOf(Value::Type::Number, 0, {}, std::move(text)); }

// Every operation has its case, so no row reaches the switches' default.
TEST(RequirementMatch, AppliesEachOperationToEachKindOfCandidate) {
  using Op = MatchOperation;
  const Value text = Value::ofString("Developer ID Application");
  struct Case {
    Op operation;
    const char* value;
    Value candidate;
    bool expected;
  };
  const Case cases[] = {
      {Op::Exists, "", Value::null(), false}, {Op::Absent, "", Value::null(), true}, {Op::Exists, "", text, true},
      {Op::Exists, "", Value::ofBoolean(true), true}, {Op::Exists, "", Value::ofBoolean(false), false},
      {Op::Absent, "", Value::ofBoolean(false), false}, {Op::Exists, "", arrayOf({}), true},
      {Op::Equal, "Developer ID Application", text, true}, {Op::Equal, "developer id application", text, false},
      {Op::BeginsWith, "Developer ID", text, true}, {Op::BeginsWith, "Application", text, false},
      {Op::EndsWith, "Application", text, true}, {Op::Contains, "ID", text, true},
      {Op::BeginsWith, "Developer ID Application", text, true}, {Op::EndsWith, "Developer ID Application", text, true},
      {Op::EndsWith, "The Developer ID Application", text, false},
      {Op::BeginsWith, "Developer ID Application and more", text, false},
      {Op::Equal, "10", numberValue("10"), false},        // a number never equals a string
      {Op::GreaterThan, "9", numberValue("10"), false},   // ordering is for strings only
      {Op::LessThan, "1.10", Value::ofString("1.9"), true}, {Op::GreaterThan, "9", Value::ofString("10"), true},
      {Op::GreaterEqual, "2.1", Value::ofString("2.0"), false}, {Op::LessThan, "2.0", Value::ofString("2.0"), false},
      {Op::GreaterThan, "2.0", Value::ofString("2.0"), false}, {Op::GreaterEqual, "2.0", Value::ofString("2.0"), true},
      {Op::LessEqual, "2.0", Value::ofString("2.0"), true},
      {Op::Equal, "b", arrayOf({Value::ofString("a"), Value::ofString("b")}), true},
      {Op::Contains, "x", arrayOf({arrayOf({Value::ofString("xyz")})}), true}, {Op::On, "", dateValue(1000), true},
      {Op::Before, "", dateValue(999), true}, {Op::Before, "", dateValue(1000), false},
      {Op::After, "", dateValue(1001), true}, {Op::OnOrBefore, "", dateValue(1000), true},
      {Op::OnOrAfter, "", dateValue(999), false}, {Op::OnOrAfter, "", dateValue(1000), true}, {Op::Equal, "1000", dateValue(1000), false},
  };
  for (const Case& c : cases) {
    const Match match{c.operation, c.value, 1000};
    EXPECT_EQ(requirement::matches(match, c.candidate), c.expected)
        << "operation " << static_cast<int>(c.operation) << " value '" << c.value << "'";
  }
}

// Runs of zeros compare equal however many zeros are kept: no row.
TEST(RequirementMatch, OrdersDigitRunsByValue) {
  const std::tuple<const char*, const char*, int> cases[] = {
      {"9", "10", -1},     {"10", "9", 1},        {"1.9", "1.10", -1}, {"1.10", "1.10", 0},
      {"abc", "abd", -1},  {"a10b", "a9b", 1},    {"007", "7", 0},     {"", "a", -1},
      {"10", "10a", -1},   {"v2", "v10", -1},     {"B", "a", -1},      {"100000000000000000000", "99", 1},
      {"b", "1a", 1},      {"1.2a", "1.2", 1},
  };
  for (const auto& [a, b, sign] : cases) {
    const int order = requirement::compareNumerically(a, b);
    EXPECT_EQ((order > 0) - (order < 0), sign) << a << " vs " << b;
  }
}

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::string plist(std::string_view body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n" + std::string(body) + "\n</plist>\n";
}

OSStatus readStatus(std::string_view text) {
  Value dictionary;
  return requirement::readPropertyListDictionary(bytesOf(text), &dictionary);
}

TEST(RequirementPropertyList, ReadsTopLevelKeysAndValues) {
  const std::string text = plist(
      "<dict>\n<!-- a comment -->\n"
      "\t<key>CFBundleIdentifier</key>\n\t<string>com.example.app</string>\n"
      "\t<key>Escaped &amp; &lt;key&gt;</key><string>&quot;&apos;&#90;&#x4F;&#xaA;&#xf9;&#x800;&#00000067;&#x10000;&#x10FFFF;</string>\n"
      "\t<key>Raw</key><string><![CDATA[<not a tag>]]></string>\n"
      "\t<key>Empty</key><string/>\n"
      "\t<key>Flag</key><true/>\n\t<key>Off</key><false></false>\n"
      "\t<key>Count</key><integer>12</integer>\n"
      "\t<key>When</key><date>2021-06-01T12:00:00Z</date>\n"
      "\t<key>List</key><array><string>a</string><array/><dict/></array>\n"
      "\t<key>Nested</key><dict><key>Inner</key><data>AAEC</data></dict>\n"
      "</dict>");
  Value dictionary;
  ASSERT_EQ(requirement::readPropertyListDictionary(bytesOf(text), &dictionary), errSecSuccess);
  ASSERT_EQ(dictionary.keys.size(), 10u);
  EXPECT_EQ(dictionary.find("CFBundleIdentifier")->text, "com.example.app");
  EXPECT_EQ(dictionary.find("Escaped & <key>")->text, "\"'ZO\xC2\xAA\xC3\xB9\xE0\xA0\x80" "C\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
  EXPECT_EQ(dictionary.find("Raw")->text, "<not a tag>");
  EXPECT_TRUE(dictionary.find("Flag")->boolean);
  EXPECT_FALSE(dictionary.find("Off")->boolean);
  EXPECT_EQ(dictionary.find("When")->date, 1622548800);
  EXPECT_EQ(dictionary.find("List")->items.size(), 3u);
  EXPECT_EQ(dictionary.find("Missing"), nullptr);
}

// Calendar dates in both written forms: each field's first and last value,
// and the leap years of the Gregorian calendar.
TEST(RequirementDate, ReadsEachValidDateOnly) {
  const std::pair<std::string, std::optional<std::int64_t>> cases[] = {
      {"2024-01-31T23:59:59Z", 1706745599}, {"2024-02-29T00:00:00Z", 1709164800}, {"2000-02-29T12:00:00Z", 951825600},
      {"2023-12-31T00:00:00Z", 1703980800}, {"0000-01-01T00:00:00Z", -62167219200}, {"1900-02-29T00:00:00Z", {}},
      {"2023-02-29T00:00:00Z", {}}, {"2024-04-31T00:00:00Z", {}}, {"2024-13-01T00:00:00Z", {}},
      {"2024-00-10T00:00:00Z", {}}, {"2024-01-00T00:00:00Z", {}}, {"2024-01-01T24:00:00Z", {}},
      {"2024-01-01T00:60:00Z", {}}, {"2024-01-01T00:00:60Z", {}}, {"2024-01-01 00:00:00Z", {}}, {"20x4-01-01T00:00:00Z", {}}};
  for (const auto& [text, seconds] : cases) {
    EXPECT_EQ(requirement::parsePropertyListDate(text), seconds) << text;
    std::string compact;  // YYYYMMDDHHMMSSZ
    for (const char c : text) compact += std::isdigit(static_cast<unsigned char>(c)) || c == 'Z' ? std::string(1, c) : "";
    if (text[10] == 'T') { EXPECT_EQ(requirement::parseGeneralizedTime(compact), seconds) << compact; }
  }
  EXPECT_EQ(requirement::parseGeneralizedTime("2024013123595Z"), std::nullopt);
  for (const char* text : {"2024/01-01T00:00:00Z", "2024-01-01T00-00:00Z"}) EXPECT_EQ(requirement::parsePropertyListDate(text), std::nullopt);
}

TEST(RequirementPropertyList, RefusesMalformedLists) {
  const auto deep = [](int arrays) {  // the value of k nested that deep
    std::string text = "<dict><key>k</key>";
    for (int i = 0; i < arrays; ++i) text += "<array>";
    for (int i = 0; i < arrays; ++i) text += "</array>";
    return plist(text + "</dict>");
  };
  const std::string cases[] = {
      "", "<dict>", plist("<dict>").substr(0, 200), plist("<array/>"), plist("<string>x</string>"),
      plist("<dict><key>a</key><string>1</string><key>a</key><string>2</string></dict>"),
      plist("<dict><key>a</key></dict>"), plist("<dict><string>a</string></dict>"),
      plist("<dict><key>a</key><foo/></dict>"), plist("<dict><key>a</key><string>x</dict>"),
      plist("<dict><key>a</key><string attr=\"1\">x</string></dict>"),
      plist("<dict><key>a</key><string>&bogus;</string></dict>"),
      plist("<dict><key>a</key><string>&#0;</string></dict>"),
      plist("<dict><key>a</key><string>&#x110000;</string></dict>"),
      plist("<dict><key>a</key><string>&#xDFFF;</string></dict>"), plist("<dict><key>a</key><string>&#xD800;</string></dict>"), plist("<dict><key>a</key><string>&#000000067;</string></dict>"), plist("<dict><key>a</key><string>x</strng></dict>"),
      plist("<dict><key>a</key><string>&#6A;</string></dict>"),
      plist("<dict><key>a</key><date>yesterday</date></dict>"),
      plist("<dict><key>a</key><date>2021-06-01T12:00:00X</date></dict>"),
      plist("<dict><key>a</key><true>x</true></dict>"),
      plist("<dict><key>a</key><string>x<!-- c --></string></dict>"),
      plist("<dict/><dict/>"), plist("<dict/>") + "trailing", "<plist><dict/>",
      "<!DOCTYPE plist [<!ENTITY x \"y\">]><plist><dict/></plist>", "<?xml", "<!-- open",
      std::string("<dict><key>a\0</key><string/></dict>", 35), deep(65),
      "<dict><key>a</key><string><![CDATA[x</string></dict>", "<plist/><dict/></plist>", "<plist",
  };
  // No element name holds a 'z': how a name reads one has no row. Nor where
  // reading goes on after an unterminated comment, instruction, DOCTYPE or
  // CDATA section, or a reference without ';': it fails from there too.
  for (const std::string& text : cases) EXPECT_EQ(readStatus(text), errSecCSBadDictionaryFormat) << text;
  EXPECT_EQ(readStatus("bplist00\xD0\x08"), errSecCSUnimplemented);
  for (const std::size_t size : {requirement::kMaxPropertyListSize, requirement::kMaxPropertyListSize + 1})
    EXPECT_EQ(readStatus(std::string(size - 7, ' ') + "<dict/>"),
              size > requirement::kMaxPropertyListSize ? errSecCSBadDictionaryFormat : errSecSuccess);
  EXPECT_EQ(readStatus("<dict/>"), errSecSuccess);  // a bare dictionary needs no wrapper
  EXPECT_EQ(readStatus(deep(64)), errSecSuccess);
}

TEST(RequirementPropertyList, EvaluatesInfoAndEntitlementClauses) {
  RequirementSubject subject;
  subject.infoPlist = bytesOf(plist(
      "<dict><key>CFBundleIdentifier</key><string>com.example.app</string>"
      "<key>CFBundleVersion</key><string>1.10</string>"
      "<key>LSUIElement</key><true/><key>Hidden</key><false/>"
      "<key>Names</key><array><string>first</string><string>second</string></array>"
      "<key>Built</key><date>2021-06-01T12:00:00Z</date></dict>"));
  subject.entitlements = bytesOf(plist(
      "<dict><key>com.apple.security.app-sandbox</key><true/>"
      "<key>com.apple.application-identifier</key><string>TEAM.com.example.app</string></dict>"));
  const std::pair<const char*, bool> cases[] = {
      {"info[CFBundleIdentifier] = com.example.app", true}, {"info[CFBundleIdentifier] = \"com.example\"*", true},
      {"info[CFBundleIdentifier] = \"com.example\"", false}, {"info[CFBundleVersion] > \"1.9\"", true},
      {"info[LSUIElement] exists", true}, {"info[Hidden] exists", false}, {"info[Hidden] absent", false},
      {"info[Missing] absent", true}, {"info[Names] = second", true},
      {"info[Built] = timestamp \"20210601120000Z\"", true}, {"info[Built] >= timestamp \"20210101000000Z\"", true},
      {"entitlement[\"com.apple.security.app-sandbox\"]", true},
      {"entitlement[\"com.apple.application-identifier\"] = *\".com.example.app\"", true},
  };
  for (const auto& [text, satisfied] : cases)
    EXPECT_EQ(compileAndEvaluate(text, subject), satisfied ? errSecSuccess : errSecCSReqFailed) << text;
}

// DER: a tag, the length (short form, or long form past 127), the contents.
Bytes der(std::uint8_t tag, const Bytes& contents) {
  Bytes out{tag}, length;
  for (auto rest = contents.size(); rest > 0; rest >>= 8) length.insert(length.begin(), static_cast<std::uint8_t>(rest));
  if (contents.size() > 127) out.push_back(static_cast<std::uint8_t>(0x80 | length.size()));
  else length = {static_cast<std::uint8_t>(contents.size())};
  out.insert(out.end(), length.begin(), length.end());
  out.insert(out.end(), contents.begin(), contents.end());
  return out;
}
Bytes operator+(Bytes a, const Bytes& b) { return a.insert(a.end(), b.begin(), b.end()), a; }
Bytes utf8(const std::string& s) { return der(0x0c, Bytes(s.begin(), s.end())); }
Bytes derEntitlements(const Bytes& entries) { return der(0x70, der(0x02, {1}) + der(0xb0, entries)); }

TEST(RequirementPropertyList, PrefersDerEntitlements) {
  RequirementSubject subject;
  subject.entitlements = bytesOf(plist("<dict><key>xml-only</key><true/><key>sandbox</key><false/></dict>"));
  subject.derEntitlements = derEntitlements(
      der(0x30, utf8("sandbox") + der(0x01, {0xff})) + der(0x30, utf8("count") + der(0x02, {0xff, 0x38})) +
      der(0x30, utf8("groups") + der(0x30, utf8("a") + utf8("b"))) +
      der(0x30, utf8("nested") + der(0xb0, der(0x30, utf8("k") + utf8("v")))) +
      der(0x30, utf8("long") + der(0x0c, Bytes(200, 'x'))) +
      der(0x30, utf8("four") + Bytes{0x0c, 0x84, 0, 0, 0, 1, 'y'}) +  // four length bytes, the most read
      der(0x30, utf8("big") + der(0x02, {0x7f, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff})));
  const std::pair<const char*, OSStatus> cases[] = {
      {"entitlement[sandbox]", errSecSuccess}, {"entitlement[\"xml-only\"] absent", errSecSuccess},
      {"entitlement[count] exists", errSecSuccess}, {"entitlement[groups] = b", errSecSuccess},
      {"entitlement[nested] exists", errSecSuccess}, {"entitlement[groups] = c", errSecCSReqFailed},
      {"entitlement[long] = x*", errSecSuccess},  // a long-form length
      {"entitlement[four] = y", errSecSuccess}, {"entitlement[big] exists", errSecSuccess},
  };
  for (const auto& [text, status] : cases) EXPECT_EQ(compileAndEvaluate(text, subject), status) << text;
  const Bytes malformed[] = {
      derEntitlements(der(0x30, utf8("k") + utf8("v"))) + Bytes{0},           // trailing byte
      derEntitlements(der(0x30, utf8("k") + der(0x04, {1}))),                 // an OCTET STRING value
      derEntitlements(der(0x30, utf8("k") + utf8("v")) + der(0x30, utf8("k") + utf8("w"))),  // key twice
      der(0x70, der(0x02, {2}) + der(0xb0, {})),                              // version 2
      derEntitlements(der(0x30, utf8("k") + utf8("v")) + Bytes{0x30}),      // an entry cut after its tag
      derEntitlements(der(0x30, utf8("k") + Bytes{0x0c, 0x05, 'v'})),         // a value longer than its entry
      derEntitlements(der(0x30, utf8("k") + der(0x02, Bytes(9, 1)))),        // a nine-byte INTEGER
      der(0x70, der(0x02, {1}) + der(0xb0, {}) + der(0x05, {})),              // a third part
      derEntitlements(der(0x31, utf8("k") + utf8("v"))), derEntitlements(der(0x30, utf8("k") + utf8("v") + utf8("w"))),
      derEntitlements(der(0x30, der(0x04, {'k'}) + utf8("v"))),               // entries of other shapes
      Bytes{0x70, 0x84, 0xff, 0xff, 0xff, 0xff},                              // length past the end
      derEntitlements(der(0x30, utf8("k") + Bytes{0x0c, 0x80})),              // lengths of no bytes,
      derEntitlements(der(0x30, utf8("k") + Bytes{0x0c, 0x85, 0, 0, 0, 0, 1, 'v'})),  // of five,
      derEntitlements(der(0x30, utf8("k") + Bytes{0x0c, 0x82, 0x01})),        // and cut short
  };
  for (const Bytes& bytes : malformed) {
    subject.derEntitlements = bytes;
    EXPECT_EQ(compileAndEvaluate("entitlement[k] absent", subject), errSecCSBadDictionaryFormat);
  }
  // Nesting and size at their limits and one past them.
  const auto entitlement = [](int arrays, std::size_t text) {  // k's value: a string that deep in arrays
    Bytes value = utf8(std::string(text, 'x'));
    for (int i = 0; i < arrays; ++i) value = der(0x30, value);
    return derEntitlements(der(0x30, utf8("k") + value));
  };
  const std::size_t fill = requirement::kMaxPropertyListSize - entitlement(0, 0).size() - 12;  // 4 lengths, 3 bytes longer
  for (const auto& [bytes, status] : {std::pair{entitlement(63, 1), errSecSuccess}, {entitlement(64, 1), errSecCSBadDictionaryFormat},
                                      {entitlement(0, fill), errSecSuccess}, {entitlement(0, fill + 1), errSecCSBadDictionaryFormat}}) {
    subject.derEntitlements = bytes;
    EXPECT_EQ(compileAndEvaluate("entitlement[k] exists", subject), status) << bytes.size();
  }
}

TEST(RequirementPropertyList, AMalformedSealedListFailsEveryClauseThatReadsIt) {
  RequirementSubject subject;
  subject.identifier = "com.example.app";
  subject.infoPlist = bytesOf(plist("<array><string>x</string></array>"));
  subject.entitlements = bytesOf("<dict><key>a</key>");
  const std::pair<const char*, OSStatus> cases[] = {
      {"info[a] absent", errSecCSBadDictionaryFormat}, {"false and info[a] exists", errSecCSBadDictionaryFormat},
      {"info[a] exists or true", errSecCSBadDictionaryFormat}, {"!info[a] exists", errSecCSBadDictionaryFormat},
      {"identifier com.example.app", errSecSuccess},             // a clause that never reads it
  };
  for (const auto& [text, status] : cases) EXPECT_EQ(compileAndEvaluate(text, subject), status) << text;
  const RequirementSubject nothingSealed;  // missing lists hold no keys
  EXPECT_EQ(compileAndEvaluate("info[CFBundleIdentifier] absent", nothingSealed), errSecSuccess);
  EXPECT_EQ(compileAndEvaluate("entitlement[a] exists", nothingSealed), errSecCSReqFailed);
}

}  // namespace
}  // namespace codesign
