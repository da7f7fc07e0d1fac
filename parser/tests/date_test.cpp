#include "date.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace tarvik {

using DateResult = Result<Date, DateError>;
using OptionalDateResult = Result<std::optional<Date>, DateError>;

// Readable failure output; internal so that other test files may print results their own way.
static void PrintTo(const DateResult& result, std::ostream* os) {
  *os << (result ? date_text(*result) : "error: " + std::string(message(result.error())));
}
static void PrintTo(const OptionalDateResult& result, std::ostream* os) {
  if (!result) {
    *os << "error: " << message(result.error());
  } else {
    *os << (result->has_value() ? date_text(**result) : "absent");
  }
}

namespace {

TEST(ParseDate, ReadsDayMonthYear) {
  const struct {
    std::string_view text;
    DateResult want;
  } cases[] = {
      {"01.02.2024", Date{2024, 2, 1}},
      {"1.2.2024", Date{2024, 2, 1}},
      {" 01.02.2024", Date{2024, 2, 1}},
      {"01. 02.2024", Date{2024, 2, 1}},  // white space before the month is skipped
      {"01.02. 2024", Date{2024, 2, 1}},  // and before the year
      {"\t\n01.\v02.\f\r2024", Date{2024, 2, 1}},
      // White space beyond ASCII: U+00A0, U+3000, U+2003, U+2028, U+0085.
      {"\u00A001.\u3000\u200302.\u2028\u00852024", Date{2024, 2, 1}},
      {"31.12.9999", Date{9999, 12, 31}},
      {"01.01.0", Date{0, 1, 1}},
      {"5.6.24", Date{24, 6, 5}},  // a short year is taken at face value
      {"5.6.024", Date{24, 6, 5}},
      {"01.02.+20245", Date{20245, 2, 1}},
      {"01.02.-0001", Date{-1, 2, 1}},
      {"01.02.-0", Date{0, 2, 1}},
      {"01.02.+0000000000000000000000002024", Date{2024, 2, 1}},  // digits unlimited after a sign
      {"31.12.+262142", Date{262142, 12, 31}},
      {"01.01.-262143", Date{-262143, 1, 1}},
      {"29.02.2024", Date{2024, 2, 29}},
      {"29.02.2000", Date{2000, 2, 29}},
      {"29.02.0", Date{0, 2, 29}},
      {"29.02.-4", Date{-4, 2, 29}},
      {"29.02.-400", Date{-400, 2, 29}},
      {"31.01.2024", Date{2024, 1, 31}},
      {"30.04.2024", Date{2024, 4, 30}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_date(c.text), c.want);
  }
}

TEST(ParseDate, FirstFailingStepDecidesTheMessage) {
  const struct {
    std::string_view text;
    DateError want;
  } cases[] = {
      {"01.02.2024 ", DateError::TrailingInput},
      {"01.02.2024\u00A0", DateError::TrailingInput},
      {"01.02.2024x", DateError::TrailingInput},
      {"01.02.20245", DateError::TrailingInput},      // an unsigned year has at most four digits
      {"01 .02.2024", DateError::InvalidCharacters},  // no white space before a dot
      {"01.02 .2024", DateError::InvalidCharacters},
      {"011.02.2024", DateError::InvalidCharacters},
      {"001.02.2024", DateError::OutOfRange},  // day 00 is checked before the dot is read
      {"31.02.2024", DateError::OutOfRange},
      {"00.01.2024", DateError::OutOfRange},
      {"29.02.2023", DateError::OutOfRange},
      {"29.02.1900", DateError::OutOfRange},
      {"29.02.-100", DateError::OutOfRange},
      {"31.04.2024", DateError::OutOfRange},
      {"32.01.2024", DateError::OutOfRange},
      {"01.13.2024", DateError::OutOfRange},
      {"01.00.2024", DateError::OutOfRange},
      {"32.01.2024x", DateError::OutOfRange},     // the day's range is checked at once
      {"31.02.2024x", DateError::TrailingInput},  // but whether the day exists only at the end
      {"01.01.+262143", DateError::OutOfRange},
      {"31.12.-262144", DateError::OutOfRange},
      {"01.01.+2147483647", DateError::OutOfRange},
      {"01.01.+2147483648", DateError::OutOfRange},
      {"01.01.-2147483648", DateError::OutOfRange},
      {"01.01.+9223372036854775807", DateError::OutOfRange},
      {"01.01.+99999999999999999999999", DateError::OutOfRange},
      {"01.01.+99999999999999999999999x", DateError::OutOfRange},  // the year fails first
      {"01.01.+300000x", DateError::TrailingInput},  // fits 32 bits: leftovers are seen first
      // The most negative 32-bit year fits as well, one further does not.
      {"01.01.-2147483648x", DateError::TrailingInput},
      {"01.01.-0002147483648 ", DateError::TrailingInput},
      {"01.01.-2147483649x", DateError::OutOfRange},
      {"01.01.+2147483648x", DateError::OutOfRange},
      {"01.01.+2147483647x", DateError::TrailingInput},
      {"01.02", DateError::PrematureEnd},
      {"01", DateError::PrematureEnd},
      {"01.", DateError::PrematureEnd},
      {"01. ", DateError::PrematureEnd},
      {"01.02.", DateError::PrematureEnd},
      {"01.02. ", DateError::PrematureEnd},
      {"01.02.+", DateError::PrematureEnd},
      {"01.02.-", DateError::PrematureEnd},
      {"01.02.+x", DateError::InvalidCharacters},
      {"01.02.+ 2024", DateError::InvalidCharacters},
      {"01.02.x", DateError::InvalidCharacters},
      {"01.02.++2024", DateError::InvalidCharacters},
      {"2024-02-01", DateError::InvalidCharacters},
      {"x01.02.2024", DateError::InvalidCharacters},
      {"+1.02.2024", DateError::InvalidCharacters},
      {"01/02/2024", DateError::InvalidCharacters},
      {"\u0661.02.2024", DateError::InvalidCharacters},    // only ASCII digits count
      {"\u200B01.02.2024", DateError::InvalidCharacters},  // U+200B is not White_Space
      {"\xC2", DateError::InvalidCharacters},              // ill-formed UTF-8 is not blank
      {std::string_view("01.02.2024\0", 11), DateError::TrailingInput},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_date(c.text), DateResult(Err{c.want}));
  }
}

TEST(ParseDate, BlankIsAbsentOnlyWhenOptional) {
  const struct {
    std::string_view text;
    DateResult want_required;
    OptionalDateResult want_optional;
  } cases[] = {
      {"", Err{DateError::Blank}, std::optional<Date>()},
      {"   ", Err{DateError::Blank}, std::optional<Date>()},
      {"\t\u3000\u00A0\r\n", Err{DateError::Blank}, std::optional<Date>()},
      {"01.02.2024", Date{2024, 2, 1}, std::optional<Date>(Date{2024, 2, 1})},
      {" 01.02.2024", Date{2024, 2, 1}, std::optional<Date>(Date{2024, 2, 1})},
      {"01.02.2024 ", Err{DateError::TrailingInput}, Err{DateError::TrailingInput}},
      {"x", Err{DateError::InvalidCharacters}, Err{DateError::InvalidCharacters}},
      {std::string_view("\0", 1), Err{DateError::InvalidCharacters},
       Err{DateError::InvalidCharacters}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_date(c.text), c.want_required);
    EXPECT_EQ(parse_optional_date(c.text), c.want_optional);
  }
}

TEST(ParseDate, AgreesWithTheCivilCalendar) {
  // Every day number 1..31 of every month, against std::chrono's own validity rule.
  for (int year = -2000; year <= 10000; ++year) {
    const std::string year_text = (year < 0 ? "-" : "+") + std::to_string(year < 0 ? -year : year);
    for (unsigned month = 1; month <= 12; ++month) {
      for (unsigned day = 1; day <= 31; ++day) {
        const std::string text =
            std::to_string(day) + "." + std::to_string(month) + "." + year_text;
        const std::chrono::year_month_day ymd{std::chrono::year{year}, std::chrono::month{month},
                                              std::chrono::day{day}};
        const DateResult want =
            ymd.ok() ? Result<Date, DateError>(Date{year, static_cast<std::uint8_t>(month),
                                                    static_cast<std::uint8_t>(day)})
                     : Result<Date, DateError>(Err{DateError::OutOfRange});
        const auto got = parse_date(text);
        if (got != want) {
          ADD_FAILURE() << text;
          return;
        }
      }
    }
  }
}

TEST(DateError, MessagesAreExact) {
  const struct {
    DateError error;
    std::string_view want;
  } cases[] = {
      {DateError::Blank, "empty string is not a valid date"},
      {DateError::PrematureEnd, "premature end of input"},
      {DateError::InvalidCharacters, "input contains invalid characters"},
      {DateError::TrailingInput, "trailing input"},
      {DateError::OutOfRange, "input is out of range"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.want);
    EXPECT_EQ(message(c.error), c.want);
  }
}

TEST(DateText, WritesIsoFormWithSignOutsideFourDigits) {
  const struct {
    Date date;
    std::string_view want;
  } cases[] = {
      {{2024, 3, 5}, "2024-03-05"},
      {{999, 12, 31}, "0999-12-31"},
      {{0, 1, 1}, "0000-01-01"},
      {{9999, 12, 31}, "9999-12-31"},
      {{10000, 1, 1}, "+10000-01-01"},
      {{-1, 6, 15}, "-0001-06-15"},
      {{-262143, 1, 1}, "-262143-01-01"},
      {{262142, 12, 31}, "+262142-12-31"},
      {{INT32_MIN, 1, 1}, "-2147483648-01-01"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.want);
    EXPECT_EQ(date_text(c.date), c.want);
    std::string out = "d=";
    append_date_text(out, c.date);
    EXPECT_EQ(out, "d=" + std::string(c.want));
  }
}

}  // namespace
}  // namespace tarvik
