#include <errno.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "platform/Error.h"
#include "platform/Format.h"
#include "platform/Text.h"

namespace platform {
namespace {

TEST(Format, DirectivesAndEdgeCases) {
  const std::optional<std::string> missingText;
  const std::optional<Error> missingError;
  const char* nullText = nullptr;
  struct Case {
    std::string rendered;
    std::string expected;
  } cases[] = {
      {format("%@ and %s", "text", std::string("more")), "text and more"},
      {format("%d %d", -5, std::int32_t{2147483647}), "-5 2147483647"},
      {format("%o", std::uint64_t{04755}), "4755"},
      {format("%o", 0), "0"},
      {format("%o", std::numeric_limits<std::uint64_t>::max()), "1777777777777777777777"},
      {format("%@ / %@", 42, std::uint64_t{18446744073709551615u}), "42 / 18446744073709551615"},
      {format("100%%"), "100%"},
      {format("%@|%@", missingText, missingError), "(null)|(null)"},
      {format("%s", nullText), "(null)"},
      // Inserted text is never read as a format again.
      {format("path %@ (%@)", "/tmp/%d%@%%", "x"), "path /tmp/%d%@%% (x)"},
      // Fewer arguments than directives: the rest insert nothing.
      {format("%@, %@ and %d", "one"), "one,  and "},
      // More arguments than directives: the rest are ignored.
      {format("%@", "one", "two"), "one"},
      // Unknown directives stay as written and take no argument.
      {format("%x %@ %", "a"), "%x a %"},
      // A number for a text directive prints as a number; a text for a
      // number directive counts as 0.
      {format("%d %o", "text", "text"), "0 0"},
      {format("%@", Error::posix(ENOENT)), "Error Domain=NSPOSIXErrorDomain Code=2 \"No such file or directory\""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.rendered, c.expected);
}

// Rows probe the edges of the table's runs: where one starts and ends, the
// unmapped code point inside one, the other half of a pair, and beyond the
// Basic Multilingual Plane.
TEST(Text, LowercaseIsTheSimpleUnicodeMapping) {
  const std::pair<std::string, std::string> table[] = {
      {"@AZ[`az{", "@az[`az{"},
      {"\u00C0\u00D6\u00D7\u00D8\u00DE\u00DF", "\u00E0\u00F6\u00D7\u00F8\u00FE\u00DF"},  // À Ö × Ø Þ ß
      {"\u0100\u0101\u012E\u0130\u0178", "\u0101\u0101\u012Fi\u00FF"},             // Ā ā Į İ Ÿ
      {"\u03A3\u0399\u0345\u212A\u2126\u216B\u24CF", "\u03C3\u03B9\u0345k\u03C9\u217B\u24E9"},
      {"\U00010400\U00010427\U00010428\U0001E921\U0001F600", "\U00010428\U0001044F\U00010428\U0001E943\U0001F600"},
      {"\xEF\xBF\xBD\xFF\xC3", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& [text, lower] : table) EXPECT_EQ(lowercaseString(text), lower) << text;
}

TEST(Text, InvalidUTF8BecomesOneReplacementPerByte) {
  const std::pair<std::string, std::string> table[] = {
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
      {"\xC2\x80\xE0\xA0\x80\xF0\x90\x80\x80", "\u0080\u0800\U00010000"},  // the least of each length
      {"\xC0\xAF", "\uFFFD\uFFFD"},              // overlong "/"
      {"\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},    // a surrogate
      {"\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"a\xE2\x82", "a\uFFFD\uFFFD"},            // cut short
  };
  for (const auto& [bytes, text] : table) EXPECT_EQ(validUTF8(bytes), text) << bytes;
}

}  // namespace
}  // namespace platform
