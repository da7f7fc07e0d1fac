#include "date.h"

#include <cstdint>
#include <limits>
#include <optional>

#include "unicode.h"

namespace tarvik {
namespace {

constexpr std::int32_t kMinYear = -262143;
constexpr std::int32_t kMaxYear = 262142;

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

unsigned digit_value(char c) noexcept { return static_cast<unsigned>(c - '0'); }

bool is_leap_year(std::int32_t year) noexcept {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

unsigned days_in_month(std::int32_t year, unsigned month) noexcept {
  constexpr unsigned char kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap_year(year) ? 29u : kDays[month - 1];
}

// Reads the pattern left to right; each step reports the first failure it meets, so the order
// of the checks below is the order in which a user learns what is wrong.
class DateReader {
 public:
  explicit DateReader(std::string_view text) noexcept : rest_(text) {}

  void skip_white_space() noexcept {
    while (!rest_.empty()) {
      // ASCII digits are by far the most common case and never white space.
      if (is_digit(rest_.front())) {
        return;
      }
      const std::size_t n = white_space_prefix(rest_);
      if (n == 0) {
        return;
      }
      rest_.remove_prefix(n);
    }
  }

  // One or two digits, range-checked at once: a third digit is left for the next step.
  std::optional<DateError> read_small_number(unsigned min, unsigned max, unsigned& out) noexcept {
    if (rest_.empty()) {
      return DateError::PrematureEnd;
    }
    if (!is_digit(rest_.front())) {
      return DateError::InvalidCharacters;
    }
    unsigned value = digit_value(rest_.front());
    rest_.remove_prefix(1);
    if (!rest_.empty() && is_digit(rest_.front())) {
      value = value * 10 + digit_value(rest_.front());
      rest_.remove_prefix(1);
    }
    if (value < min || value > max) {
      return DateError::OutOfRange;
    }
    out = value;
    return std::nullopt;
  }

  std::optional<DateError> read_dot() noexcept {
    if (rest_.empty()) {
      return DateError::PrematureEnd;
    }
    if (rest_.front() != '.') {
      return DateError::InvalidCharacters;
    }
    rest_.remove_prefix(1);
    return std::nullopt;
  }

  // A signed year may have any number of digits; an unsigned one has at most four, so that a
  // fifth digit shows up as trailing input.
  std::optional<DateError> read_year(std::int32_t& out) noexcept {
    if (rest_.empty()) {
      return DateError::PrematureEnd;
    }
    const char first = rest_.front();
    if (first != '+' && first != '-') {
      if (!is_digit(first)) {
        return DateError::InvalidCharacters;
      }
      std::int32_t value = 0;
      for (int i = 0; i < 4 && !rest_.empty() && is_digit(rest_.front()); ++i) {
        value = value * 10 + static_cast<std::int32_t>(digit_value(rest_.front()));
        rest_.remove_prefix(1);
      }
      out = value;
      return std::nullopt;
    }
    rest_.remove_prefix(1);
    if (rest_.empty()) {
      return DateError::PrematureEnd;
    }
    if (!is_digit(rest_.front())) {
      return DateError::InvalidCharacters;
    }
    constexpr auto kInt64Max = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    std::uint64_t magnitude = 0;
    bool overflow = false;
    while (!rest_.empty() && is_digit(rest_.front())) {
      const unsigned d = digit_value(rest_.front());
      if (magnitude > (kInt64Max - d) / 10) {
        overflow = true;
      } else {
        magnitude = magnitude * 10 + d;
      }
      rest_.remove_prefix(1);
    }
    // The range is that of the signed year, so -2147483648 still counts as read and a character
    // after it is reported as trailing input.
    constexpr auto kInt32Max = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
    const std::uint64_t limit = first == '-' ? kInt32Max + 1 : kInt32Max;
    if (overflow || magnitude > limit) {
      return DateError::OutOfRange;
    }
    out = first == '-' ? static_cast<std::int32_t>(0 - magnitude)
                       : static_cast<std::int32_t>(magnitude);
    return std::nullopt;
  }

  bool at_end() const noexcept { return rest_.empty(); }

 private:
  std::string_view rest_;
};

Result<Date, DateError> parse_date_pattern(std::string_view text) noexcept {
  DateReader reader(text);
  unsigned day = 0;
  unsigned month = 0;
  std::int32_t year = 0;
  reader.skip_white_space();
  if (const auto e = reader.read_small_number(1, 31, day)) {
    return Err{*e};
  }
  if (const auto e = reader.read_dot()) {
    return Err{*e};
  }
  reader.skip_white_space();
  if (const auto e = reader.read_small_number(1, 12, month)) {
    return Err{*e};
  }
  if (const auto e = reader.read_dot()) {
    return Err{*e};
  }
  reader.skip_white_space();
  if (const auto e = reader.read_year(year)) {
    return Err{*e};
  }
  if (!reader.at_end()) {
    return Err{DateError::TrailingInput};
  }
  if (year < kMinYear || year > kMaxYear || day > days_in_month(year, month)) {
    return Err{DateError::OutOfRange};
  }
  return Date{year, static_cast<std::uint8_t>(month), static_cast<std::uint8_t>(day)};
}

// Writes `value` zero-padded to at least `width` digits.
void append_padded(std::string& out, std::uint32_t value, int width) {
  char digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (int pad = n; pad < width; ++pad) {
    out += '0';
  }
  while (n > 0) {
    out += digits[--n];
  }
}

}  // namespace

std::string_view message(DateError error) noexcept {
  switch (error) {
    case DateError::Blank:
      return "empty string is not a valid date";
    case DateError::PrematureEnd:
      return "premature end of input";
    case DateError::InvalidCharacters:
      return "input contains invalid characters";
    case DateError::TrailingInput:
      return "trailing input";
    case DateError::OutOfRange:
      return "input is out of range";
  }
  return "input is out of range";
}

Result<Date, DateError> parse_date(std::string_view text) noexcept {
  if (is_blank(text)) {
    return Err{DateError::Blank};
  }
  return parse_date_pattern(text);
}

Result<std::optional<Date>, DateError> parse_optional_date(std::string_view text) noexcept {
  if (is_blank(text)) {
    return std::optional<Date>();
  }
  auto date = parse_date_pattern(text);
  if (!date) {
    return Err{date.error()};
  }
  return std::optional<Date>(*date);
}

void append_date_text(std::string& out, Date date) {
  if (date.year < 0 || date.year > 9999) {
    out += date.year < 0 ? '-' : '+';
  }
  // The magnitude of an int32 always fits a uint32, even for the most negative value.
  const std::uint32_t year_magnitude = date.year < 0 ? 0u - static_cast<std::uint32_t>(date.year)
                                                     : static_cast<std::uint32_t>(date.year);
  append_padded(out, year_magnitude, 4);
  out += '-';
  append_padded(out, date.month, 2);
  out += '-';
  append_padded(out, date.day, 2);
}

std::string date_text(Date date) {
  std::string out;
  append_date_text(out, date);
  return out;
}

}  // namespace tarvik
