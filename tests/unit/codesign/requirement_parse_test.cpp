// Compiling requirement text: what the language accepts, what it refuses,
// how its operators bind, and the limits that keep hostile text bounded.

#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "RequirementTesting.h"
#include "codesign/Requirement.h"
#include "codesign/Status.h"
#include "codesign/requirement/Lexer.h"

namespace codesign {
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

const std::string kHash = "H\"611e5b662c593a08ff58d14ae22452d198df6c60\"";

// Hex runs reach the parser even (the lexer sees to it), so its pair loop's
// bound has no row; nor has a look-ahead past the end, which is never made.
TEST(RequirementCompile, AcceptsTheLanguage) {
  const std::string accepted[] = {
      "always", "never", "true ;;", "anchor apple", "anchor apple generic", "anchor apple someanchor",
      "anchor " + kHash, "cert 2 == " + kHash, "certificate -0[subject.O]", "certificate leaf[\"subject.C-OU\"] = foo",
      "cert 1[field.1.2.840.113635.100.6.2.6]", "certificate leaf[extension.2.5.29.19] absent",
      "certificate leaf[policy.1.2.3]", "certificate leaf[timestamp.1.2.3] < timestamp \"20200101000000Z\"",
      "certificate 1 trusted", "identifier == \"x\"", "identifier com.example.zZ", "identifier \"\xF4\x8F\xBF\xBF\"", "platform = 2", "(named.requirement)",
      "info[\"key with space\"] = \"v\"*", "info[k] = *\"v\"", "info[k] ~ v", "info[k] = 0x414243 or always", "info[k] <= v",
      "info[k] >= timestamp \"20000229000000Z\"", "entitlement[com.example.flag] exists", "! ( true )",
      "# comment\ntrue // another\n/* block\n comment */ and true", "identifier \"a\\\"b\"",
      "identifier \"caf\xC3\xA9\"", "identifier always.x", "certificate leaf[field.1.39]", "identifier Apple",
      "/* a * b / c */ certificate leaf[field.1.2.1234567890123456789]", "certificate leaf[field.2.999.0]",
      "cdhash H\"611E5B662C593A08FF58D14AE22452D198DF6C6F\" or always",
  };
  for (const std::string& text : accepted) EXPECT_EQ(compileStatus(text), errSecSuccess) << text;
}

TEST(RequirementCompile, RefusesMalformedText) {
  using namespace std::string_literals;
  const std::string rejected[] = {
      "", ";", "true true", "true and", "or true", "(true", "true)", "()", "!", "anchor",
      "anchor apple generic generic", "anchor generic", "anchor \"/path/to/cert\"", "certificate leaf = \"file\"",
      "certificate 1", "certificate leaf[]", "certificate leaf[email] exists", "certificate leaf[foo.bar]",
      "certificate leaf[field.1]", "certificate leaf[field.3.1]", "certificate leaf[field.1.40]",
      "certificate leaf[field.1.02]", "certificate leaf[\"field.1.2.3a\"]", "certificate leaf[\"field.1.2.\"]", "certificate leaf[field.10.1]", "certificate leaf[field.1.2.12345678901234567890]", "certificate leaf[subject.CN",
      "certificate 2147483648 = " + kHash, "certificate - leaf = " + kHash, "cdhash H\"611e5b66\"",
      "cdhash H\"611e5b662c593a08ff58d14ae22452d198df6c6\"", "cdhash H\"zz1e5b662c593a08ff58d14ae22452d198df6c60\"",
      "platform x", "platform 4294967296", "identifier 12", "info k exists", "info[k] = *", "info[k] = 0x414",
      "info[k] = timestamp \"2021\"", "info[k] = timestamp \"20211301000000Z\"", "info[k] = * * v",
      "entitlement[com.example.a-b] exists", "identifier \"a\\b\"", "identifier \"unterminated", "/* unterminated",
      "true\r\n", "identifier a.", "identifier a..b", "designated => true", "library", "true, true",
      "identifier \"\xFF\"", "# comment \xC0 byte\ntrue", "identifier 'single'", "identifier \"a\0b\""s, "true\0"s,
      "True", "always.x",  // a word that is not exactly a keyword is a string, which cannot stand alone
  };
  for (const std::string& text : rejected) EXPECT_EQ(compileStatus(text), errSecCSReqInvalid) << text;
}

TEST(RequirementCompile, BindsNotThenAndThenOr) {
  const std::pair<const char*, bool> cases[] = {
      {"true or false and false", true},  {"false and false or true", true}, {"(true or false) and false", false},
      {"!true or true", true},            {"!false and false", false},       {"!(false and false)", true},
      {"false or false or true", true},   {"true and true and false", false},
  };
  for (const auto& [text, satisfied] : cases)
    EXPECT_EQ(testing_support::compileAndEvaluate(text, RequirementSubject{}),
              satisfied ? errSecSuccess : errSecCSReqFailed) << text;
}

TEST(RequirementCompile, BoundsNestingAndLength) {
  const std::pair<std::string, OSStatus> cases[] = {
      {repeated("(", 900) + "true" + repeated(")", 900), errSecSuccess},
      {repeated("(", 1100) + "true" + repeated(")", 1100), errSecCSReqInvalid},
      {repeated("!", 999) + "true", errSecSuccess},  // 1000 levels: the limit
      {repeated("!", 1000) + "true", errSecCSReqInvalid},
      {"true" + repeated(" or cdhash " + kHash, 999), errSecSuccess},
      {"true" + repeated(" and true", 1000), errSecCSReqInvalid},
      {"!(true" + repeated(" and true", 999) + ")", errSecCSReqInvalid},  // '!' adds a level to what it negates
      {"identifier \"" + std::string(requirement::kMaxRequirementText - 13, 'a') + "\"", errSecSuccess},
      {"identifier \"" + std::string(requirement::kMaxRequirementText - 12, 'a') + "\"", errSecCSReqInvalid},
  };
  for (const auto& [text, status] : cases) EXPECT_EQ(compileStatus(text), status) << text.substr(0, 40);
}

}  // namespace
}  // namespace codesign
