#include "repairs.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace tarvik::columns {
namespace {

TEST(PlainAmount, TakesGroupedAmountsAndDecimalCommasOnly) {
  using Kind = PlainAmount::Kind;
  const struct {
    std::string_view text;
    Kind kind;
    std::string_view plain;
  } cases[] = {
      {"15 000,00", Kind::Changed, "15000.00"},
      {"15000,00", Kind::Changed, "15000.00"},
      {"-1 234 567.5", Kind::Changed, "-1234567.5"},
      {"+1\u00a0000", Kind::Changed, "+1000"},
      {"1\u202f000,5", Kind::Changed, "1000.5"},
      {"15000.00", Kind::Unchanged, ""},     // plain already
      {"1,000.00", Kind::Unchanged, ""},     // the comma may group thousands
      {"1234 567,00", Kind::Unchanged, ""},  // a first group of four digits
      {"1 23,00", Kind::Unchanged, ""},      // a group of two
      {"1 2345", Kind::Unchanged, ""},       // a group of four
      {"1 000,", Kind::Unchanged, ""},       // a point without digits
      {",5", Kind::Unchanged, ""},           // no whole part
      {"1 000,00 ", Kind::Unchanged, ""},    // a space after
      {"12,5", Kind::Changed, "12.5"},
      {"1 000 руб", Kind::Undecided, ""},       // letters: only Python's \d can say
      {"\u0661\u0662,5", Kind::Undecided, ""},  // Arabic-Indic digits
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const PlainAmount out = plain_amount(c.text);
    EXPECT_EQ(out.kind, c.kind);
    EXPECT_EQ(out.text, c.plain);
  }
}

TEST(PythonStrip, StripsWhatStrIsspaceNames) {
  const struct {
    std::string_view text;
    std::string_view stripped;
  } cases[] = {
      {"  a b  ", "a b"},
      {"\t\r\n\v\fa\x1c\x1d\x1e\x1f", "a"},
      {"\u00a0\u2003a\u3000\u202f", "a"},
      {"\u200ba\u200b", "\u200ba\u200b"},  // zero width space is no space to Python
      {"\u0085a\u2028", "a"},
      {" \u00a0 ", ""},
      {"я", "я"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(python_strip(c.text), c.stripped);
  }
}

std::vector<std::string> edit_keys(const std::vector<Edit>& edits) {
  std::vector<std::string> out;
  for (const Edit& e : edits) {
    out.push_back(std::string(name(e.repair)) + " " + std::to_string(e.section) + " " + e.key +
                  " <- " + e.source + " = " + e.value);
  }
  return out;
}

TEST(NativeRepairs, RepairInTheOrderOfTheShippedHooksAndCountSections) {
  NativeRepairs repairs;
  AttrMap header;
  AttrMap account{{"ВсегоПоступило", "1 000,00"}, {"РасчСчёт", "1"}};
  EXPECT_EQ(repairs.call(SectionType::Account, account, header).kind, HookOutcome::Kind::Continue);
  EXPECT_EQ(account, (AttrMap{{"ВсегоПоступило", "1000.00"}, {"РасчСчет", "1"}}));

  AttrMap document{{"Получатель", ""},
                   {"Получатель1", "ООО «Ёлка»"},
                   {"НазначениеПлатежа2", " б "},
                   {"НазначениеПлатежа1", "а"},
                   {"Сумма", "5,5"}};
  repairs.call(SectionType::Document, document, header);
  EXPECT_EQ(*document.find("Получатель"), "ООО «Ёлка»");
  EXPECT_EQ(*document.find("НазначениеПлатежа"), "а б");
  EXPECT_EQ(*document.find("Сумма"), "5.5");
  EXPECT_EQ(edit_keys(repairs.edits()),
            (std::vector<std::string>{
                "yo_in_keys 0 РасчСчет <- РасчСчёт = РасчСчет",
                "comma_amounts 0 ВсегоПоступило <- ВсегоПоступило = 1000.00",
                "names_from_numbered 1 Получатель <- Получатель1 = ООО «Ёлка»",
                "purpose_from_numbered 1 НазначениеПлатежа <- НазначениеПлатежа1 = а б",
                "comma_amounts 1 Сумма <- Сумма = 5.5",
            }));
  EXPECT_FALSE(repairs.undecided());
}

}  // namespace
}  // namespace tarvik::columns
