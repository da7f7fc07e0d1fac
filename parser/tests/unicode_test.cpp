#include "unicode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

namespace tarvik {
namespace {

TEST(IsWhiteSpace, MatchesExactlyTheWhiteSpaceProperty) {
  constexpr char32_t kWhiteSpace[] = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                                      0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                      0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                                      0x2029, 0x202F, 0x205F, 0x3000};
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    const bool want =
        std::find(std::begin(kWhiteSpace), std::end(kWhiteSpace), c) != std::end(kWhiteSpace);
    if (is_white_space(c) != want) {
      ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned>(c);
    }
  }
}

TEST(CharacterProperties, SampleCodePoints) {
  const struct {
    char32_t c;
    bool grapheme_extend;
    bool printable;
  } cases[] = {
      {U'a', false, true},    {U' ', false, true},      {U'~', false, true},
      {0x00, false, false},   {0x1F, false, false},     {0x7F, false, false},
      {0x9F, false, false},   {0xA0, false, false},  // Zs
      {0xA1, false, true},    {0xAD, false, false},  // Cf
      {0x2FF, false, true},   {0x300, true, true},   // Mn
      {0x301, true, true},    {0x36F, true, true},      {0x370, false, true},
      {0x378, false, false},                           // Cn
      {0x410, false, true},                            // А
      {0x483, true, true},    {0x488, true, true},     // Me
      {0x200B, false, false}, {0x200C, true, false},   // Cf and Grapheme_Extend
      {0x200D, false, false}, {0x2028, false, false},  // Zl
      {0x2029, false, false},                          // Zp
      {0x3000, false, false}, {0xD800, false, false},  // Cs
      {0xE000, false, false},                          // Co
      {0xFEFF, false, false}, {0xFF9E, true, true},    // Lm, yet Grapheme_Extend
      {0xFFFD, false, true},  {0xFFFF, false, false},   {0x1F600, false, true},
      {0xE0020, true, false}, {0x10FFFF, false, false}, {0x110000, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "U+" << std::hex << static_cast<unsigned>(c.c));
    EXPECT_EQ(is_grapheme_extend(c.c), c.grapheme_extend);
    EXPECT_EQ(is_printable(c.c), c.printable);
  }
}

TEST(DecodeUtf8, TakesMaximalSubpartsOfIllFormedInput) {
  const struct {
    std::string_view text;
    char32_t code;
    std::size_t length;
  } cases[] = {
      {"A", U'A', 1},
      {std::string_view("\0", 1), 0, 1},
      {"\x7F", 0x7F, 1},
      {"\xC2\x80", 0x80, 2},
      {"\xDF\xBF", 0x7FF, 2},
      {"\xE0\xA0\x80", 0x800, 3},
      {"\xED\x9F\xBF", 0xD7FF, 3},
      {"\xEE\x80\x80", 0xE000, 3},
      {"\xEF\xBF\xBF", 0xFFFF, 3},
      {"\xF0\x90\x80\x80", 0x10000, 4},
      {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4},
      {"\xD0\x9F\xD1\x80", 0x41F, 2},  // stops after the first character
      {"\x80", kInvalidUtf8, 1},
      {"\xBF\x80", kInvalidUtf8, 1},
      {"\xC0\x80", kInvalidUtf8, 1},
      {"\xC1\xBF", kInvalidUtf8, 1},
      {"\xC2", kInvalidUtf8, 1},
      {"\xC2"
       "A",
       kInvalidUtf8, 1},
      {"\xE0\x9F\x80", kInvalidUtf8, 1},
      {"\xED\xA0\x80", kInvalidUtf8, 1},
      {"\xE1\x80", kInvalidUtf8, 2},
      {"\xE1\x80"
       "A",
       kInvalidUtf8, 2},
      {"\xF0\x8F\x80\x80", kInvalidUtf8, 1},
      {"\xF0\x90\x80", kInvalidUtf8, 3},
      {"\xF0\x90\x80"
       "A",
       kInvalidUtf8, 3},
      {"\xF4\x90\x80\x80", kInvalidUtf8, 1},
      {"\xF5\x80\x80\x80", kInvalidUtf8, 1},
      {"\xFF", kInvalidUtf8, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    const Utf8Char got = decode_utf8(c.text);
    EXPECT_EQ(got.code, c.code);
    EXPECT_EQ(got.length, c.length);
  }
}

TEST(WhiteSpacePrefix, MeasuresOneCharacter) {
  const struct {
    std::string_view text;
    std::size_t want;
  } cases[] = {
      {"", 0},
      {"x ", 0},
      {"  ", 1},
      {"\t1", 1},
      {"\u0085", 2},
      {"\u00A0x", 2},
      {"\u3000\u3000", 3},
      {"\u202F", 3},
      {"\u200B", 0},  // ZERO WIDTH SPACE is
                      // not White_Space
      {"\xC2", 0},    // truncated U+00A0
      {"\xE3\x80", 0},
      {"\xC2\x20", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(white_space_prefix(c.text), c.want);
  }
}

TEST(IsBlank, AcceptsOnlyWhiteSpace) {
  const struct {
    std::string_view text;
    bool want;
  } cases[] = {
      {"", true},
      {" ", true},
      {"\t\n\v\f\r ", true},
      {"\u0085\u00A0\u1680\u2000\u200A\u2028\u2029\u202F\u205F\u3000", true},
      {" x ", false},
      {"   .", false},
      {"\u200B", false},
      {std::string_view("\0", 1), false},
      {" \xC2", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(is_blank(c.text), c.want);
  }
}

TEST(UnicodeVersion, NamesTheDatabase) {
  const std::string_view version = unicode_version();
  EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 2) << version;
}

}  // namespace
}  // namespace tarvik
