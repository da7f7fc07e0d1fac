// parse_date and parse_optional_date over any text. Properties: a date read is a real day in
// the supported years; its ISO text is well-formed and names the same day; that day written
// back as day.month.year reads as the same date; the optional form differs only on blank text;
// and every text reads as a second, step-by-step reading of the rule says, error kinds included.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "date.h"
#include "fuzz_util.h"

namespace {

using tarvik::Date;

bool is_leap(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(std::int64_t year, int month) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap(year) ? 29 : kDays[month - 1];
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool all_digits(std::string_view s) {
  if (s.empty()) {
    return false;
  }
  for (const char c : s) {
    if (c < '0' || c > '9') {
      return false;
    }
  }
  return true;
}

std::int64_t to_number(std::string_view digits) {
  std::int64_t n = 0;
  for (const char c : digits) {
    n = n * 10 + (c - '0');
  }
  return n;
}

// Reads the ISO text back by its own rule: an optional sign (required outside 0..9999), at
// least four year digits, then "-MM-DD".
void check_iso_text(const Date& d) {
  const std::string text = tarvik::date_text(d);
  std::string_view rest = text;
  bool negative = false;
  if (!rest.empty() && (rest.front() == '-' || rest.front() == '+')) {
    negative = rest.front() == '-';
    rest.remove_prefix(1);
    TARVIK_FUZZ_CHECK(d.year < 0 || d.year > 9999);
  } else {
    TARVIK_FUZZ_CHECK(d.year >= 0 && d.year <= 9999);
  }
  TARVIK_FUZZ_CHECK(rest.size() >= 10);
  const std::string_view year = rest.substr(0, rest.size() - 6);
  TARVIK_FUZZ_CHECK(year.size() >= 4 && all_digits(year));
  TARVIK_FUZZ_CHECK(rest[rest.size() - 6] == '-' && rest[rest.size() - 3] == '-');
  const std::string_view month = rest.substr(rest.size() - 5, 2);
  const std::string_view day = rest.substr(rest.size() - 2, 2);
  TARVIK_FUZZ_CHECK(all_digits(month) && all_digits(day));
  const std::int64_t y = negative ? -to_number(year) : to_number(year);
  TARVIK_FUZZ_CHECK(y == d.year);
  TARVIK_FUZZ_CHECK(to_number(month) == d.month && to_number(day) == d.day);
}

// The same day in the statement's own form; years outside four digits need their sign.
std::string statement_form(const Date& d) {
  std::string out = std::to_string(d.day) + "." + std::to_string(d.month) + ".";
  if (d.year < 0) {
    out += std::to_string(d.year);
  } else if (d.year > 9999) {
    out += "+" + std::to_string(d.year);
  } else {
    std::string y = std::to_string(d.year);
    out += std::string(4 - y.size(), '0') + y;
  }
  return out;
}

using tarvik::DateError;
using Reading = tarvik::Result<Date, DateError>;

void skip_white_space(std::string_view text, std::size_t& i) {
  while (const std::size_t n = tarvik::fuzz::white_space_at(text.substr(i))) {
    i += n;
  }
}

// Day or month: white space, then one or two digits, range-checked at once.
std::optional<DateError> day_or_month(std::string_view text, std::size_t& i, int max, int& out) {
  skip_white_space(text, i);
  if (i == text.size()) {
    return DateError::PrematureEnd;
  }
  if (!is_digit(text[i])) {
    return DateError::InvalidCharacters;
  }
  out = text[i++] - '0';
  if (i < text.size() && is_digit(text[i])) {
    out = out * 10 + (text[i++] - '0');
  }
  if (out < 1 || out > max) {
    return DateError::OutOfRange;
  }
  return std::nullopt;
}

std::optional<DateError> dot(std::string_view text, std::size_t& i) {
  if (i == text.size()) {
    return DateError::PrematureEnd;
  }
  if (text[i] != '.') {
    return DateError::InvalidCharacters;
  }
  ++i;
  return std::nullopt;
}

// The date rule step by step, the first step that fails deciding the error.
Reading date_reading(std::string_view text) {
  if (tarvik::fuzz::is_blank(text)) {
    return tarvik::Err{DateError::Blank};
  }
  std::size_t i = 0;
  int day = 0;
  int month = 0;
  if (auto e = day_or_month(text, i, 31, day)) {
    return tarvik::Err{*e};
  }
  if (auto e = dot(text, i)) {
    return tarvik::Err{*e};
  }
  if (auto e = day_or_month(text, i, 12, month)) {
    return tarvik::Err{*e};
  }
  if (auto e = dot(text, i)) {
    return tarvik::Err{*e};
  }
  skip_white_space(text, i);
  if (i == text.size()) {
    return tarvik::Err{DateError::PrematureEnd};
  }
  std::int64_t year = 0;
  if (text[i] == '+' || text[i] == '-') {
    const bool negative = text[i++] == '-';
    if (i == text.size()) {
      return tarvik::Err{DateError::PrematureEnd};
    }
    if (!is_digit(text[i])) {
      return tarvik::Err{DateError::InvalidCharacters};
    }
    // Accumulated negative for a negative year, so that the least int64 still fits.
    for (; i < text.size() && is_digit(text[i]); ++i) {
      const int d = text[i] - '0';
      if (negative ? year < (INT64_MIN + d) / 10 : year > (INT64_MAX - d) / 10) {
        return tarvik::Err{DateError::OutOfRange};
      }
      year = negative ? year * 10 - d : year * 10 + d;
    }
    if (year < INT32_MIN || year > INT32_MAX) {
      return tarvik::Err{DateError::OutOfRange};
    }
  } else {
    if (!is_digit(text[i])) {
      return tarvik::Err{DateError::InvalidCharacters};
    }
    for (int k = 0; k < 4 && i < text.size() && is_digit(text[i]); ++k, ++i) {
      year = year * 10 + (text[i] - '0');
    }
  }
  if (i != text.size()) {
    return tarvik::Err{DateError::TrailingInput};
  }
  if (year < -262143 || year > 262142 || day > days_in_month(year, month)) {
    return tarvik::Err{DateError::OutOfRange};
  }
  return Date{static_cast<std::int32_t>(year), static_cast<std::uint8_t>(month),
              static_cast<std::uint8_t>(day)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const tarvik::fuzz::ExactCopy input(data, size);
  const std::string_view text = input.view();

  const auto date = tarvik::parse_date(text);
  TARVIK_FUZZ_CHECK(date == date_reading(text));
  const auto optional = tarvik::parse_optional_date(text);
  if (tarvik::fuzz::is_blank(text)) {
    TARVIK_FUZZ_CHECK(!date && date.error() == tarvik::DateError::Blank);
    TARVIK_FUZZ_CHECK(optional && !optional->has_value());
    return 0;
  }
  // Only a blank text tells the two apart.
  if (date) {
    TARVIK_FUZZ_CHECK(optional && optional->has_value() && **optional == *date);
  } else {
    TARVIK_FUZZ_CHECK(date.error() != tarvik::DateError::Blank);
    TARVIK_FUZZ_CHECK(!optional && optional.error() == date.error());
    TARVIK_FUZZ_CHECK(!tarvik::message(date.error()).empty());
    return 0;
  }

  const Date d = *date;
  TARVIK_FUZZ_CHECK(d.year >= -262143 && d.year <= 262142);
  TARVIK_FUZZ_CHECK(d.month >= 1 && d.month <= 12);
  TARVIK_FUZZ_CHECK(d.day >= 1 && d.day <= days_in_month(d.year, d.month));
  check_iso_text(d);
  const auto again = tarvik::parse_date(statement_form(d));
  TARVIK_FUZZ_CHECK(again && *again == d);
  return 0;
}
