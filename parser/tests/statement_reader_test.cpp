#include "statement_reader.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fixtures.h"
#include "whole_text.h"

namespace tarvik {
namespace {

using testing::account_section;
using testing::concat;
using testing::describe;
using testing::doc_numbers;
using testing::document_section;
using testing::Lines;
using testing::outcome;
using testing::statement_text;
using testing::to_cp1251;
using testing::warnings;

Result<Statement, ParseFailure> run(const Lines& lines, std::vector<SectionHook*> hooks = {},
                                    Encoding encoding = Encoding::Utf8) {
  return read(statement_text(lines), encoding, hooks);
}

// `lines` without the keyword line `key` or the attribute line of `key`.
Lines drop(Lines lines, std::string_view key) {
  std::erase_if(lines, [&](const std::string& l) {
    return l == key || l.starts_with(std::string(key) + "=");
  });
  return lines;
}

// "number: date_start, date_start" per account.
std::vector<std::string> accounts(const Statement& s) {
  std::vector<std::string> out;
  for (const Account& a : s.accounts) {
    std::string line = a.number + ":";
    for (const Interval& i : a.intervals) {
      line += " " + testing::written(i.date_start);
    }
    out.push_back(line);
  }
  return out;
}

// A hook that logs each call as "<name> <type> <attrs>" and answers by its script.
class TestHook : public MapHook {
 public:
  using Script = std::function<HookOutcome(SectionType, AttrMap&, const AttrMap&)>;

  TestHook(std::string name, std::vector<std::string>& log, Script script = nullptr)
      : name_(std::move(name)), log_(log), script_(std::move(script)) {}

  HookOutcome call(SectionType type, AttrMap& attrs, const AttrMap& header) override {
    log_.push_back(name_ + (type == SectionType::Account ? " account " : " document ") +
                   describe(attrs));
    headers.push_back(describe(header));
    return script_ ? script_(type, attrs, header) : HookOutcome::proceed();
  }

  std::vector<std::string> headers;  // the header as each call saw it

 private:
  std::string name_;
  std::vector<std::string>& log_;
  Script script_;
};

const Lines kMarker = {"1CClientBankExchange"};
const Lines kEnd = {"КонецФайла"};

TEST(Read, FollowsTheReadingTable) {
  // Prefixes that leave the reader in each state; the probe line comes right after them.
  const struct {
    std::string_view state;
    Lines prefix;
  } states[] = {
      {"init", {}},
      {"header", {"1CClientBankExchange", "Версия=1"}},
      {"account", {"1CClientBankExchange", "СекцияРасчСчет"}},
      {"document", {"1CClientBankExchange", "СекцияДокумент=Тип"}},
      {"read_next_section", {"1CClientBankExchange", "СекцияДокумент=Тип", "КонецДокумента"}},
      {"finished", {"1CClientBankExchange", "СекцияДокумент=Тип", "КонецДокумента", "КонецФайла"}},
  };
  const std::string_view probes[] = {
      "1CClientBankExchange", "СекцияРасчСчет", "СекцияДокумент=Платежное поручение",
      "КонецРасчСчет",        "КонецДокумента", "КонецФайла",
      "Ключ=Значение",
  };
  // want[state][probe]; "US n context" and "UA n" name the failure at line n.
  const std::string_view want[6][7] = {
      // init
      {"Unfinished", "US 1 Init", "US 1 Init", "US 1 Init", "US 1 Init", "US 1 Init", "UA 1"},
      // header
      {"US 3 Header", "Unfinished", "Unfinished", "US 3 Header", "US 3 Header", "US 3 Header",
       "Unfinished"},
      // account: closing an empty section fails in the builder
      {"US 3 Account", "US 3 Account", "US 3 Account",
       "AccountParseError(3, [missing field `ДатаНачала`])", "US 3 Account", "US 3 Account",
       "Unfinished"},
      // document
      {"US 3 Document", "US 3 Document", "US 3 Document", "US 3 Document", "Unfinished",
       "US 3 Document", "Unfinished"},
      // read_next_section
      {"US 4 ReadNextSection", "Unfinished", "Unfinished", "US 4 ReadNextSection",
       "US 4 ReadNextSection", "statement", "UA 4"},
      // finished
      {"US 5 Finished", "US 5 Finished", "US 5 Finished", "US 5 Finished", "US 5 Finished",
       "US 5 Finished", "UA 5"},
  };
  for (std::size_t s = 0; s < std::size(states); ++s) {
    for (std::size_t p = 0; p < std::size(probes); ++p) {
      SCOPED_TRACE(std::string(states[s].state) + " + " + std::string(probes[p]));
      std::string expected(want[s][p]);
      const std::string line = std::to_string(states[s].prefix.size() + 1);
      if (expected.starts_with("US ")) {
        const std::string context = expected.substr(expected.rfind(' ') + 1);
        expected =
            "UnexpectedSection(" + line + ", [" + std::string(probes[p]) + "], " + context + ")";
      } else if (expected.starts_with("UA ")) {
        expected = "UnexpectedAttribute(" + line + ", [Ключ], [Значение])";
      }
      EXPECT_EQ(outcome(run(concat({states[s].prefix, {std::string(probes[p])}}))), expected);
    }
  }
}

TEST(Read, ReportsUnfinishedInputs) {
  const struct {
    std::string_view what;
    Lines lines;
  } cases[] = {
      {"no lines", {}},
      {"blank lines only", {"", "  ", "\t"}},
      {"marker only", kMarker},
      {"header only", {"1CClientBankExchange", "Версия=1", "Кодировка=Windows"}},
      {"inside an account section", concat({kMarker, drop(account_section("1"), "КонецРасчСчет")})},
      {"inside a document section", concat({kMarker, {"СекцияДокумент=Тип", "Номер=1"}})},
      {"after a closed section", concat({kMarker, account_section("1")})},
      {"after a closed document", concat({kMarker, document_section("1"), {"", ""}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(outcome(run(c.lines)), "Unfinished");
  }
}

TEST(Read, ReturnsTheStatementInInputOrder) {
  // Line numbers: header 1-4, account 6-10, documents 12-25, 26-38 (no bank code), 40-53,
  // account 54-58, end of file 59.
  const Lines lines = concat({
      {"1CClientBankExchange", "ВерсияФормата=1.03", "Кодировка=Windows", "ВерсияФормата=1.02", ""},
      account_section("222", "01.02.2024"),
      {"  "},
      document_section("1"),
      drop(document_section("2"), "ПлательщикБИК"),
      {"\t"},
      document_section("3", "Банковский ордер"),
      account_section("111", "01.01.2024"),
      kEnd,
      {"", " "},
  });
  // A text decoded from UTF-16 reaches the reader as UTF-8 too.
  for (const Encoding encoding : {Encoding::Utf8, Encoding::Utf16}) {
    SCOPED_TRACE(encoding_name(encoding));
    const auto r = run(lines, {}, encoding);
    ASSERT_EQ(outcome(r), "statement");
    const Statement& s = r.value();
    EXPECT_EQ(s.encoding, encoding);
    EXPECT_EQ(describe(s.header), "{ВерсияФормата=1.02, Кодировка=Windows}");
    EXPECT_EQ(accounts(s), (std::vector<std::string>{"222: 2024-02-01", "111: 2024-01-01"}));
    EXPECT_EQ(doc_numbers(s), (std::vector<std::string>{"1", "3"}));
    ASSERT_EQ(s.documents.size(), 2U);
    EXPECT_EQ(s.documents[1].text(DocField::DocType), "Банковский ордер");
    // Each document knows the line its section opens on; the dropped one between leaves no gap.
    EXPECT_EQ(s.documents[0].lineno, 12U);
    EXPECT_EQ(s.documents[1].lineno, 40U);
    EXPECT_EQ(warnings(s), std::vector<std::string>{"38: missing field `ПлательщикБИК`"});
  }
}

TEST(Read, KeepsSectionKindsApart) {
  const struct {
    std::string_view what;
    Lines lines;
    std::vector<std::string> accounts;
    std::vector<std::string> documents;
    std::string header;
  } cases[] = {
      {"documents only, no header",
       concat({kMarker, document_section("1"), kEnd}),
       {},
       {"1"},
       "{}"},
      {"accounts only",
       concat({kMarker, {"Версия=1"}, account_section("1"), kEnd}),
       {"1: 2024-03-01"},
       {},
       "{Версия=1}"},
      {"same account twice",
       concat(
           {kMarker, account_section("1", "02.01.2024"), account_section("1", "01.01.2024"), kEnd}),
       {"1: 2024-01-01 2024-01-02"},
       {},
       "{}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto r = run(c.lines);
    ASSERT_EQ(outcome(r), "statement");
    EXPECT_EQ(accounts(r.value()), c.accounts);
    EXPECT_EQ(doc_numbers(r.value()), c.documents);
    EXPECT_EQ(describe(r.value().header), c.header);
    EXPECT_TRUE(r.value().warnings.empty());
  }
}

TEST(Read, EndsWithTheFirstFailure) {
  const struct {
    std::string_view what;
    Lines lines;
    std::string want;
  } cases[] = {
      {"end of file right after the header",
       {"1CClientBankExchange", "Поле=Значение", "КонецФайла"},
       "UnexpectedSection(3, [КонецФайла], Header)"},
      {"attribute between sections",
       concat({kMarker, account_section("1"), {"Номер=5"}, document_section("1"), kEnd}),
       "UnexpectedAttribute(7, [Номер], [5])"},
      {"attribute after the end of file", concat({kMarker, account_section("1"), kEnd, {"a=b"}}),
       "UnexpectedAttribute(8, [a], [b])"},
      {"section after the end of file",
       concat({kMarker, account_section("1"), kEnd, account_section("2")}),
       "UnexpectedSection(8, [СекцияРасчСчет], Finished)"},
      {"nested document", concat({kMarker, {"СекцияДокумент=Первый"}, document_section("1"), kEnd}),
       "UnexpectedSection(3, [СекцияДокумент=Платежное поручение], Document)"},
      {"document closed in an account section",
       concat({kMarker, drop(account_section("1"), "КонецРасчСчет"), {"КонецДокумента"}, kEnd}),
       "UnexpectedSection(6, [КонецДокумента], Account)"},
      {"second account end", concat({kMarker, account_section("1"), {"КонецРасчСчет"}, kEnd}),
       "UnexpectedSection(7, [КонецРасчСчет], ReadNextSection)"},
      {"bad account value at its closing line",
       concat({kMarker, {"СекцияРасчСчет", "ДатаНачала=2024-01-01", "КонецРасчСчет"}, kEnd}),
       "AccountParseError(4, [input contains invalid characters])"},
      {"account without number", concat({kMarker, drop(account_section("1"), "РасчСчет"), kEnd}),
       "MissingField(5, [РасчСчет], Account)"},
      {"the first of two failures",
       concat({kMarker, drop(account_section("1"), "РасчСчет"), {"a=b"}, kEnd}),
       "MissingField(5, [РасчСчет], Account)"},
      {"a failure after dropped documents",
       concat({kMarker, {"СекцияДокумент=", "КонецДокумента", "x=y"}, kEnd}),
       "UnexpectedAttribute(4, [x], [y])"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(outcome(run(c.lines)), c.want);
  }
}

TEST(Read, ReportsAnUnrecognizedLineBeforeAnythingElse) {
  const struct {
    std::string_view what;
    Lines lines;
    std::string want;
  } cases[] = {
      {"after the end of file", concat({kMarker, account_section("1"), kEnd, {"", "мусор"}}),
       "UnrecognizedLine(9, [мусор])"},
      {"after an earlier unexpected attribute",
       concat({kMarker, account_section("1"), {"a=b"}, kEnd, {"КонецФайла "}}),
       "UnrecognizedLine(9, [КонецФайла ])"},
      {"after an earlier unexpected section",
       {"1CClientBankExchange", "КонецФайла", "x"},
       "UnrecognizedLine(3, [x])"},
      {"after an earlier account failure",
       concat({kMarker, drop(account_section("1"), "РасчСчет"), kEnd, {"СекцияДокумент"}}),
       "UnrecognizedLine(7, [СекцияДокумент])"},
      {"in an unfinished text", concat({kMarker, account_section("1"), {"конецфайла"}}),
       "UnrecognizedLine(7, [конецфайла])"},
      {"the first of two", concat({kMarker, {"one", "two"}}), "UnrecognizedLine(2, [one])"},
      {"end of file with a stray carriage return",
       concat({kMarker, account_section("1"), {"КонецФайла\r"}}),
       "UnrecognizedLine(7, [КонецФайла\r])"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(outcome(run(c.lines)), c.want);
  }
}

TEST(ReadHooks, SeeNothingWhenALineIsUnrecognized) {
  // Hooks may act on the outside world, so no hook runs for a text that fails to lex, wherever
  // the bad line stands.
  const struct {
    std::string_view what;
    Lines lines;
    std::string want;
  } cases[] = {
      {"after the end of file",
       concat({kMarker, account_section("1"), document_section("1"), kEnd, {"мусор"}}),
       "UnrecognizedLine(22, [мусор])"},
      {"inside the last section",
       concat({kMarker, account_section("1"), {"СекцияРасчСчет", "мусор"}, kEnd}),
       "UnrecognizedLine(8, [мусор])"},
      {"after a section whose hook fails", concat({kMarker, account_section("1"), {"мусор"}, kEnd}),
       "UnrecognizedLine(7, [мусор])"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> log;
    TestHook first("first", log, [](SectionType, AttrMap&, const AttrMap&) {
      return HookOutcome::fail("should not run");
    });
    TestHook second("second", log);
    EXPECT_EQ(outcome(run(c.lines, {&first, &second})), c.want);
    EXPECT_EQ(log, std::vector<std::string>{});
  }
}

TEST(ReadHooks, RunInListOrderForEverySectionWithTheHeader) {
  std::vector<std::string> log;
  TestHook first("first", log);
  TestHook second("second", log);
  const auto r = run(concat({{"1CClientBankExchange", "Отправитель=Банк", "Версия=1"},
                             {"СекцияРасчСчет", "РасчСчет=1", "ДатаНачала=01.01.2024",
                              "НачальныйОстаток=0", "РасчСчет=2", "КонецРасчСчет"},
                             {"СекцияДокумент=Тип", "Номер=7", "КонецДокумента"},
                             kEnd}),
                     {&first, &second});
  ASSERT_EQ(outcome(r), "statement");
  EXPECT_EQ(log, (std::vector<std::string>{
                     "first account {РасчСчет=2, ДатаНачала=01.01.2024, НачальныйОстаток=0}",
                     "second account {РасчСчет=2, ДатаНачала=01.01.2024, НачальныйОстаток=0}",
                     // The document type is not among the attributes.
                     "first document {Номер=7}",
                     "second document {Номер=7}",
                 }));
  EXPECT_EQ(first.headers, std::vector<std::string>(2, "{Отправитель=Банк, Версия=1}"));
  EXPECT_EQ(describe(r.value().header), "{Отправитель=Банк, Версия=1}");
  EXPECT_EQ(accounts(r.value()), std::vector<std::string>{"2: 2024-01-01"});
  // The document lacked most keys: hooks ran for it all the same.
  EXPECT_EQ(warnings(r.value()), std::vector<std::string>{"12: missing field `Дата`"});
}

TEST(ReadHooks, ChangesReachTheBuildersAndLaterHooks) {
  const auto set = [](std::string key, std::string value) {
    return [key, value](SectionType, AttrMap& attrs, const AttrMap&) {
      attrs.insert(key, value);
      return HookOutcome::proceed();
    };
  };
  const auto remove = [](std::string key) {
    return [key](SectionType, AttrMap& attrs, const AttrMap&) {
      AttrMap kept;
      for (const auto& e : attrs) {
        if (e.key != key) {
          kept.insert(e.key, e.value);
        }
      }
      attrs = kept;
      return HookOutcome::proceed();
    };
  };
  std::vector<std::string> log;
  // Lines: document 2-15, account 16-20 (without number), end 21.
  const Lines lines =
      concat({kMarker, document_section("1"), drop(account_section("x"), "РасчСчет"), kEnd});
  TestHook renumber("renumber", log, [](SectionType type, AttrMap& attrs, const AttrMap&) {
    if (type == SectionType::Document) {
      attrs.insert("Номер", "99");
      attrs.insert("СекцияДокумент", "Не тип");
    } else {
      attrs.insert("РасчСчет", "40702");
    }
    return HookOutcome::proceed();
  });
  TestHook observer("observer", log);
  const auto r = run(lines, {&renumber, &observer});
  ASSERT_EQ(outcome(r), "statement");
  EXPECT_EQ(doc_numbers(r.value()), std::vector<std::string>{"99"});
  EXPECT_EQ(r.value().documents[0].text(DocField::DocType), "Платежное поручение");
  EXPECT_EQ(accounts(r.value()), std::vector<std::string>{"40702: 2024-03-01"});
  ASSERT_EQ(log.size(), 4U);
  EXPECT_TRUE(log[1].starts_with("observer document {Номер=99,")) << log[1];
  EXPECT_TRUE(log[1].ends_with("СекцияДокумент=Не тип}")) << log[1];
  EXPECT_EQ(log[3],
            "observer account {ДатаНачала=01.03.2024, НачальныйОстаток=100.00, РасчСчет=40702}");

  // A removed key is missing for the builder.
  std::vector<std::string> unused;
  TestHook remover("remover", unused, remove("Номер"));
  const auto removed = run(concat({kMarker, document_section("1"), kEnd}), {&remover});
  ASSERT_EQ(outcome(removed), "statement");
  EXPECT_EQ(doc_numbers(removed.value()), std::vector<std::string>{});
  EXPECT_EQ(warnings(removed.value()), std::vector<std::string>{"15: missing field `Номер`"});

  // A bad value put in by a hook fails the account at its closing line.
  TestHook breaker("breaker", unused, set("НачальныйОстаток", "1,5"));
  EXPECT_EQ(outcome(run(concat({kMarker, account_section("1"), kEnd}), {&breaker})),
            "AccountParseError(6, [invalid value: string \"1,5\", expected a Decimal type "
            "representing a fixed-point number])");
}

TEST(ReadHooks, StopAtTheFirstOutcomeThatIsNotContinue) {
  // Lines: account 2-6, document 7-20, document 21-34, end 35.
  const Lines lines =
      concat({kMarker, account_section("1"), document_section("1"), document_section("2"), kEnd});
  const struct {
    std::string_view what;
    // The first hook's answer for the document numbered "1" and for the account.
    HookOutcome for_document;
    HookOutcome for_account;
    std::string outcome;
    std::vector<std::string> warnings;
    std::vector<std::string> documents;
    std::vector<std::string> accounts;
    std::vector<std::string> second_saw;
  } cases[] = {
      {"all continue",
       HookOutcome::proceed(),
       HookOutcome::proceed(),
       "statement",
       {},
       {"1", "2"},
       {"1: 2024-03-01"},
       {"account", "document 1", "document 2"}},
      {"warning drops the document",
       HookOutcome::warn("skip 'it'"),
       HookOutcome::proceed(),
       "statement",
       {"20: skip 'it'"},
       {"2"},
       {"1: 2024-03-01"},
       {"account", "document 2"}},
      {"warning drops the account",
       HookOutcome::proceed(),
       HookOutcome::warn("no account"),
       "statement",
       {"6: no account"},
       {"1", "2"},
       {},
       {"document 1", "document 2"}},
      {"empty warning",
       HookOutcome::warn(""),
       HookOutcome::proceed(),
       "statement",
       {"20: "},
       {"2"},
       {"1: 2024-03-01"},
       {"account", "document 2"}},
      {"failure ends the parse at the closing line",
       HookOutcome::fail("ValueError: bad"),
       HookOutcome::proceed(),
       "HookError(20, [ValueError: bad])",
       {},
       {},
       {},
       {"account"}},
      {"failure on the account",
       HookOutcome::proceed(),
       HookOutcome::fail("no"),
       "HookError(6, [no])",
       {},
       {},
       {},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> log;
    TestHook first("first", log, [&](SectionType type, AttrMap& attrs, const AttrMap&) {
      if (type == SectionType::Account) {
        return c.for_account;
      }
      return *attrs.find("Номер") == "1" ? c.for_document : HookOutcome::proceed();
    });
    std::vector<std::string> second_saw;
    std::vector<std::string> unused;
    TestHook second("second", unused, [&](SectionType type, AttrMap& attrs, const AttrMap&) {
      second_saw.push_back(type == SectionType::Account ? "account"
                                                        : "document " + *attrs.find("Номер"));
      return HookOutcome::proceed();
    });
    const auto r = run(lines, {&first, &second});
    ASSERT_EQ(outcome(r), c.outcome);
    EXPECT_EQ(second_saw, c.second_saw);
    if (r) {
      EXPECT_EQ(warnings(r.value()), c.warnings);
      EXPECT_EQ(doc_numbers(r.value()), c.documents);
      EXPECT_EQ(accounts(r.value()), c.accounts);
    }
  }
}

TEST(ReadHooks, WarningsKeepTheOrderInWhichTheyArise) {
  // Lines: documents 2-15, 16-18 (bad), 19-32, 33-46; end 47.
  const Lines lines = concat({kMarker,
                              document_section("1"),
                              {"СекцияДокумент=", "Номер=2", "КонецДокумента"},
                              document_section("3"),
                              document_section("4"),
                              kEnd});
  std::vector<std::string> log;
  TestHook hook("hook", log, [](SectionType, AttrMap& attrs, const AttrMap&) {
    const std::string number = *attrs.find("Номер");
    return number == "3" || number == "1" ? HookOutcome::warn("dropped " + number)
                                          : HookOutcome::proceed();
  });
  const auto r = run(lines, {&hook});
  ASSERT_EQ(outcome(r), "statement");
  EXPECT_EQ(
      warnings(r.value()),
      (std::vector<std::string>{"15: dropped 1", "18: missing field `Дата`", "32: dropped 3"}));
  EXPECT_EQ(doc_numbers(r.value()), std::vector<std::string>{"4"});
}

TEST(ReadHooks, ExceptionsPassThrough) {
  std::vector<std::string> log;
  TestHook thrower("thrower", log, [](SectionType, AttrMap&, const AttrMap&) -> HookOutcome {
    throw std::runtime_error("hook failed");
  });
  EXPECT_THROW(static_cast<void>(run(concat({kMarker, account_section("1"), kEnd}), {&thrower})),
               std::runtime_error);
}

// Reading windows-1251 in its own bytes must read exactly what the whole decoded text reads, also
// where a section is long or a failure comes after such a section.
TEST(ReadWindows1251, ReadsWhatTheDecodedTextReads) {
  std::string long_value;
  for (int i = 0; i < 100'000; ++i) {
    long_value += "Ж";
  }
  Lines long_section = document_section("2");
  long_section.insert(long_section.end() - 1, "НазначениеПлатежа=" + long_value);
  Lines many_lines = {"СекцияДокумент=Платежное поручение"};
  for (int i = 0; i < 20'000; ++i) {
    many_lines.push_back("Поле" + std::to_string(i) + "=значение " + std::to_string(i));
  }
  Lines tail = document_section("3");
  many_lines.insert(many_lines.end(), tail.begin() + 1, tail.end());
  const struct {
    std::string_view what;
    Lines lines;
  } cases[] = {
      {"small", concat({kMarker,
                        {"Отправитель=Бухгалтерия"},
                        account_section("1"),
                        document_section("1"),
                        kEnd})},
      {"a line longer than a buffer",
       concat({kMarker, document_section("1"), long_section, document_section("3"), kEnd})},
      {"a section of many buffers", concat({kMarker, many_lines, document_section("4"), kEnd})},
      {"a failure after a long section",
       concat({kMarker, long_section, {"КонецДокумента"}, many_lines, kEnd})},
      {"an unrecognized line after a failure",
       concat({kMarker, long_section, {"Поле=1"}, many_lines, {"Секция Документ"}, kEnd})},
      {"a document with a warning",
       concat({kMarker, {"СекцияДокумент=", "Номер=1", "КонецДокумента"}, long_section, kEnd})},
      {"unfinished", concat({kMarker, long_section, many_lines})},
  };
  std::vector<std::string> log;
  TestHook hook("hook", log);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string text = statement_text(c.lines);
    const std::string cp1251 = to_cp1251(text);
    for (const std::vector<SectionHook*>& hooks :
         {std::vector<SectionHook*>{}, std::vector<SectionHook*>{&hook}}) {
      const auto expected = testing::read_decoded(text, Encoding::Cp1251, hooks);
      const auto streamed = read(cp1251, Encoding::Cp1251, hooks);
      ASSERT_EQ(outcome(streamed), outcome(expected));
      if (expected) {
        EXPECT_TRUE(streamed.value() == expected.value());
      }
    }
  }
}

// Every text that leaves the reader is UTF-8, whichever bytes it was read in: the failures that
// quote a line, a key or a value, the warnings that quote an amount, the records and the header.
TEST(ReadWindows1251, QuotesAndStoresDecodedTexts) {
  const Lines document_with_bad_amount = {"СекцияДокумент=Платёжное «поручение»", "Номер=1",
                                          "Сумма=сто рублей", "КонецДокумента"};
  Lines account_with_bad_date = account_section("40702810№1");
  account_with_bad_date.insert(account_with_bad_date.begin() + 1, "ДатаКонца=1 января");
  Lines hooked_document = document_section("7");
  hooked_document.front() = "СекцияДокумент=Банковский ордер";
  const struct {
    std::string_view what;
    Lines lines;
  } cases[] = {
      {"an attribute between sections",
       concat({kMarker, account_section("1"), {"Ключ=значение\xC2\xA0№"}, kEnd})},
      {"a document opening where it does not belong",
       concat({kMarker, {"СекцияРасчСчет", "СекцияДокумент=Ордер «№ 5»"}})},
      {"a keyword in the wrong place", concat({kMarker, {"КонецДокумента"}, kEnd})},
      {"an unrecognized line", concat({kMarker, {"Секция Документ — ошибка"}, kEnd})},
      {"a blank line of no-break spaces",
       concat({kMarker, {"\xC2\xA0\xC2\xA0\t"}, account_section("1"), kEnd})},
      {"a bad amount", concat({kMarker, {"Отправитель=Ёлка"}, document_with_bad_amount, kEnd})},
      {"a bad account date", concat({kMarker, account_with_bad_date, kEnd})},
      {"records and header", concat({kMarker,
                                     {"Получатель=ООО «Ёж»", "Получатель=ООО «Ёж и №»"},
                                     account_section("1"),
                                     hooked_document,
                                     kEnd})},
  };
  std::vector<std::string> log;
  TestHook hook("hook", log);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string text = statement_text(c.lines);
    for (const std::vector<SectionHook*>& hooks :
         {std::vector<SectionHook*>{}, std::vector<SectionHook*>{&hook}}) {
      const auto expected = testing::read_decoded(text, Encoding::Cp1251, hooks);
      const auto undecoded = read(to_cp1251(text), Encoding::Cp1251, hooks);
      ASSERT_EQ(outcome(undecoded), outcome(expected));
      if (expected) {
        EXPECT_TRUE(undecoded.value() == expected.value());
      } else {
        EXPECT_EQ(undecoded.error(), expected.error());
      }
    }
  }
}

}  // namespace
}  // namespace tarvik
