// Compiling requirement text: what the language accepts, what it refuses,
// how its operators bind, and the limits that keep hostile text bounded.

#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "RequirementTesting.h"
#include "platform/codesign/Requirement.h"
#include "platform/codesign/Status.h"

namespace platform::codesign {
namespace {

OSStatus compileStatus(std::string_view text) {
  RequirementRef requirement;
  const OSStatus status = Requirement::compile(text, &requirement);
  EXPECT_EQ(status == errSecSuccess, requirement != nullptr) << text;
  return status;
}

std::string repeated(std::string_view piece, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += piece;
  return text;
}

constexpr std::string_view kHash = "H\"611e5b662c593a08ff58d14ae22452d198df6c60\"";

TEST(RequirementCompile, AcceptsTheLanguage) {
  const std::string hash(kHash);
  const std::string accepted[] = {
      "always", "true", "never", "false", "true;", "true ;;",
      "anchor apple", "anchor apple generic", "anchor generic apple",
      "anchor apple \"SomeAnchor\"", "anchor apple someanchor",
      "anchor = " + hash, "anchor " + hash, "certificate leaf = " + hash, "cert 2 == " + hash,
      "certificate root[subject.CN] = \"Root\"", "certificate -2[subject.O] exists",
      "certificate -0[subject.O]", "cert 1[field.1.2.840.113635.100.6.2.6]",
      "certificate leaf[extension.2.5.29.19] absent", "certificate leaf[policy.1.2.3]",
      "certificate leaf[\"subject.C-OU\"] = foo", "certificate leaf[subject.anything]",
      "certificate leaf[timestamp.1.2.840.113635.100.6.1.33] < timestamp \"20200101000000Z\"",
      "anchor trusted", "certificate trusted", "cert trusted", "certificate 1 trusted",
      "identifier com.example.app", "identifier \"com.example.app\"", "identifier = a.b.c",
      "identifier == \"x\"", "cdhash " + hash, "cdhash = " + hash, "platform 1", "platform = 2",
      "notarized", "legacy", "(\"named\")", "(named.requirement)",
      "info[CFBundleVersion] >= \"1.2\"", "info[\"key with space\"] = \"v\"*",
      "info[k] = *\"v\"", "info[k] = *\"v\"*", "info[k] ~ v", "info[k] = 0x414243",
      "info[k] < v", "info[k] > v", "info[k] <= v", "info[k] >= v", "info[k] exists",
      "info[k] absent", "info[k]", "info[k] = timestamp \"20211231235959Z\"",
      "info[k] >= timestamp \"20000229000000Z\"", "entitlement[com.example.flag] exists",
      "!true", "!!true", "! ( true )", "true and false or !true",
      "# comment\ntrue // another\n/* block\n comment */ and true",
      "identifier \"a\\\"b\"", "identifier \"caf\xC3\xA9\"", "identifier \"line\nbreak\"",
      "identifier \"*\"", "\ttrue\n",
  };
  for (const std::string& text : accepted) EXPECT_EQ(compileStatus(text), errSecSuccess) << text;
}

TEST(RequirementCompile, RefusesMalformedText) {
  using namespace std::string_literals;
  const std::string hash(kHash);
  const std::string rejected[] = {
      "", ";", "true true", "true and", "or true", "(true", "true)", "()", "!",
      "anchor", "anchor apple generic generic", "anchor generic", "anchor = ",
      "anchor \"/path/to/cert\"", "certificate leaf = \"file\"", "certificate", "certificate 1",
      "certificate leaf[]", "certificate leaf[email] exists", "certificate leaf[foo.bar]",
      "certificate leaf[field.1]", "certificate leaf[field.3.1]", "certificate leaf[field.1.40]",
      "certificate leaf[field.1.02]", "certificate leaf[field.a.b]",
      "certificate leaf[field.1.2.12345678901234567890]", "certificate leaf[subject.CN",
      "certificate 2147483648 = " + hash, "certificate - leaf = " + hash,
      "cdhash H\"611e5b66\"", "cdhash H\"611e5b662c593a08ff58d14ae22452d198df6c6\"",
      "cdhash H\"611e5b662c593a08ff58d14ae22452d198df6c6000\"",
      "cdhash H\"zz1e5b662c593a08ff58d14ae22452d198df6c60\"", "cdhash \"abc\"",
      "platform", "platform x", "platform 4294967296", "identifier", "identifier 12",
      "info k exists", "info[k", "info[k] = ", "info[k] = *", "info[k] ~",
      "info[k] = 0x414", "info[k] = 0x", "info[k] = timestamp \"2021\"",
      "info[k] = timestamp \"20211301000000Z\"", "info[k] < timestamp now",
      "info[k] = * * v", "entitlement exists", "entitlement[com.example.a-b] exists", "identifier \"a\\b\"",
      "identifier \"unterminated", "/* unterminated", "true\r", "true\r\n", "identifier a.",
      "identifier a..b", "designated => true", "guest", "host", "library", "plugin",
      "true, true", "true => true", "true / true", "true @", "identifier \"\xFF\"",
      "# comment \xC0 byte\ntrue", "identifier 'single'",
      "identifier \"a\0b\""s, "true\0"s,
  };
  for (const std::string& text : rejected) {
    EXPECT_EQ(compileStatus(text), errSecCSReqInvalid) << text;
  }
}

TEST(RequirementCompile, RefusesAMissingOutput) {
  EXPECT_EQ(Requirement::compile("true", nullptr), errSecCSObjectRequired);
}

TEST(RequirementCompile, KeywordsAreCaseSensitiveAndWholeWords) {
  // A word that is not exactly a keyword is a string, which cannot stand alone.
  for (const char* text : {"True", "ALWAYS", "always.x", "anchor.apple"}) {
    EXPECT_EQ(compileStatus(text), errSecCSReqInvalid) << text;
  }
  EXPECT_EQ(compileStatus("identifier always.x"), errSecSuccess);
}

TEST(RequirementCompile, BindsNotThenAndThenOr) {
  struct Case {
    const char* text;
    bool satisfied;
  };
  const Case cases[] = {
      {"true or false and false", true},    // or(true, and(false, false))
      {"false and false or true", true},    // or(and(false, false), true)
      {"(true or false) and false", false},
      {"!true or true", true},              // or(not true, true)
      {"!(true or true)", false},
      {"!false and false", false},          // and(not false, false)
      {"!(false and false)", true},
      {"false or false or true", true},
      {"true and true and false", false},
      {"never or always", true},
      {"!!true", true},
      {"true;;", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(testing_support::compileAndEvaluate(c.text, RequirementSubject{}), c.satisfied ? errSecSuccess : errSecCSReqFailed) << c.text;
  }
}

TEST(RequirementCompile, BoundsNestingAndLength) {
  struct Case {
    std::string text;
    OSStatus status;
  };
  const Case cases[] = {
      {repeated("(", 900) + "true" + repeated(")", 900), errSecSuccess},
      {repeated("(", 1100) + "true" + repeated(")", 1100), errSecCSReqInvalid},
      {repeated("(", 100000), errSecCSReqInvalid},
      {repeated("!", 999) + "true", errSecSuccess},  // 1000 levels: the limit
      {repeated("!", 1000) + "true", errSecCSReqInvalid},
      {repeated("!", 60000) + "true", errSecCSReqInvalid},
      {"true" + repeated(" or cdhash H\"" + std::string(40, 'a') + "\"", 999), errSecSuccess},
      {"true" + repeated(" and true", 1000), errSecCSReqInvalid},
      {"true" + repeated(" or true", 5000), errSecCSReqInvalid},
      {"identifier \"" + std::string(60000, 'a') + "\"", errSecSuccess},
      {"identifier \"" + std::string(70000, 'a') + "\"", errSecCSReqInvalid},
  };
  for (const Case& c : cases) EXPECT_EQ(compileStatus(c.text), c.status) << c.text.substr(0, 40);
}

}  // namespace
}  // namespace platform::codesign
