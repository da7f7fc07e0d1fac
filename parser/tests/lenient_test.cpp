// A lenient reading: damage around intact records is read, each damaged line reported with its
// line, and what is not damage still fails as the strict reader fails.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures.h"
#include "input_decoding.h"
#include "line_lexer.h"
#include "parse.h"
#include "section_hook.h"

namespace tarvik {
namespace {

// Asks for a lenient reading and notes each damaged line as "line kind 'text'".
class DamageNotes final : public SectionHook {
 public:
  HookOutcome on_section(Section&, const AttrMap&) override { return HookOutcome::proceed(); }
  bool observable() const noexcept override { return false; }
  bool lenient() const noexcept override { return true; }
  void damage(const Damage& d) override {
    static constexpr const char* kNames[] = {
        "not-key-value", "unmatched-end",   "repeated-marker", "after-end",       "late-header",
        "bare-section",  "misspelt-marker", "no-marker",       "account-skipped", "late-repeat"};
    notes.push_back(std::to_string(d.lineno) + " " + kNames[std::size_t(d.kind)] + " '" +
                    utf8_text(d.line, d.encoding) + "'" +
                    (d.message.empty() ? "" : " " + std::string(d.message)));
  }
  std::vector<std::string> notes;
};

using Lines = std::vector<std::string>;

const Lines kDocument = {"СекцияДокумент=Платежное поручение",
                         "Номер=7",
                         "Дата=05.03.2024",
                         "Сумма=100.00",
                         "НазначениеПлатежа=Оплата",
                         "ПлательщикСчет=40702810900000012345",
                         "ПлательщикИНН=7701234567",
                         "ПлательщикБИК=044525225",
                         "ПлательщикБанк1=ПАО СБЕРБАНК",
                         "ПолучательСчет=40702810138000004321",
                         "ПолучательИНН=5029012345",
                         "ПолучательБИК=044525225",
                         "ПолучательБанк1=ПАО СБЕРБАНК",
                         "КонецДокумента"};

const Lines kAccount = {"СекцияРасчСчет", "ДатаНачала=01.03.2024", "РасчСчет=40702810900000012345",
                        "НачальныйОстаток=100.00", "КонецРасчСчет"};

std::string text_of_lines(const std::vector<Lines>& parts) {
  std::string out;
  for (const Lines& part : parts) {
    for (const std::string& line : part) {
      out += line + "\r\n";
    }
  }
  return out;
}

struct Case {
  const char* name;
  std::vector<Lines> parts;
  std::vector<std::string> notes;
  std::string outcome;  // "statement", or the failure described
  std::size_t documents = 0;
  std::vector<std::string> warnings = {};
};

const std::vector<Case>& cases() {
  static const std::vector<Case> all = {
      {"a line without = between two documents",
       {{"1CClientBankExchange"}, kDocument, {"Левая строка"}, kDocument, {"КонецФайла"}},
       {"16 not-key-value 'Левая строка'"},
       "statement",
       2},
      {"a line without = inside a document",
       {{"1CClientBankExchange"},
        Lines(kDocument.begin(), kDocument.begin() + 3),
        {"Итого: 100"},
        Lines(kDocument.begin() + 3, kDocument.end()),
        {"КонецФайла"}},
       {"5 not-key-value 'Итого: 100'"},
       "statement",
       1},
      {"a bare opening line",
       {{"1CClientBankExchange", "СекцияДокумент"},
        Lines(kDocument.begin() + 1, kDocument.end()),
        {"КонецФайла"}},
       {"2 bare-section 'СекцияДокумент'"},
       "statement",
       1},
      {"a header key after the sections",
       {{"1CClientBankExchange", "ВерсияФормата=1.03"},
        kAccount,
        {"Документ=Платежное поручение", "ВерсияФормата=2"},
        kDocument,
        {"КонецФайла"}},
       {"8 late-header 'Документ=Платежное поручение'", "9 late-repeat 'ВерсияФормата=2'"},
       "statement",
       1},
      {"a document closed twice, a closing line and the marker where nothing is open",
       {{"1CClientBankExchange"},
        kDocument,
        {"КонецДокумента", "КонецРасчСчет", "1CClientBankExchange"},
        {"КонецФайла"}},
       {"16 unmatched-end 'КонецДокумента'", "17 unmatched-end 'КонецРасчСчет'",
        "18 repeated-marker '1CClientBankExchange'"},
       "statement",
       1},
      {"a marker and the other section's end inside a document and an account section",
       {{"1CClientBankExchange"},
        Lines(kDocument.begin(), kDocument.begin() + 3),
        {"1CClientBankExchange", "КонецРасчСчет"},
        Lines(kDocument.begin() + 3, kDocument.end()),
        Lines(kAccount.begin(), kAccount.begin() + 2),
        {"КонецДокумента", "1CClientBankExchange"},
        Lines(kAccount.begin() + 2, kAccount.end()),
        {"КонецФайла"}},
       {"5 repeated-marker '1CClientBankExchange'", "6 unmatched-end 'КонецРасчСчет'",
        "20 unmatched-end 'КонецДокумента'", "21 repeated-marker '1CClientBankExchange'"},
       "statement",
       1},
      {"lines after the end",
       {{"1CClientBankExchange"}, kDocument, {"КонецФайла", "Итого=5", "хвост", "КонецФайла"}},
       {"17 after-end 'Итого=5'", "18 after-end 'хвост'", "19 after-end 'КонецФайла'"},
       "statement",
       1},
      {"an account section without its dates, and one with no known key",
       {{"1CClientBankExchange"},
        {"СекцияРасчСчет", "РасчСчет=1", "НачальныйОстаток=5", "КонецРасчСчет"},
        {"СекцияРасчСчет", "Ключ=значение", "КонецРасчСчет"},
        kDocument,
        {"КонецФайла"}},
       {"5 account-skipped 'КонецРасчСчет' Account parse error: missing field `ДатаНачала`",
        "8 account-skipped 'КонецРасчСчет' Account parse error: missing field `ДатаНачала`"},
       "statement",
       1,
       {"5: Account parse error: missing field `ДатаНачала`",
        "8: Account parse error: missing field `ДатаНачала`"}},
      {"a misspelt marker",
       {{"1CCliertBankExchange"}, kDocument, {"КонецФайла"}},
       {"1 misspelt-marker '1CCliertBankExchange'"},
       "statement",
       1},
      {"a fragment without the marker",
       {kDocument, {"КонецФайла"}},
       {"1 no-marker 'СекцияДокумент=Платежное поручение'"},
       "statement",
       1},
      // What is not damage around intact records still fails.
      {"a document that never ends",
       {{"1CClientBankExchange"}, Lines(kDocument.begin(), kDocument.end() - 1)},
       {},
       "Unfinished"},
      {"a section inside a document",
       {{"1CClientBankExchange"},
        Lines(kDocument.begin(), kDocument.end() - 1),
        kDocument,
        {"КонецФайла"}},
       {},
       "UnexpectedSection(15, [СекцияДокумент=Платежное поручение], Document)"},
      {"no section at all",
       {{"1CClientBankExchange", "А=1", "КонецФайла"}},
       {},
       "UnexpectedSection(3, [КонецФайла], Header)"},
  };
  return all;
}

TEST(Lenient, ReadsDamageAroundIntactRecordsAndSaysWhere) {
  for (const Case& c : cases()) {
    for (const bool windows : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (windows ? ", cp1251" : ", utf-8"));
      const std::string utf8 = text_of_lines(c.parts);
      const std::string text = windows ? testing::to_cp1251(utf8) : utf8;
      DamageNotes notes;
      SectionHook* const hooks[] = {&notes};
      auto result = parse(text, hooks);
      EXPECT_EQ(testing::outcome(result), c.outcome);
      EXPECT_EQ(notes.notes, c.notes);
      if (result) {
        EXPECT_EQ(result.value().documents.size(), c.documents);
        EXPECT_EQ(testing::warnings(result.value()), c.warnings);
        EXPECT_EQ(result.value().encoding, windows ? Encoding::Cp1251 : Encoding::Utf8);
      }
      // Read strictly, every case of damage fails.
      if (!c.notes.empty()) {
        EXPECT_FALSE(parse(text, {}));
      }
    }
  }
}

TEST(Lenient, ALateHeaderKeyAddsToTheHeaderButChangesNoValue) {
  const std::string text = text_of_lines({{"1CClientBankExchange", "ВерсияФормата=1.03"},
                                          kDocument,
                                          {"Документ=Платежное поручение", "ВерсияФормата=2"},
                                          kDocument,
                                          {"КонецФайла"}});
  DamageNotes notes;
  SectionHook* const hooks[] = {&notes};
  auto result = parse(text, hooks);
  ASSERT_TRUE(result);
  EXPECT_EQ(result.value().header,
            (AttrMap{{"ВерсияФормата", "1.03"}, {"Документ", "Платежное поручение"}}));
}

TEST(Lenient, AMisspeltMarkerIsAtMostTwoLettersOff) {
  EXPECT_TRUE(is_misspelt_marker("1CClientBankExchange"));
  EXPECT_TRUE(is_misspelt_marker("1CCliertBankExchange"));
  EXPECT_TRUE(is_misspelt_marker("1cclientbankexchange "));
  EXPECT_TRUE(is_misspelt_marker("1CClientBankExchang"));
  EXPECT_FALSE(is_misspelt_marker("1CClientBank"));
  EXPECT_FALSE(is_misspelt_marker("ClientBankExchange v2"));
  EXPECT_FALSE(is_misspelt_marker(""));
}

}  // namespace
}  // namespace tarvik
