#include "repairs.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "native_hook_adapter.h"
#include "parse.h"
#include "recording.h"

namespace tarvik::columns {
namespace {

// Windows-1251 bytes of UTF-8 text made of ASCII, Cyrillic letters and the no-break space.
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

TEST(PlainAmount, TakesGroupedAmountsAndDecimalCommasOnly) {
  const struct {
    std::string_view text;
    std::optional<std::string_view> plain;
  } cases[] = {
      {"15 000,00", "15000.00"},
      {"15000,00", "15000.00"},
      {"-1 234 567.5", "-1234567.5"},
      {"+1\u00a0000", "+1000"},
      {"1\u202f000,5", "1000.5"},
      {"12,5", "12.5"},
      {"15000.00", std::nullopt},     // plain already
      {"1,000.00", std::nullopt},     // the comma may group thousands
      {"1234 567,00", std::nullopt},  // a first group of four digits
      {"1 23,00", std::nullopt},      // a group of two
      {"1 2345", std::nullopt},       // a group of four
      {"1 000,", std::nullopt},       // a point without digits
      {",5", std::nullopt},           // no whole part
      {"1 000,00 ", std::nullopt},    // a space after
      {"1 000 руб", std::nullopt},    // letters
      // Digits of other scripts are digits to Python's \d, and are kept as written.
      {"\u0661\u0662,\u0665", "\u0661\u0662.\u0665"},
      {"\u0661 \u0662\u0663\u0664", "\u0661\u0662\u0663\u0664"},
      {"\u0661 \u0662\u0663", std::nullopt},  // a group of two
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(plain_amount(c.text), c.plain);
    if (c.text.find("\u0661") == std::string_view::npos &&
        c.text.find("\u202f") == std::string_view::npos) {
      // In Windows-1251 bytes the same rule gives the same digits.
      EXPECT_EQ(plain_amount(cp1251(c.text), Encoding::Cp1251), c.plain);
    }
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
  EXPECT_EQ(python_strip(cp1251("\u00a0 я б \t"), Encoding::Cp1251), cp1251("я б"));
}

std::vector<std::string> described(const ChangeLog& log) {
  std::vector<std::string> out;
  std::string room;
  for (std::size_t i = 0; i < log.size(); ++i) {
    const Change c = log.at(i, room);
    out.push_back(std::to_string(c.lineno) + " " + std::string(name(c.repair)) + ": " +
                  message(c).value_or("?"));
  }
  return out;
}

const std::string kStatement =
    "1CClientBankExchange\r\n"
    "ВерсияФормата=1.03\r\n"
    "СекцияРасчСчет\r\n"
    "ДатаНачала=01.03.2024\r\n"
    "РасчСчёт=40702810900000012345\r\n"
    "НачальныйОстаток=1 000,00\r\n"
    "КонецРасчСчет\r\n"
    "СекцияДокумент=Платежное поручение\r\n"
    "Номер=1\r\n"
    "Дата=01.03.2024\r\n"
    "Сумма=5,5\r\n"
    "НазначениеПлатежа2= б \r\n"
    "НазначениеПлатежа1=а\r\n"
    "Получатель=\r\n"
    "Получатель1=ООО «Ёлка» 'и' \"ко\"\r\n"
    "ПлательщикИНН=1\r\n"
    "ПлательщикБИК=1\r\n"
    "ПлательщикБанк1=Б\r\n"
    "ПлательщикСчет=1\r\n"
    "ПолучательИНН=2\r\n"
    "ПолучательСчет=2\r\n"
    "ПолучательБИК=2\r\n"
    "ПолучательБанк1=Б\r\n"
    "КонецДокумента\r\n"
    "КонецФайла\r\n";

TEST(Recording, RepairsEverySectionAndLogsEachChangeWithTheLineItsTextComesFrom) {
  for (const bool windows : {false, true}) {
    SCOPED_TRACE(windows ? "cp1251" : "utf-8");
    // The helper above knows Cyrillic letters only, so the guillemets stay in the UTF-8 text.
    const std::string_view quoted = "«Ёлка»";
    const std::string text =
        windows
            ? cp1251(
                  std::string(kStatement).replace(kStatement.find(quoted), quoted.size(), "Ёлка"))
            : kStatement;
    Recording recording(true);
    NativeHook adapter(recording.hook());
    SectionHook* const hooks[] = {&adapter};
    auto result = parse(text, hooks);
    ASSERT_TRUE(result);
    adapter.records(result.value());
    const Statement& statement = result.value();
    ASSERT_EQ(statement.documents.size(), 1U);
    const Document& doc = statement.documents[0];
    EXPECT_EQ(doc.text(DocField::Purpose), "а б");
    EXPECT_EQ(doc.text(DocField::Payee), windows ? "ООО Ёлка 'и' \"ко\"" : "ООО «Ёлка» 'и' \"ко\"");
    EXPECT_EQ(statement.accounts.at(0).number, "40702810900000012345");
    const std::string name = windows ? "'ООО Ёлка \\'и\\' \"ко\"'" : "'ООО «Ёлка» \\'и\\' \"ко\"'";
    EXPECT_EQ(described(recording.changes()),
              (std::vector<std::string>{
                  "5 yo_in_keys: key РасчСчёт read as РасчСчет",
                  "6 comma_amounts: НачальныйОстаток '1 000,00' read as 1000.00",
                  "15 names_from_numbered: Получатель taken from Получатель1: " + name,
                  "13 purpose_from_numbered: НазначениеПлатежа joined from НазначениеПлатежа1, "
                  "НазначениеПлатежа2: 'а б'",
                  "11 comma_amounts: Сумма '5,5' read as 5.5",
              }));
    EXPECT_EQ(recording.document_lines(), (std::vector<std::uint64_t>{8}));
    EXPECT_EQ(recording.interval_lines(), (std::vector<std::uint64_t>{3}));
    ASSERT_EQ(recording.header_lines().size(), 1U);
    EXPECT_EQ(recording.header_lines()[0], (HeaderLine{"ВерсияФормата", "1.03", 2}));
  }
}

TEST(Recording, WithoutRepairsKeepsOnlyWhereThingsStand) {
  Recording recording(false);
  NativeHook adapter(recording.hook());
  SectionHook* const hooks[] = {&adapter};
  auto result = parse(kStatement, hooks);
  EXPECT_FALSE(result);  // the account's figure is refused as written
  EXPECT_TRUE(recording.changes().empty());
  EXPECT_FALSE(recording.read_whole());
}

TEST(RepairHook, TheRepairsOneByOneReadAsTheRecordingReads) {
  std::vector<NativeHook> adapters;
  for (const Repair repair : kRepairs) {
    adapters.emplace_back(repair_hook(repair));
  }
  std::vector<SectionHook*> hooks;
  for (NativeHook& a : adapters) {
    hooks.push_back(&a);
  }
  Recording recording(true);
  NativeHook together(recording.hook());
  SectionHook* const one[] = {&together};
  auto apart = parse(kStatement, hooks);
  auto joined = parse(kStatement, one);
  ASSERT_TRUE(apart && joined);
  EXPECT_EQ(apart.value(), joined.value());
}

TEST(Messages, QuoteAsPythonsReprAndLeaveWhatTheTablesDoNotKnowToPython) {
  const auto comma = [](std::string_view old) {
    return message(Change{Repair::CommaAmounts, 1, "Сумма", old, "1", "Сумма"});
  };
  EXPECT_EQ(comma("1,0"), "Сумма '1,0' read as 1");
  EXPECT_EQ(comma("it's"), "Сумма \"it's\" read as 1");
  EXPECT_EQ(comma("'\""), "Сумма '\\'\"' read as 1");
  EXPECT_EQ(comma("a\\b\t\n\r\x01\x7f"), "Сумма 'a\\\\b\\t\\n\\r\\x01\\x7f' read as 1");
  EXPECT_EQ(comma("\u00a0\u00ad\u200b\u2028\U0001F600"),
            "Сумма '\\xa0\\xad\\u200b\\u2028\U0001F600' read as 1");
  EXPECT_EQ(comma("\U000E0100"), "Сумма '\U000E0100' read as 1");   // a variation selector prints
  EXPECT_EQ(comma("\U000F0000"), "Сумма '\\U000f0000' read as 1");  // private use
  EXPECT_EQ(comma("\u0378"), std::nullopt);                         // unassigned in 15.0
}

TEST(ChangeLog, KeepsTextsAsTheSectionHadThemAndDecodesWhenLookedAt) {
  ChangeLog log;
  log.add(Repair::CommaAmounts, 7, cp1251("Сумма"), cp1251("1 000,50"), "1000.50", cp1251("Сумма"),
          Encoding::Cp1251);
  log.add(Repair::NamesFromNumbered, 9, "Получатель", std::nullopt, "", "Получатель1",
          Encoding::Utf8);
  std::string room;
  EXPECT_EQ(log.at(0, room),
            (Change{Repair::CommaAmounts, 7, "Сумма", "1 000,50", "1000.50", "Сумма"}));
  const Change second = log.at(1, room);
  EXPECT_EQ(second,
            (Change{Repair::NamesFromNumbered, 9, "Получатель", std::nullopt, "", "Получатель1"}));
  EXPECT_NE(second.value.data(), nullptr);
  EXPECT_EQ(source_key(Change{Repair::PurposeFromNumbered, 1, "", std::nullopt, "",
                              "НазначениеПлатежа2, НазначениеПлатежа3"}),
            "НазначениеПлатежа2");
}

}  // namespace
}  // namespace tarvik::columns
