#include "repairs.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "parse.h"

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

std::string cp1251(std::string_view utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    if (lead < 0x80) {
      out.push_back(utf8[i]);
      continue;
    }
    const unsigned code = ((lead & 0x1FU) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3FU);
    out.push_back(static_cast<char>(code == 0x401   ? 0xA8
                                    : code == 0x451 ? 0xB8
                                    : code == 0xA0  ? 0xA0
                                                    : 0xC0 + (code - 0x410)));
  }
  return out;
}

TEST(RepairsMayApply, SaysYesWhereverARepairWouldChangeASection) {
  const std::string head = "1CClientBankExchange\r\nВерсияФормата=1.03\r\n";
  const std::string open = "СекцияДокумент=Платежное поручение\r\n";
  const std::string close = "КонецДокумента\r\n";
  const struct {
    std::string body;
    bool may;
  } cases[] = {
      {open + "Сумма=1500.00\r\nПолучатель=ООО\r\nПолучатель1=ООО\r\n" + close, false},
      {open + "Сумма=1 500.00\r\n" + close, true},
      {open + "Сумма=1500,00\r\n" + close, true},
      {open + "Сумма=1\u00a0500\r\n" + close, true},
      {"СекцияРасчСчет\r\nВсегоСписано=5,0\r\nКонецРасчСчет\r\n", true},
      {open + "ПолучательСчёт=1\r\n" + close, true},
      {open + "Назначение=Пётр Ёлкин\r\n" + close, false},  // ё in values only
      {open + "Получатель1=ООО\r\n" + close, true},
      {open + "Получатель=\r\nПолучатель1=ООО\r\n" + close, true},
      {open + "Получатель=ООО\r\nПолучатель=\r\nПолучатель1=ООО\r\n" + close, true},
      {open + "Плательщик1=\r\n" + close, false},
      // The name of one document does not stand in for another's.
      {open + "Получатель=ООО\r\n" + close + open + "Получатель1=ООО\r\n" + close, true},
      {open + "НазначениеПлатежа1=а\r\n" + close, true},
      {open + "НазначениеПлатежа=а\r\nНазначениеПлатежа1=а\r\n" + close, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    const std::string text = head + c.body + "КонецФайла\r\n";
    EXPECT_EQ(repairs_may_apply(text, Encoding::Utf8), c.may);
    EXPECT_EQ(repairs_may_apply(cp1251(text), Encoding::Cp1251), c.may);
  }
}

TEST(RepairsMayChange, ReadsTheNamesOffTheDocumentsAndLooksForYoInKeys) {
  const std::string head = "1CClientBankExchange\r\nВерсияФормата=1.03\r\n";
  const std::string document =
      "СекцияДокумент=Платежное поручение\r\nНомер=1\r\nДата=01.03.2024\r\nСумма=1.00\r\n"
      "НазначениеПлатежа=Оплата\r\nПлательщикИНН=1\r\nПлательщикБИК=1\r\n"
      "ПлательщикБанк1=Б\r\nПлательщикСчет=1\r\nПолучательИНН=2\r\nПолучательСчет=2\r\n"
      "ПолучательБИК=2\r\nПолучательБанк1=Б\r\n";
  const std::string close = "КонецДокумента\r\n";
  const struct {
    std::string body;
    bool may;
  } cases[] = {
      {document + "Получатель=ООО\r\n" + close, false},
      {document + "Получатель=ООО\r\nПлательщик1=АО\r\nПлательщик=АО\r\n" + close, false},
      {document + "Получатель=ООО\r\nКомментарий=Пётр\r\n" + close, false},  // ё in a value
      {document + close, true},                                              // no payee
      {document + "Получатель=\r\n" + close, true},
      {document + "Получатель=ООО\r\nПлательщик1=АО\r\n" + close, true},
      {document + "Получатель=ООО\r\nКомментарийЁ=1\r\n" + close, true},
      {document + "Получатель=ООО\r\nСумма=1,00\r\n" + close, true},  // dropped: a warning
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    for (const bool windows : {false, true}) {
      const std::string text =
          windows ? cp1251(head + c.body + "КонецФайла\r\n") : head + c.body + "КонецФайла\r\n";
      auto statement = parse(text, {});
      ASSERT_TRUE(statement.has_value());
      EXPECT_EQ(statement.value().encoding, windows ? Encoding::Cp1251 : Encoding::Utf8);
      EXPECT_EQ(repairs_may_change(statement.value(), text), c.may);
    }
  }
}

}  // namespace
}  // namespace tarvik::columns
