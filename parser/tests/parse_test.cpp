#include "parse.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "fixtures.h"
#include "whole_text.h"

namespace tarvik {
namespace {

using testing::describe;
using testing::doc_numbers;
using testing::outcome;
using testing::statement;
using testing::to_cp1251;
using testing::warnings;

#ifdef TARVIK_CORPUS_DIR
constexpr std::string_view kCorpusDir = TARVIK_CORPUS_DIR;
#else
constexpr std::string_view kCorpusDir = "";
#endif

Result<Statement, ParseFailure> run(std::string_view input, std::vector<SectionHook*> hooks = {}) {
  return parse(input, hooks);
}

// UTF-16LE with its byte-order mark, for text of the Basic Multilingual Plane.
std::string to_utf16le(std::string_view utf8) {
  std::string out = "\xFF\xFE";
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b0 = static_cast<unsigned char>(utf8[i]);
    unsigned c = b0;
    std::size_t length = 1;
    if (b0 >= 0xE0) {
      c = ((b0 & 0x0FU) << 12) | ((static_cast<unsigned char>(utf8[i + 1]) & 0x3FU) << 6) |
          (static_cast<unsigned char>(utf8[i + 2]) & 0x3FU);
      length = 3;
    } else if (b0 >= 0xC0) {
      c = ((b0 & 0x1FU) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3FU);
      length = 2;
    }
    out += static_cast<char>(c & 0xFFU);
    out += static_cast<char>(c >> 8);
    i += length;
  }
  return out;
}

std::vector<std::string> accounts(const Statement& s) {
  std::vector<std::string> out;
  for (const Account& a : s.accounts) {
    for (const Interval& i : a.intervals) {
      out.push_back(a.number + ": " + describe(i));
    }
  }
  return out;
}

const std::string kStatement = statement({
    "1CClientBankExchange",
    "ВерсияФормата=1.03",
    "Кодировка=Windows",
    "Отправитель=Бухгалтерия",
    "ДатаНачала=01.03.2024",
    "ДатаКонца=31.03.2024",
    "СекцияРасчСчет",
    "ДатаНачала=01.03.2024",
    "ДатаКонца=31.03.2024",
    "РасчСчет=40702810000000000001",
    "НачальныйОстаток=1000.00",
    "ВсегоПоступило=1500.00",
    "ВсегоСписано=0",
    "КонечныйОстаток=2500.00",
    "КонецРасчСчет",
    "СекцияРасчСчет",
    "ДатаНачала=01.02.2024",
    "РасчСчет=40702810000000000001",
    "НачальныйОстаток=1000",
    "КонецРасчСчет",
    "СекцияРасчСчет",
    "ДатаНачала=01.03.2024",
    "РасчСчет=40817810000000000002",
    "НачальныйОстаток=-5.5",
    "КонецРасчСчет",
    "",
    "СекцияДокумент=Платежное поручение",
    "Номер=17",
    "Дата=05.03.2024",
    "Сумма=1500.00",
    "ПлательщикСчет=40702810000000000009",
    "ПлательщикИНН=7700000009",
    "Плательщик1=ООО \"Ёлка\"",
    "ПлательщикБИК=044525009",
    "ПлательщикБанк1=ПАО Банк",
    "ПолучательСчет=40702810000000000001",
    "ПолучательИНН=7700000001",
    "ПолучательБИК=044525001",
    "ПолучательБанк1=АО Банк",
    "ДатаПоступило=05.03.2024",
    "ВидОплаты=01",
    "НазначениеПлатежа=Оплата по счету №5",
    "КонецДокумента",
    "СекцияДокумент=Платежное поручение",
    "Номер=18",
    "Дата=06.03.2024",
    "Сумма=12,50",
    "КонецДокумента",
    "КонецФайла",
});

void expect_realistic_statement(const Statement& s) {
  EXPECT_EQ(describe(s.header),
            "{ВерсияФормата=1.03, Кодировка=Windows, Отправитель=Бухгалтерия, "
            "ДатаНачала=01.03.2024, ДатаКонца=31.03.2024}");
  EXPECT_EQ(accounts(s),
            (std::vector<std::string>{
                "40702810000000000001: 2024-02-01..- start=1000 end=- in=- out=-",
                "40702810000000000001: 2024-03-01..2024-03-31 start=1000.00 end=2500.00 "
                "in=1500.00 out=0",
                "40817810000000000002: 2024-03-01..- start=-5.5 end=- in=- out=-",
            }));
  ASSERT_EQ(s.documents.size(), 1U);
  EXPECT_EQ(describe(s.documents[0]),
            "doc_number=[17]\n"
            "doc_type=[Платежное поручение]\n"
            "doc_date=2024-03-05\n"
            "amount=1500.00\n"
            "purpose=[Оплата по счету №5]\n"
            "payment_type=[01]\n"
            "ordering=-\n"
            "counterparty_inn=[7700000009]\n"
            "counterparty_kpp=-\n"
            "counterparty_bic=[044525009]\n"
            "counterparty_bank1=[ПАО Банк]\n"
            "counterparty_account=[40702810000000000009]\n"
            "counterparty=-\n"
            "counterparty_1=[ООО \"Ёлка\"]\n"
            "counterparty_ras_account=-\n"
            "counterparty_cor_account=-\n"
            "outcome_date=-\n"
            "payee_inn=[7700000001]\n"
            "payee=-\n"
            "payee_account=[40702810000000000001]\n"
            "payee_kpp=-\n"
            "payee_bic=[044525001]\n"
            "payee_bank1=[АО Банк]\n"
            "payee_ras_account=-\n"
            "payee_cor_account=-\n"
            "income_date=2024-03-05\n");
  EXPECT_EQ(warnings(s),
            std::vector<std::string>{"48: invalid value: string \"12,50\", expected a Decimal type "
                                     "representing a fixed-point number"});
}

TEST(Parse, ReadsTheSameStatementInEveryEncoding) {
  const struct {
    std::string_view what;
    std::string input;
    Encoding encoding;
  } cases[] = {
      {"UTF-8", kStatement, Encoding::Utf8},
      {"windows-1251", to_cp1251(kStatement), Encoding::Cp1251},
      {"UTF-16LE after a byte-order mark", to_utf16le(kStatement), Encoding::Utf16},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto r = run(c.input);
    ASSERT_EQ(outcome(r), "statement");
    EXPECT_EQ(r.value().encoding, c.encoding);
    expect_realistic_statement(r.value());
  }
}

TEST(Parse, ReportsEachFailureKind) {
  const std::string nbsp_heavy =
      to_cp1251("1CClientBankExchange\r\nСекцияРасчСчет\r\n") + std::string(20, '\xA0') + "\r\n";
  const struct {
    std::string_view what;
    std::string input;
    std::string want;
  } cases[] = {
      {"empty input", "", "NotStatement"},
      {"free text", "wrong format", "NotStatement"},
      {"marker behind a UTF-8 byte-order mark",
       "\xEF\xBB\xBF" + statement({"1CClientBankExchange"}), "NotStatement"},
      {"marker with a trailing space", statement({"1CClientBankExchange ", "КонецФайла"}),
       "NotStatement"},
      {"marker after an empty line", "\r\n" + statement({"1CClientBankExchange"}), "NotStatement"},
      {"marker with two carriage returns", "1CClientBankExchange\r\r\nКонецФайла\r\n",
       "NotStatement"},
      {"windows-1251 text with many no-break spaces", nbsp_heavy, "NotStatement"},
      {"marker only, no line end", "1CClientBankExchange", "Unfinished"},
      {"windows-1251 header only",
       to_cp1251("1CClientBankExchange\nВерсияФормата=1.02\nКодировка=Windows\n"), "Unfinished"},
      {"windows-1251 end of file after the header",
       to_cp1251("1CClientBankExchange\nПоле=Значение\nКонецФайла\n"),
       "UnexpectedSection(3, [КонецФайла], Header)"},
      {"windows-1251 unrecognized line comes back as UTF-8",
       to_cp1251(statement({"1CClientBankExchange", "Поле=Значение", "", "Секция Документ"})),
       "UnrecognizedLine(4, [Секция Документ])"},
      {"UTF-8 end of file with a stray carriage return",
       statement({"1CClientBankExchange", "СекцияДокумент=", "КонецДокумента", "КонецФайла\r"}),
       "UnrecognizedLine(4, [КонецФайла\r])"},
      {"account failure",
       statement({"1CClientBankExchange", "СекцияРасчСчет", "ДатаНачала=01.01.2024",
                  "НачальныйОстаток=0", "КонецРасчСчет", "КонецФайла"}),
       "MissingField(5, [РасчСчет], Account)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(outcome(run(c.input)), c.want);
  }
}

class CountingHook : public MapHook {
 public:
  HookOutcome call(SectionType type, AttrMap&, const AttrMap& header) override {
    ++calls;
    if (type == SectionType::Account) {
      return HookOutcome::warn("account skipped; header " + std::to_string(header.size()));
    }
    return HookOutcome::proceed();
  }
  int calls = 0;
};

TEST(Parse, RunsHooksOnlyOverATextThatLexes) {
  CountingHook hook;
  const auto r = run(to_cp1251(kStatement), {&hook});
  ASSERT_EQ(outcome(r), "statement");
  EXPECT_EQ(hook.calls, 5);
  EXPECT_EQ(r.value().accounts.size(), 0U);
  EXPECT_EQ(doc_numbers(r.value()), std::vector<std::string>{"17"});
  EXPECT_EQ(warnings(r.value()),
            (std::vector<std::string>{
                "15: account skipped; header 5", "20: account skipped; header 5",
                "25: account skipped; header 5",
                "48: invalid value: string \"12,50\", expected a Decimal type representing a "
                "fixed-point number"}));

  CountingHook unused;
  EXPECT_EQ(outcome(run(kStatement + "хвост\r\n", {&unused})), "UnrecognizedLine(50, [хвост])");
  EXPECT_EQ(unused.calls, 0);
}

// What a file of the shared corpus must give.
struct CorpusCase {
  std::string_view file;
  std::string outcome;
  bool utf8 = false;
  std::size_t header_size = 0;
  std::vector<std::string> accounts;
  std::vector<std::string> documents;
};

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

TEST(ParseCorpus, EveryRealFileGivesTheOutcomeItsContentCallsFor) {
  if (kCorpusDir.empty() || !std::filesystem::is_directory(kCorpusDir)) {
    GTEST_SKIP() << "TARVIK_CORPUS_DIR does not name the corpus directory";
  }
  const CorpusCase cases[] = {
      {"kilylabs_one_day_cp1251.txt",
       "statement",
       false,
       9,
       {"40702810200000000001: 2016-01-11..2016-01-11 start=45329.91 end=44145.91 in=40000.00 "
        "out=41184.00"},
       {"697162", "697140", "697149", "697160", "697129", "697147", "1", "3", "2", "4", "5", "6",
        "1"}},
      {"kilylabs_one_day_utf8.txt",
       "statement",
       true,
       9,
       {"40702810200000000001: 2016-01-11..2016-01-11 start=45329.91 end=44145.91 in=40000.00 "
        "out=41184.00"},
       {"697162", "697140", "697149", "697160", "697129", "697147", "1", "3", "2", "4", "5", "6",
        "1"}},
      {"odoo-ru_kl_to_1c_cp1251.txt",
       "statement",
       false,
       8,
       {"00000000000000000001: 2023-01-02..2023-01-02 start=110978.00 end=2818.88 in=0.00 "
        "out=108159.12"},
       {"3"}},
      {"clbnk_kl_to_1c_cp1251.txt",
       "statement",
       false,
       9,
       {"40702810000000074935: 2024-01-01..2024-04-11 start=252842.49 end=79245.05 "
        "in=616050.00 out=789647.44"},
       {"69147", "1", "2"}},
      {"unact_test_utf8.txt",
       "statement",
       true,
       10,
       {"40700000000000000000: 2022-09-21..2022-09-21 start=0.00 end=0.00 in=294.00 out=294.00",
        "40600000000000000000: 2022-09-21..2022-09-21 start=0.00 end=0.00 in=294.00 out=294.00"},
       {"1", "2", "3", "1", "2", "3"}},
      {"zharikovpro_documents_cp1251.txt",
       "statement",
       false,
       6,
       {"40000000000000000000: 2014-01-01..2015-01-01 start=100.00 end=107.75 in=10.90 "
        "out=3.15"},
       {"1", "2"}},
      {"condo_statement_utf8.txt",
       "statement",
       true,
       9,
       {"40702810801500116391: 2022-04-01..2022-10-27 start=8300.00 end=135394.23 "
        "in=2681831.46 out=2554737.23"},
       {"61298", "6032", "656731", "239"}},
      // A writer's own output: document sections open without "=" (and the final line is
      // UTF-8 inside a windows-1251 file).
      {"clbnk_to_bank_cp1251_mixed_eol.txt",
       "UnrecognizedLine(10, [СекцияДокумент])",
       false,
       0,
       {},
       {}},
      // Header and account section without "КонецФайла".
      {"condo_invalid_utf8.txt", "Unfinished", false, 0, {}, {}},
      {"odoo-ru_min_header_only_cp1251.txt",
       "UnexpectedSection(3, [КонецФайла], Header)",
       false,
       0,
       {},
       {}},
      {"zharikovpro_general_cp1251.txt", "Unfinished", false, 0, {}, {}},
      {"zharikovpro_remainings_cp1251.txt", "Unfinished", false, 0, {}, {}},
      {"zharikovpro_wrong_format.txt", "NotStatement", false, 0, {}, {}},
  };
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kCorpusDir)) {
    if (entry.path().extension() == ".txt") {
      ++files;
    }
  }
  EXPECT_EQ(files, std::size(cases)) << "a corpus file has no expected outcome here";
  for (const CorpusCase& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string input = read_file(std::filesystem::path(kCorpusDir) / c.file);
    ASSERT_FALSE(input.empty());
    const auto r = run(input);
    ASSERT_EQ(outcome(r), c.outcome);
    if (!r) {
      continue;
    }
    const Statement& s = r.value();
    EXPECT_EQ(s.encoding == Encoding::Utf8, c.utf8);
    EXPECT_EQ(s.header.size(), c.header_size);
    EXPECT_EQ(accounts(s), c.accounts);
    EXPECT_EQ(doc_numbers(s), c.documents);
    EXPECT_EQ(warnings(s), std::vector<std::string>{});
  }
}

TEST(ParseCorpus, KeepsValuesAsWritten) {
  if (kCorpusDir.empty() || !std::filesystem::is_directory(kCorpusDir)) {
    GTEST_SKIP() << "TARVIK_CORPUS_DIR does not name the corpus directory";
  }
  const auto path = [](std::string_view file) { return std::filesystem::path(kCorpusDir) / file; };

  const auto odoo = run(read_file(path("odoo-ru_kl_to_1c_cp1251.txt")));
  ASSERT_EQ(outcome(odoo), "statement");
  ASSERT_EQ(odoo.value().documents.size(), 1U);
  EXPECT_EQ(describe(odoo.value().documents[0]),
            "doc_number=[3]\n"
            "doc_type=[Платежное поручение]\n"
            "doc_date=2023-03-31\n"
            "amount=108159.12\n"
            "purpose=[Оплата по счету N 1024 от 01.01.23г 18026,52]\n"
            "payment_type=[01]\n"
            "ordering=[5]\n"
            "counterparty_inn=[0000000002]\n"
            "counterparty_kpp=[000000002]\n"
            "counterparty_bic=[044525823]\n"
            "counterparty_bank1=[ Банк ГПБ (АО)]\n"
            "counterparty_account=[00000000000000000001]\n"
            "counterparty=-\n"
            "counterparty_1=[ООО Плательщик]\n"
            "counterparty_ras_account=[00000000000000000001]\n"
            "counterparty_cor_account=[00000000000000000003]\n"
            "outcome_date=2023-04-03\n"
            "payee_inn=[0000000001]\n"
            "payee=-\n"
            "payee_account=[00000000000000000002]\n"
            "payee_kpp=[000000001]\n"
            "payee_bic=[000000002]\n"
            "payee_bank1=[ ФИЛИАЛ \"САМАРСКИЙ\" АО \"ОТП БАНК\"]\n"
            "payee_ras_account=[00000000000000000002]\n"
            "payee_cor_account=[00000000000000000004]\n"
            "income_date=-\n");

  // The same export in two encodings gives the same statement but for the encoding.
  auto cp1251 = run(read_file(path("kilylabs_one_day_cp1251.txt")));
  const auto utf8 = run(read_file(path("kilylabs_one_day_utf8.txt")));
  ASSERT_EQ(outcome(cp1251), "statement");
  ASSERT_EQ(outcome(utf8), "statement");
  cp1251.value().encoding = Encoding::Utf8;
  EXPECT_TRUE(cp1251.value() == utf8.value());
  // Values keep trailing spaces; unknown keys are not read at all.
  const Document& first = utf8.value().documents[0];
  EXPECT_EQ(first.optional_text(DocField::PaymentType), "17");
  EXPECT_EQ(first.optional_text(DocField::CounterpartyKpp), "");
  EXPECT_EQ(testing::written(first.outcome_date), "2016-01-11");
  EXPECT_EQ(testing::written(first.income_date), "-");

  const auto condo = run(read_file(path("condo_statement_utf8.txt")));
  ASSERT_EQ(outcome(condo), "statement");
  const Statement& c = condo.value();
  ASSERT_NE(c.header.find("Получатель"), nullptr);
  EXPECT_EQ(*c.header.find("Получатель"), "");
  ASSERT_EQ(c.documents.size(), 4U);
  EXPECT_EQ(c.documents[0].text(DocField::DocType), "Платежное требование");
  EXPECT_EQ(testing::written(c.documents[0].amount), "700");
  EXPECT_EQ(testing::written(c.documents[0].income_date), "-");
  EXPECT_EQ(c.documents[1].text(DocField::CounterpartyInn), "");
  EXPECT_EQ(c.documents[2].optional_text(DocField::Counterparty1), "ПЕТРОВ ПЁТР ПЕТРОВИЧ");

  const auto unact = run(read_file(path("unact_test_utf8.txt")));
  ASSERT_EQ(outcome(unact), "statement");
  const AttrMap& header = unact.value().header;
  ASSERT_EQ(header.size(), 10U);
  EXPECT_EQ(header.entries()[8], (AttrMap::Entry{"РасчСчет", "40600000000000000000"}));
  EXPECT_EQ(header.entries()[9], (AttrMap::Entry{"Документ", "Type 2"}));

  const auto clbnk = run(read_file(path("clbnk_kl_to_1c_cp1251.txt")));
  ASSERT_EQ(outcome(clbnk), "statement");
  ASSERT_EQ(clbnk.value().documents.size(), 3U);
  EXPECT_TRUE(clbnk.value().documents[0].text(DocField::Purpose).ends_with("облагается. "));
  EXPECT_EQ(testing::written(clbnk.value().documents[0].income_date), "-");
  EXPECT_EQ(clbnk.value().documents[1].text(DocField::Purpose),
            "Оплата по заказу клиента №9614, НДС не облагается");
}

// Input that starts as UTF-8 is read as UTF-8 while it proves to be, a stretch at a time; a byte
// far on that is not UTF-8 makes it windows-1251 after all, whatever the read had found before.
TEST(Parse, ReadsAsWindows1251WhatProvesNotToBeUtf8FarOn) {
  // ASCII, so that it reads as windows-1251 as well, and longer than a checked stretch.
  std::string head = "1CClientBankExchange\r\n";
  for (int i = 0; i < 20'000; ++i) {
    head += "Key" + std::to_string(i) + "=value\r\n";
  }
  head +=
      "СекцияРасчСчет\r\nДатаНачала=01.01.2024\r\nНачальныйОстаток=1\r\nРасчСчет=1\r\n"
      "КонецРасчСчет\r\n";
  const struct {
    std::string_view what;
    std::string input;
  } cases[] = {
      {"a windows-1251 byte in the last line", head + "КонецФайла\r\n\xC0\r\n"},
      {"after an unexpected attribute", head + "Ключ=1\r\nКонецФайла\r\n\xC0=\r\n"},
      {"after an unrecognized line", head + "Строка\r\n\xC0=\r\n"},
      {"unfinished", head + "\xC0=\r\n"},
      {"well-formed to the end", head + "КонецФайла\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string storage;
    const auto decoded = testing::decode_input(c.input, storage);
    ASSERT_TRUE(decoded);
    const auto want = testing::read_decoded(decoded->text, decoded->encoding, {});
    const auto got = run(c.input);
    ASSERT_EQ(outcome(got), outcome(want));
    if (want) {
      EXPECT_EQ(got.value().encoding, decoded->encoding);
      EXPECT_TRUE(got.value() == want.value());
    } else {
      EXPECT_EQ(got.error(), want.error());
    }
  }
}

}  // namespace
}  // namespace tarvik
