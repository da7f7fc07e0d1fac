#include "quoted_text.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace tarvik {
namespace {

TEST(Quote, EscapesWhatWouldNotReadBack) {
  const struct {
    std::string_view text;
    std::string_view want;
  } cases[] = {
      {"", R"("")"},
      {"abc 123", R"("abc 123")"},
      {std::string_view("a\0b", 3), R"("a\0b")"},
      {"\t\r\n", R"("\t\r\n")"},
      {"\\", R"("\\")"},
      {"\"", R"("\"")"},
      {"'", R"("'")"},  // single quotes are left alone
      {"Привет, мир", R"("Привет, мир")"},
      {"ПлательщикИНН=7701", R"("ПлательщикИНН=7701")"},
      {"€ ✓ 😀 \uFFFD", "\"€ ✓ 😀 \uFFFD\""},  // a well-formed U+FFFD prints as itself
      // Combining marks (Grapheme_Extend), printable or not.
      {"e\u0301", R"("e\u{301}")"},
      {"\u0483", R"("\u{483}")"},
      {"\u200C", R"("\u{200c}")"},
      {"\U000E0020", R"("\u{e0020}")"},
      // Characters that do not print, by general category.
      {"\u00A0", R"("\u{a0}")"},    // Zs other than the space
      {"\u3000", R"("\u{3000}")"},  // Zs
      {"\x7F", R"("\u{7f}")"},      // Cc
      {"\x01\x1B\x0B", R"("\u{1}\u{1b}\u{b}")"},
      {"\u0085", R"("\u{85}")"},  // Cc beyond ASCII
      {"\u00AD", R"("\u{ad}")"},  // Cf
      {"\u200B\uFEFF", R"("\u{200b}\u{feff}")"},
      {"\u2028\u2029", R"("\u{2028}\u{2029}")"},  // Zl, Zp
      {"\uE000", R"("\u{e000}")"},                // Co
      {"\u0378", R"("\u{378}")"},                 // Cn: unassigned
      {"\U0010FFFF", R"("\u{10ffff}")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.want);
    EXPECT_EQ(quote(c.text), c.want);
  }
}

TEST(Quote, ReplacesEachIllFormedSubpart) {
  const struct {
    std::string_view text;
    std::string_view want;
  } cases[] = {
      {"\x80", R"("\u{fffd}")"},
      {"a\xFF"
       "b",
       R"("a\u{fffd}b")"},
      {"\xE2\x82"
       "A",
       R"("\u{fffd}A")"},  // a truncated sequence is one unit
      {"\xF0\x9F\x98", R"("\u{fffd}")"},
      {"\xC0\xAF", R"("\u{fffd}\u{fffd}")"},                          // overlong
      {"\xED\xA0\x80", R"("\u{fffd}\u{fffd}\u{fffd}")"},              // a surrogate
      {"\xF4\x90\x80\x80", R"("\u{fffd}\u{fffd}\u{fffd}\u{fffd}")"},  // past U+10FFFF
      {"\xCF\xF0\xE8\xE2\xE5\xF2", R"("\u{fffd}\u{fffd}\u{fffd}\u{fffd}\u{fffd}\u{fffd}")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.want);
    EXPECT_EQ(quote(c.text), c.want);
  }
}

TEST(Quote, AppendsToWhatIsThere) {
  std::string out = "key=";
  append_quoted(out, "a\"b");
  EXPECT_EQ(out, R"(key="a\"b")");
}

}  // namespace
}  // namespace tarvik
