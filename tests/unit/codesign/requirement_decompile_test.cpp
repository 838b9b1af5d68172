// Writing a compiled requirement back as text: every construct the compiler
// knows comes back as text that compiles to the same tree, with parentheses
// only where the tree needs them; what cannot be written fails with a status.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "codesign/Requirement.h"
#include "codesign/Status.h"
#include "codesign/requirement/Date.h"
#include "codesign/requirement/Decompile.h"
#include "codesign/requirement/Expression.h"

namespace codesign {
namespace {

using requirement::Expression;
using requirement::ExpressionPtr;

// The text of a requirement compiled from `source`, or the failing status.
std::string decompiled(const std::string& source) {
  RequirementRef compiled;
  if (const OSStatus status = Requirement::compile(source, &compiled); status != errSecSuccess) {
    return "compile " + std::to_string(status);
  }
  std::string text;
  if (const OSStatus status = compiled->text(&text); status != errSecSuccess) {
    return "text " + std::to_string(status);
  }
  return text;
}

const std::string kHash = "H\"611e5b662c593a08ff58d14ae22452d198df6c60\"";

// Each row: what a user may write, and the one text it is written back as.
// The written text must compile to a tree that is written the same way again.
TEST(RequirementDecompile, WritesEveryConstructBackAsTextThatCompilesToTheSameTree) {
  const std::pair<std::string, std::string> rows[] = {
      {"true", "always"},
      {"false", "never"},
      {"identifier com.example.app", "identifier \"com.example.app\""},
      {"identifier == Helper2", "identifier Helper2"},
      {"identifier \"always\"", "identifier \"always\""},
      {"identifier \"say \\\"hi\\\"\"", "identifier \"say \\\"hi\\\"\""},
      {"identifier \"\"", "identifier \"\""},
      {"cdhash " + kHash, "cdhash " + kHash},
      {"cdhash H\"611E5B662C593A08FF58D14AE22452D198DF6C60\"", "cdhash " + kHash},
      {"platform = 2", "platform 2"},
      {"anchor apple", "anchor apple"},
      {"anchor generic apple", "anchor apple generic"},
      {"anchor = " + kHash, "certificate root = " + kHash},
      {"cert 2 " + kHash, "certificate 2 = " + kHash},
      {"certificate -3 = " + kHash, "certificate -3 = " + kHash},
      {"certificate leaf[extension.1.2.840.113635.100.6.1.13]",
       "certificate leaf[field.1.2.840.113635.100.6.1.13] /* exists */"},
      {"certificate 1[field.2.5.29.19] absent", "certificate 1[field.2.5.29.19] absent"},
      {"certificate leaf[policy.1.2.3] exists", "certificate leaf[policy.1.2.3] /* exists */"},
      {"anchor[subject.CN] = \"Apple Root CA\"", "certificate root[subject.CN] = \"Apple Root CA\""},
      {"certificate leaf[subject.OU] = Q7MK2RX5VN", "certificate leaf[subject.OU] = Q7MK2RX5VN"},
      {"certificate leaf[subject.OU] = \"97JCY7859U\"", "certificate leaf[subject.OU] = \"97JCY7859U\""},
      {"certificate leaf[\"subject.C-OU\"] = x", "certificate leaf[\"subject.C-OU\"] = x"},
      {"certificate leaf[timestamp.1.2.3] < timestamp \"20200101000000Z\"",
       "certificate leaf[timestamp.1.2.3] < timestamp \"20200101000000Z\""},
      {"info[CFBundleVersion] >= \"1.10\"", "info[CFBundleVersion] >= \"1.10\""},
      {"info[\"key with space\"] = \"v\"*", "info[\"key with space\"] = v*"},
      {"info[k] = *\"v w\"", "info[k] = *\"v w\""},
      {"info[k] = *v*", "info[k] ~ v"},
      {"info[k] <= v", "info[k] <= v"},
      {"info[k] > v", "info[k] > v"},
      {"info[k] < v", "info[k] < v"},
      {"info[k] = 0x414243", "info[k] = ABC"},
      {"info[k] = 0x5c00ff", "info[k] = 0x5c00ff"},
      {"info[\"and\"] exists", "info[\"and\"] /* exists */"},
      {"info[k] = timestamp \"20000229235959Z\"", "info[k] = timestamp \"20000229235959Z\""},
      {"info[k] > timestamp \"19691231000000Z\"", "info[k] > timestamp \"19691231000000Z\""},
      {"info[k] <= timestamp \"00000101000000Z\"", "info[k] <= timestamp \"00000101000000Z\""},
      {"info[k] >= timestamp \"99991231235959Z\"", "info[k] >= timestamp \"99991231235959Z\""},
      {"entitlement[com.example.flag] = \"true\"", "entitlement[com.example.flag] = \"true\""},
      {"notarized", "notarized"},
      {"legacy", "legacy"},
      {"certificate 1 trusted", "certificate trusted"},
      {"anchor trusted", "certificate trusted"},
      // Operators: `!` binds tightest, then `and`, then `or`, both to the left.
      {"always and never or always", "always and never or always"},
      {"always and (never or always)", "always and (never or always)"},
      {"(always or never) and always", "(always or never) and always"},
      {"always or (never or always)", "always or (never or always)"},
      {"(always or never) or always", "always or never or always"},
      {"always and (never and always)", "always and (never and always)"},
      {"always or never and always", "always or never and always"},
      {"!(always and never)", "!(always and never)"},
      {"!(always or never)", "!(always or never)"},
      {"! ! always", "!!always"},
      {"!always and never", "!always and never"},
      {"anchor apple generic and identifier \"com.example.helper\" and (certificate "
       "leaf[field.1.2.840.113635.100.6.1.9] or certificate 1[field.1.2.840.113635.100.6.2.6] and "
       "certificate leaf[field.1.2.840.113635.100.6.1.13] and certificate leaf[subject.OU] = "
       "\"ABCDE12345\")",
       "anchor apple generic and identifier \"com.example.helper\" and (certificate "
       "leaf[field.1.2.840.113635.100.6.1.9] /* exists */ or certificate "
       "1[field.1.2.840.113635.100.6.2.6] /* exists */ and certificate "
       "leaf[field.1.2.840.113635.100.6.1.13] /* exists */ and certificate leaf[subject.OU] = "
       "ABCDE12345)"},
  };
  for (const auto& [source, expected] : rows) {
    const std::string text = decompiled(source);
    EXPECT_EQ(text, expected) << source;
    if (text == expected && text.rfind("compile ", 0) != 0) {
      EXPECT_EQ(decompiled(text), text) << "written again: " << source;
    }
  }
}

TEST(RequirementDecompile, RefusesWhatTheTreeNoLongerHolds) {
  EXPECT_EQ(decompiled("anchor apple someanchor"), "text " + std::to_string(errSecCSReqUnsupported));
  EXPECT_EQ(decompiled("always and (named.requirement)"),
            "text " + std::to_string(errSecCSReqUnsupported));
}

ExpressionPtr leaf(requirement::Node node) {
  return std::make_unique<Expression>(Expression{std::move(node), 1});
}

// Trees no text could have made: the decompiler refuses them rather than
// write text that compiles to something else.
TEST(RequirementDecompile, FailsClosedOnTreesNoTextMakes) {
  std::string text = "unchanged";
  const auto status = [&](ExpressionPtr e) { return requirement::decompile(*e, &text); };

  EXPECT_EQ(status(leaf(requirement::Identifier{"a\\b"})), errSecCSReqInvalid);
  EXPECT_EQ(status(leaf(requirement::Identifier{std::string("a\0b", 3)})), errSecCSReqInvalid);
  EXPECT_EQ(status(leaf(requirement::PropertyListField{
                requirement::PropertyListField::Source::InfoPlist, "k\xF5", {}})),
            errSecCSReqInvalid);
  requirement::Match date{requirement::MatchOperation::On, {}, 253402300800};
  EXPECT_EQ(status(leaf(requirement::PropertyListField{
                requirement::PropertyListField::Source::Entitlements, "k", date})),
            errSecCSReqInvalid);
  date.date = -62167219201;
  EXPECT_EQ(status(leaf(requirement::PropertyListField{
                requirement::PropertyListField::Source::Entitlements, "k", date})),
            errSecCSReqInvalid);
  EXPECT_EQ(text, "unchanged");

  // One level over the limit fails; the limit itself is written.
  ExpressionPtr chain = leaf(requirement::Constant{true});
  for (unsigned depth = 2; depth <= requirement::kMaxExpressionDepth; ++depth) {
    chain = std::make_unique<Expression>(Expression{requirement::Not{std::move(chain)}, depth});
  }
  EXPECT_EQ(requirement::decompile(*chain, &text), errSecSuccess);
  EXPECT_EQ(text, std::string(requirement::kMaxExpressionDepth - 1, '!') + "always");
  chain = std::make_unique<Expression>(
      Expression{requirement::Not{std::move(chain)}, requirement::kMaxExpressionDepth + 1});
  EXPECT_EQ(requirement::decompile(*chain, &text), errSecCSReqInvalid);
}

TEST(RequirementDecompile, FormatsDatesAsTheLanguageReadsThem) {
  const std::pair<std::int64_t, std::string> rows[] = {
      {0, "19700101000000Z"},           {951868799, "20000229235959Z"},
      {-1, "19691231235959Z"},          {-62167219200, "00000101000000Z"},
      {253402300799, "99991231235959Z"}, {4107628800, "21000302000000Z"},
  };
  for (const auto& [seconds, text] : rows) {
    EXPECT_EQ(requirement::formatGeneralizedTime(seconds), text) << seconds;
    EXPECT_EQ(requirement::parseGeneralizedTime(text), seconds) << text;
  }
  EXPECT_EQ(requirement::formatGeneralizedTime(253402300800), std::nullopt);
  EXPECT_EQ(requirement::formatGeneralizedTime(-62167219201), std::nullopt);
}

}  // namespace
}  // namespace codesign
