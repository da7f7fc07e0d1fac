#include "account_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fixtures.h"

namespace tarvik {
namespace {

using testing::amount;
using testing::describe;

std::string amount_message(std::string_view quoted) {
  return "invalid value: string " + std::string(quoted) +
         ", expected a Decimal type representing a fixed-point number";
}

AccountValues values_of(const AttrMap& section) {
  AccountValues values;
  for (const auto& e : section) {
    const int rank = account_key_rank(e.key);
    if (rank >= 0) {
      values[static_cast<std::size_t>(rank)] = e.value;
    }
  }
  return values;
}

// Accounts as "number: interval; interval" lines, in book order.
std::vector<std::string> render(AccountBook book) {
  std::vector<std::string> out;
  for (const Account& a : std::move(book).release()) {
    std::string line = "[" + a.number + "]:";
    for (const Interval& i : a.intervals) {
      line += " " + describe(i) + ";";
    }
    out.push_back(line);
  }
  return out;
}

std::string render(const Result<Ok, SyntaxDetail>& r) {
  return r ? "ok" : testing::describe(r.error());
}

// Records `sections` one by one; returns the outcome of every call and the final book.
struct Recorded {
  std::vector<std::string> outcomes;
  std::vector<std::string> accounts;
};

Recorded record_all(const std::vector<AttrMap>& sections) {
  AccountBook book;
  Recorded out;
  std::uint64_t lineno = 10;
  for (const AttrMap& s : sections) {
    out.outcomes.push_back(render(record_interval(values_of(s), book, lineno)));
    lineno += 10;
  }
  out.accounts = render(book);
  return out;
}

AttrMap minimal(std::string_view number = "40702810000000000001",
                std::string_view date_start = "01.03.2024",
                std::string_view start_amount = "100.00") {
  return {{"ДатаНачала", std::string(date_start)},
          {"НачальныйОстаток", std::string(start_amount)},
          {"РасчСчет", std::string(number)}};
}

AttrMap with(AttrMap section, std::string_view key, std::string_view value) {
  section.insert(key, value);
  return section;
}

AttrMap without(const AttrMap& section, std::string_view key) {
  AttrMap out;
  for (const auto& e : section) {
    if (e.key != key) {
      out.insert(e.key, e.value);
    }
  }
  return out;
}

TEST(AccountKeyRank, NumbersTheKeysByTheirBytes) {
  const std::string_view ordered[] = {
      "ВсегоПоступило",  "ВсегоСписано",     "ДатаКонца", "ДатаНачала",
      "КонечныйОстаток", "НачальныйОстаток", "РасчСчет",
  };
  static_assert(std::size(ordered) == kAccountKeyCount);
  for (std::size_t i = 0; i < kAccountKeyCount; ++i) {
    SCOPED_TRACE(ordered[i]);
    EXPECT_EQ(account_key_rank(ordered[i]), static_cast<int>(i));
    EXPECT_EQ(account_key(i), ordered[i]);
  }
  for (std::string_view other : {"", "РасчСчет ", "расчсчет", "Номер", "ДатаНачала1"}) {
    SCOPED_TRACE(other);
    EXPECT_EQ(account_key_rank(other), -1);
  }
}

TEST(RecordInterval, BuildsTheIntervalFromItsKeys) {
  const struct {
    std::string_view what;
    AttrMap section;
    std::string want;  // the account line after recording
  } cases[] = {
      {"required keys only", minimal(),
       "[40702810000000000001]: 2024-03-01..- start=100.00 end=- in=- out=-;"},
      {"every key",
       {{"РасчСчет", "40702810000000000001"},
        {"ДатаНачала", "01.03.2024"},
        {"ДатаКонца", "31.03.2024"},
        {"НачальныйОстаток", "100.00"},
        {"КонечныйОстаток", "-5"},
        {"ВсегоПоступило", "10.5"},
        {"ВсегоСписано", "115.50"}},
       "[40702810000000000001]: 2024-03-01..2024-03-31 start=100.00 end=-5 in=10.5 out=115.50;"},
      {"empty end date is absent", with(minimal(), "ДатаКонца", ""),
       "[40702810000000000001]: 2024-03-01..- start=100.00 end=- in=- out=-;"},
      {"blank end date is absent", with(minimal(), "ДатаКонца", "  \xC2\xA0"),
       "[40702810000000000001]: 2024-03-01..- start=100.00 end=- in=- out=-;"},
      {"empty account number is a number", minimal(""),
       "[]: 2024-03-01..- start=100.00 end=- in=- out=-;"},
      {"number keeps its spaces", minimal(" 4070 "),
       "[ 4070 ]: 2024-03-01..- start=100.00 end=- in=- out=-;"},
      {"other keys are ignored", with(with(minimal(), "Номер", "x"), "ДатаСоздания", "not a date"),
       "[40702810000000000001]: 2024-03-01..- start=100.00 end=- in=- out=-;"},
      {"amount scale as written", minimal("1", "01.03.2024", "1e2"),
       "[1]: 2024-03-01..- start=100 end=- in=- out=-;"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Recorded r = record_all({c.section});
    EXPECT_EQ(r.outcomes, std::vector<std::string>{"ok"});
    EXPECT_EQ(r.accounts, std::vector<std::string>{c.want});
  }
}

TEST(RecordInterval, ReportsTheFirstFailureInKeyOrder) {
  const AttrMap full = {
      {"РасчСчет", "1"},         {"ДатаНачала", "01.03.2024"}, {"ДатаКонца", "31.03.2024"},
      {"НачальныйОстаток", "1"}, {"КонечныйОстаток", "2"},     {"ВсегоПоступило", "3"},
      {"ВсегоСписано", "4"},
  };
  const struct {
    std::string_view what;
    AttrMap section;
    std::string want;
  } cases[] = {
      {"date with dashes", with(full, "ДатаНачала", "2024-03-01"),
       "AccountParseError(10, [input contains invalid characters])"},
      {"empty start date", with(full, "ДатаНачала", ""),
       "AccountParseError(10, [empty string is not a valid date])"},
      {"empty optional amount is not absent", with(full, "ВсегоПоступило", ""),
       "AccountParseError(10, [" + amount_message("\"\"") + "])"},
      {"bad end date", with(full, "ДатаКонца", "32.01.2024"),
       "AccountParseError(10, [input is out of range])"},
      {"expense before start balance",
       with(with(full, "НачальныйОстаток", "b"), "ВсегоСписано", "a"),
       "AccountParseError(10, [" + amount_message("\"a\"") + "])"},
      {"income before expense", with(with(full, "ВсегоСписано", "b"), "ВсегоПоступило", "a"),
       "AccountParseError(10, [" + amount_message("\"a\"") + "])"},
      {"end date before start date",
       with(with(full, "ДатаНачала", "1.1"), "ДатаКонца", "2024-01-01"),
       "AccountParseError(10, [input contains invalid characters])"},
      {"start date before end balance",
       with(with(full, "КонечныйОстаток", "x"), "ДатаНачала", "1.1"),
       "AccountParseError(10, [premature end of input])"},
      {"end balance before start balance",
       with(with(full, "НачальныйОстаток", "b"), "КонечныйОстаток", "a"),
       "AccountParseError(10, [" + amount_message("\"a\"") + "])"},
      {"bad value beats a missing start date",
       with(without(full, "ДатаНачала"), "ВсегоПоступило", "a"),
       "AccountParseError(10, [" + amount_message("\"a\"") + "])"},
      {"bad value beats a missing number", with(without(full, "РасчСчет"), "ДатаКонца", "x"),
       "AccountParseError(10, [input contains invalid characters])"},
      {"missing start date before missing start balance and number",
       without(without(without(full, "ДатаНачала"), "НачальныйОстаток"), "РасчСчет"),
       "AccountParseError(10, [missing field `ДатаНачала`])"},
      {"missing start balance before missing number",
       without(without(full, "НачальныйОстаток"), "РасчСчет"),
       "AccountParseError(10, [missing field `НачальныйОстаток`])"},
      {"missing number", without(full, "РасчСчет"), "MissingField(10, [РасчСчет], Account)"},
      {"number key with a trailing space is not the number",
       with(without(full, "РасчСчет"), "РасчСчет ", "1"), "MissingField(10, [РасчСчет], Account)"},
      {"empty section", AttrMap{}, "AccountParseError(10, [missing field `ДатаНачала`])"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Recorded r = record_all({c.section});
    EXPECT_EQ(r.outcomes, std::vector<std::string>{c.want});
    EXPECT_EQ(r.accounts, std::vector<std::string>{}) << "a failed section left an account";
  }
}

TEST(RecordInterval, FailureLeavesTheBookUnchanged) {
  const Recorded r = record_all({minimal("222"), with(minimal("222"), "ДатаКонца", "x"),
                                 with(minimal("111"), "ВсегоСписано", "")});
  EXPECT_EQ(r.outcomes, (std::vector<std::string>{
                            "ok", "AccountParseError(20, [input contains invalid characters])",
                            "AccountParseError(30, [" + amount_message("\"\"") + "])"}));
  EXPECT_EQ(r.accounts,
            std::vector<std::string>{"[222]: 2024-03-01..- start=100.00 end=- in=- out=-;"});
}

TEST(RecordInterval, FilesIntervalsByStartDateAndDropsRepeats) {
  const struct {
    std::string_view what;
    std::vector<AttrMap> sections;
    std::vector<std::string> want;
  } cases[] = {
      {"January then February",
       {minimal("1", "01.01.2024"), minimal("1", "01.02.2024")},
       {"[1]: 2024-01-01..- start=100.00 end=- in=- out=-; "
        "2024-02-01..- start=100.00 end=- in=- out=-;"}},
      {"February then January",
       {minimal("1", "01.02.2024"), minimal("1", "01.01.2024")},
       {"[1]: 2024-01-01..- start=100.00 end=- in=- out=-; "
        "2024-02-01..- start=100.00 end=- in=- out=-;"}},
      {"scrambled dates come out sorted",
       {minimal("1", "05.01.2024"), minimal("1", "01.01.2024"), minimal("1", "04.01.2024"),
        minimal("1", "02.01.2024"), minimal("1", "03.01.2024")},
       {"[1]: 2024-01-01..- start=100.00 end=- in=- out=-; "
        "2024-01-02..- start=100.00 end=- in=- out=-; "
        "2024-01-03..- start=100.00 end=- in=- out=-; "
        "2024-01-04..- start=100.00 end=- in=- out=-; "
        "2024-01-05..- start=100.00 end=- in=- out=-;"}},
      {"equal start dates A, B, C, D give B, C, D, A",
       {minimal("1", "01.01.2024", "1"), minimal("1", "01.01.2024", "2"),
        minimal("1", "01.01.2024", "3"), minimal("1", "01.01.2024", "4")},
       {"[1]: 2024-01-01..- start=2 end=- in=- out=-; 2024-01-01..- start=3 end=- in=- out=-; "
        "2024-01-01..- start=4 end=- in=- out=-; 2024-01-01..- start=1 end=- in=- out=-;"}},
      {"an equal start date goes where the search lands",
       {minimal("1", "01.01.2024", "1"), minimal("1", "01.02.2024", "2"),
        minimal("1", "01.01.2024", "3")},
       {"[1]: 2024-01-01..- start=3 end=- in=- out=-; 2024-01-01..- start=1 end=- in=- out=-; "
        "2024-02-01..- start=2 end=- in=- out=-;"}},
      {"same figures with another scale keep the first",
       {minimal("1", "01.01.2024", "1000"), minimal("1", "01.01.2024", "1000.00")},
       {"[1]: 2024-01-01..- start=1000 end=- in=- out=-;"}},
      {"a repeat is found anywhere in the list",
       {minimal("1", "01.01.2024", "1"), minimal("1", "01.02.2024", "2"),
        minimal("1", "01.03.2024", "3"), minimal("1", "01.01.2024", "1.0")},
       {"[1]: 2024-01-01..- start=1 end=- in=- out=-; 2024-02-01..- start=2 end=- in=- out=-; "
        "2024-03-01..- start=3 end=- in=- out=-;"}},
      {"an absent figure differs from a present one",
       {minimal("1", "01.01.2024", "1"),
        with(minimal("1", "01.01.2024", "1"), "ВсегоСписано", "0")},
       {"[1]: 2024-01-01..- start=1 end=- in=- out=0; 2024-01-01..- start=1 end=- in=- out=-;"}},
      {"accounts in order of first appearance",
       {minimal("222", "01.02.2024"), minimal("111"), minimal("222", "01.01.2024")},
       {"[222]: 2024-01-01..- start=100.00 end=- in=- out=-; "
        "2024-02-01..- start=100.00 end=- in=- out=-;",
        "[111]: 2024-03-01..- start=100.00 end=- in=- out=-;"}},
      {"numbers differing in spaces are different accounts",
       {minimal("111"), minimal("111 ")},
       {"[111]: 2024-03-01..- start=100.00 end=- in=- out=-;",
        "[111 ]: 2024-03-01..- start=100.00 end=- in=- out=-;"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Recorded r = record_all(c.sections);
    EXPECT_EQ(r.outcomes, std::vector<std::string>(c.sections.size(), "ok"));
    EXPECT_EQ(r.accounts, c.want);
  }
}

TEST(AccountBook, TellsRepeatsByDatesAsDatesAndAmountsByValue) {
  const Interval base{Date{2024, 1, 1}, Date{2024, 1, 31}, amount(100000, 2),
                      amount(5, 0),     std::nullopt,      amount(0, 0)};
  const auto changed = [&](auto change) {
    Interval i = base;
    change(i);
    return i;
  };
  const struct {
    std::string_view what;
    Interval other;
    bool want;
  } cases[] = {
      {"identical", base, true},
      {"start balance with another scale",
       changed([](Interval& i) { i.start_amount = amount(1000, 0); }), true},
      {"zero with another scale", changed([](Interval& i) { i.total_expense = amount(0, 3); }),
       true},
      {"other start date", changed([](Interval& i) {
         i.date_start = Date{2024, 1, 2};
       }),
       false},
      {"end date absent", changed([](Interval& i) { i.date_end.reset(); }), false},
      {"other start balance", changed([](Interval& i) { i.start_amount = amount(100001, 2); }),
       false},
      {"negated end balance", changed([](Interval& i) { i.end_amount = amount(5, 0, true); }),
       false},
      {"end balance absent", changed([](Interval& i) { i.end_amount.reset(); }), false},
      {"income present", changed([](Interval& i) { i.total_income = amount(0, 0); }), false},
      {"expense absent", changed([](Interval& i) { i.total_expense.reset(); }), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const bool base_first : {true, false}) {
      AccountBook book;
      ASSERT_TRUE(book.add("40702810000000000001", base_first ? base : c.other));
      EXPECT_EQ(!book.add("40702810000000000001", base_first ? c.other : base), c.want);
    }
  }
}

TEST(AccountBook, FilesByExactNumberInOrderOfFirstSight) {
  Interval first;
  first.date_start = Date{2024, 1, 1};
  Interval second = first;
  second.date_start = Date{2024, 1, 2};
  AccountBook book;
  ASSERT_TRUE(book.add("222", first));
  ASSERT_TRUE(book.add("111", first));
  ASSERT_TRUE(book.add("222", second));
  ASSERT_TRUE(book.add("222 ", first));
  std::vector<std::string> numbers;
  std::vector<std::size_t> sizes;
  for (const Account& a : std::move(book).release()) {
    numbers.push_back(a.number);
    sizes.push_back(a.intervals.size());
  }
  EXPECT_EQ(numbers, (std::vector<std::string>{"222", "111", "222 "}));
  EXPECT_EQ(sizes, (std::vector<std::size_t>{2, 1, 1}));
}

}  // namespace
}  // namespace tarvik

namespace tarvik {
namespace {

// Files intervals one by one with the binary search over start dates that fixes their order.
std::vector<Interval> filed_one_by_one(const std::vector<Interval>& arrivals) {
  std::vector<Interval> list;
  for (const Interval& in : arrivals) {
    std::size_t size = list.size();
    std::size_t pos = 0;
    if (size > 0) {
      std::size_t base = 0;
      while (size > 1) {
        const std::size_t half = size / 2;
        if (!(in.date_start < list[base + half].date_start)) {
          base += half;
        }
        size -= half;
      }
      const Date at = list[base].date_start;
      pos = at == in.date_start ? base : (at < in.date_start ? base + 1 : base);
    }
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(pos), in);
  }
  return list;
}

TEST(OrderIntervals, MatchesFilingOneByOne) {
  std::uint32_t state = 12345;
  const auto next = [&state](std::uint32_t bound) {
    state = state * 1664525U + 1013904223U;
    return (state >> 8) % bound;
  };
  for (int trial = 0; trial < 2000; ++trial) {
    const std::uint32_t days = 1 + next(6);
    std::vector<Interval> arrivals(next(40));
    for (std::size_t i = 0; i < arrivals.size(); ++i) {
      arrivals[i].date_start = Date{2024, 1, static_cast<std::uint8_t>(1 + next(days))};
      arrivals[i].start_amount = Amount{i, 0, false};  // tells the intervals apart
    }
    std::vector<Interval> ordered = arrivals;
    order_intervals(ordered);
    ASSERT_EQ(ordered, filed_one_by_one(arrivals)) << "trial " << trial;
  }
}

// Sections that run backwards in time, or that share one start date, at a size where a shift of
// the whole list per section would show; how the time grows with their number is measured in
// bench/.
TEST(AccountBook, ManySectionsOfOneAccountEndInDateOrderWithoutRepeats) {
  const struct {
    const char* name;
    bool backwards;
  } cases[] = {{"backwards", true}, {"one start date", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    constexpr std::uint32_t kCount = 100'000;
    AccountBook book;
    for (std::uint32_t i = 0; i < kCount; ++i) {
      Interval in;
      const std::uint32_t n = c.backwards ? kCount - i : i;
      in.date_start = c.backwards ? Date{static_cast<std::int32_t>(2000 + n / 300),
                                         static_cast<std::uint8_t>(1 + n / 25 % 12),
                                         static_cast<std::uint8_t>(1 + n % 25)}
                                  : Date{2024, 1, 1};
      in.start_amount = Amount{n, 2, false};
      ASSERT_TRUE(book.add("40702810000000000001", in));
      // The same figures written with one more fraction digit are a repeat.
      Interval repeat = in;
      repeat.start_amount = Amount{U128{n} * 10, 3, false};
      ASSERT_FALSE(book.add("40702810000000000001", repeat));
    }
    const std::vector<Account> accounts = std::move(book).release();
    ASSERT_EQ(accounts.size(), 1U);
    ASSERT_EQ(accounts[0].intervals.size(), kCount);
    EXPECT_TRUE(std::is_sorted(
        accounts[0].intervals.begin(), accounts[0].intervals.end(),
        [](const Interval& a, const Interval& b) { return a.date_start < b.date_start; }));
  }
}

// windows-1251 sections are matched on undecoded keys, and the number and the failures quote
// decoded text.
TEST(RecordInterval, ReadsWindows1251AsItsUtf8Form) {
  for (std::size_t r = 0; r < kAccountKeyCount; ++r) {
    SCOPED_TRACE(account_key(r));
    EXPECT_EQ(account_key_rank(testing::to_cp1251(account_key(r)), Encoding::Cp1251),
              static_cast<int>(r));
    EXPECT_EQ(account_key_rank(account_key(r), Encoding::Cp1251), -1);
  }
  const AttrMap sections[] = {
      {{"ДатаНачала", "01.01.2024"}, {"НачальныйОстаток", "5"}, {"РасчСчет", "Счёт № 1"}},
      {{"ДатаНачала", "01.01.2024"}, {"НачальныйОстаток", "пять"}, {"РасчСчет", "1"}},
      {{"ДатаНачала", "\u00a001.01.2024"}, {"НачальныйОстаток", "5"}},
  };
  for (const AttrMap& section : sections) {
    SCOPED_TRACE(describe(section));
    std::vector<std::string> texts;
    texts.reserve(section.size());
    AccountValues values;
    for (const auto& e : section) {
      texts.push_back(testing::to_cp1251(e.value));
      values[static_cast<std::size_t>(account_key_rank(e.key))] = texts.back();
    }
    AccountBook utf8_book;
    AccountBook cp1251_book;
    const auto want = record_interval(values_of(section), utf8_book, 7);
    const auto got = record_interval(values, cp1251_book, 7, Encoding::Cp1251);
    ASSERT_EQ(got.has_value(), want.has_value());
    if (want) {
      EXPECT_EQ(render(std::move(cp1251_book)), render(std::move(utf8_book)));
    } else {
      EXPECT_EQ(got.error(), want.error());
    }
  }
}

}  // namespace
}  // namespace tarvik
