#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "result.h"

namespace tarvik {

__extension__ using U128 = unsigned __int128;

// magnitude * 10^-scale, negated when `negative`. Invariants: magnitude < 2^96, scale <= 28,
// and a zero is never negative. `scale` counts the fraction digits as written, trailing zeros
// included, so == compares the written form (1.50 != 1.5); equal_value() compares numbers.
struct Amount {
  U128 magnitude = 0;
  std::uint8_t scale = 0;
  bool negative = false;

  friend bool operator==(const Amount&, const Amount&) = default;
};

inline constexpr std::uint8_t kMaxScale = 28;
inline constexpr U128 kMagnitudeLimit = U128{1} << 96;

// Numeric equality regardless of scale: 1000 equals 1000.00.
bool equal_value(const Amount& a, const Amount& b) noexcept;

// The amount rule has one failure whose text quotes the value; see invalid_amount_message().
struct InvalidAmount {
  friend bool operator==(InvalidAmount, InvalidAmount) = default;
};

// A fixed-point decimal in plain (-1_000.50) or exponent (1.5e3) form. Does not allocate.
Result<Amount, InvalidAmount> parse_amount(std::string_view text) noexcept;

// "invalid value: string \"<text, quoted>\", expected a Decimal type representing a fixed-point
// number".
std::string invalid_amount_message(std::string_view text);

// Plain digits with exactly `scale` fraction digits: 1500.00, -0.05, 7.
void append_amount_text(std::string& out, const Amount& amount);
std::string amount_text(const Amount& amount);

}  // namespace tarvik
