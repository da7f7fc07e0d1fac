#include "line_check.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "fixtures.h"
#include "whole_text.h"

namespace tarvik {
namespace {

TEST(FirstUnrecognizedLine, FindsTheFirstLineThatFitsNoForm) {
  const std::string long_line(100, 'x');
  const struct {
    std::string_view what;
    std::string text;
    std::optional<UnrecognizedLine> want;
  } cases[] = {
      {"none", "a=1\r\nКонецФайла\r\n\r\n", std::nullopt},
      {"empty text", "", std::nullopt},
      {"the first of two", "a=1\r\n\r\nbad\r\nworse\r\n", UnrecognizedLine{3, "bad"}},
      {"a carriage return goes only with a line feed", "a=1\r\nb=2\r\n\r\nКонецФайла\r\r\n",
       UnrecognizedLine{4, "КонецФайла\r"}},
      {"final line without line feed", "a=1\r\nx", UnrecognizedLine{2, "x"}},
      {"final carriage return kept", "a=1\r\nКонецФайла\r", UnrecognizedLine{2, "КонецФайла\r"}},
      {"keywords and blank lines", "1CClientBankExchange\n \t\n\nСекцияРасчСчет\nКонецФайла",
       std::nullopt},
      {"a keyword with a space is not one", "КонецФайла \n", UnrecognizedLine{1, "КонецФайла "}},
      {"an equals sign anywhere makes an attribute", "=\nкак угодно = так\n", std::nullopt},
      // Lines that straddle the blocks the walk takes at a time.
      {"long lines", long_line + "=\n" + long_line + "\n", UnrecognizedLine{2, long_line}},
      {"equals sign in the block before the line feed", long_line + "=" + long_line + "\n",
       std::nullopt},
      {"sixteen-byte lines", "0123456789abcd=\n0123456789abcde\n",
       UnrecognizedLine{2, "0123456789abcde"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(first_unrecognized_line(c.text, Encoding::Utf8), c.want);
    // The same found by lexing every line.
    const auto tokens = testing::lex(c.text);
    EXPECT_EQ(tokens ? std::nullopt : std::optional<UnrecognizedLine>(tokens.error()), c.want);
    // In windows-1251 the line is found in the bytes and reported decoded.
    const std::string cp1251 = testing::to_cp1251(c.text);
    EXPECT_EQ(first_unrecognized_line(cp1251, Encoding::Cp1251), c.want);
  }
  // A no-break space is blank in either encoding.
  EXPECT_EQ(first_unrecognized_line("a=1\n\u00a0\t\n", Encoding::Utf8), std::nullopt);
  EXPECT_EQ(first_unrecognized_line("a=1\n\xA0\t\n", Encoding::Cp1251), std::nullopt);
  EXPECT_EQ(first_unrecognized_line("a=1\n\xA0\xC0\n", Encoding::Cp1251),
            (UnrecognizedLine{2, "\u00a0А"}));
}

}  // namespace
}  // namespace tarvik
