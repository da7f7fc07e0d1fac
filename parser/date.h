#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "result.h"

namespace tarvik {

// A day of the proleptic Gregorian calendar; years -262143 to 262142.
struct Date {
  std::int32_t year = 1970;
  std::uint8_t month = 1;  // 1 to 12
  std::uint8_t day = 1;    // 1 to the length of the month

  friend auto operator<=>(const Date&, const Date&) = default;
};

enum class DateError : std::uint8_t {
  Blank,
  PrematureEnd,
  InvalidCharacters,
  TrailingInput,
  OutOfRange,
};

// The failure text a user sees, e.g. "input is out of range".
std::string_view message(DateError error) noexcept;

// A required date written day.month.year; blank text is an error. Does not allocate or throw.
Result<Date, DateError> parse_date(std::string_view text) noexcept;

// As parse_date, but blank text (empty or white space only) is absent rather than an error.
Result<std::optional<Date>, DateError> parse_optional_date(std::string_view text) noexcept;

// Appends the ISO form: 2024-03-05; years outside 0..9999 get a sign and at least four digits.
void append_date_text(std::string& out, Date date);
std::string date_text(Date date);

}  // namespace tarvik
