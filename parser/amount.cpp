#include "amount.h"

#include <array>
#include <cstdint>
#include <optional>

#include "quoted_text.h"

namespace tarvik {
namespace {

constexpr std::array<U128, kMaxScale + 1> kPowersOfTen = [] {
  std::array<U128, kMaxScale + 1> powers{};
  U128 p = 1;
  for (auto& power : powers) {
    power = p;
    p *= 10;
  }
  return powers;
}();

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

unsigned digit_value(char c) noexcept { return static_cast<unsigned>(c - '0'); }

struct PlainAmount {
  std::optional<Amount> amount;
  // Bytes read; less than the text's size when a rounding digit ended the reading.
  std::size_t read = 0;
};

// Sign, digits with at most one point, and "_" after the first digit. Fraction digits beyond
// what 96 bits and scale 28 can hold are not an error: the first of them rounds the value half
// up and ends the reading, so whatever follows it is not looked at here.
PlainAmount parse_plain(std::string_view text) noexcept {
  const char* p = text.data();
  const char* const end = p + text.size();
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  U128 magnitude = 0;
  unsigned scale = 0;
  bool seen_digit = false;
  bool seen_point = false;
  for (; p != end; ++p) {
    const char c = *p;
    if (is_digit(c)) {
      const unsigned d = digit_value(c);
      const U128 next = magnitude * 10 + d;
      if (!seen_point) {
        if (next >= kMagnitudeLimit) {
          return {};
        }
        magnitude = next;
      } else if (scale < kMaxScale && next < kMagnitudeLimit) {
        magnitude = next;
        ++scale;
      } else {
        if (d >= 5) {
          ++magnitude;
          if (magnitude == kMagnitudeLimit) {
            if (scale == 0) {
              return {};
            }
            magnitude = (magnitude + 4) / 10;
            --scale;
          }
        }
        ++p;
        break;
      }
      seen_digit = true;
    } else if (c == '.') {
      if (seen_point) {
        return {};
      }
      seen_point = true;
    } else if (c != '_' || !seen_digit) {
      return {};
    }
  }
  if (!seen_digit) {
    return {};
  }
  return {Amount{magnitude, static_cast<std::uint8_t>(scale), negative && magnitude != 0},
          static_cast<std::size_t>(p - text.data())};
}

// One or more ASCII digits with a value up to 2^32 - 1; leading zeros do not count.
std::optional<std::uint32_t> parse_exponent_digits(std::string_view text) noexcept {
  if (text.empty()) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  for (const char c : text) {
    if (!is_digit(c)) {
      return std::nullopt;
    }
    value = value * 10 + digit_value(c);
    if (value > UINT32_MAX) {
      return std::nullopt;
    }
  }
  return static_cast<std::uint32_t>(value);
}

std::optional<Amount> parse_exponent_form(std::string_view text) noexcept {
  const std::size_t e = text.find_first_of("eE");
  if (e == std::string_view::npos) {
    return std::nullopt;
  }
  std::optional<Amount> amount = parse_plain(text.substr(0, e)).amount;
  if (!amount) {
    return std::nullopt;
  }
  std::string_view exponent_text = text.substr(e + 1);
  if (!exponent_text.empty() && exponent_text.front() == '-') {
    // A "+" after the minus is tolerated: 1e-+2 is 0.01.
    exponent_text.remove_prefix(1);
    if (!exponent_text.empty() && exponent_text.front() == '+') {
      exponent_text.remove_prefix(1);
    }
    const auto exponent = parse_exponent_digits(exponent_text);
    if (!exponent || *exponent > kMaxScale || amount->scale + *exponent > kMaxScale) {
      return std::nullopt;
    }
    amount->scale = static_cast<std::uint8_t>(amount->scale + *exponent);
    return amount;
  }
  if (!exponent_text.empty() && exponent_text.front() == '+') {
    exponent_text.remove_prefix(1);
  }
  const auto exponent = parse_exponent_digits(exponent_text);
  if (!exponent) {
    return std::nullopt;
  }
  if (*exponent <= amount->scale) {
    amount->scale = static_cast<std::uint8_t>(amount->scale - *exponent);
    return amount;
  }
  const std::uint32_t shift = *exponent - amount->scale;
  amount->scale = 0;
  if (amount->magnitude == 0) {
    return amount;
  }
  // Any non-zero magnitude times 10^29 or more is past 2^96.
  if (shift > kMaxScale || amount->magnitude > (kMagnitudeLimit - 1) / kPowersOfTen[shift]) {
    return std::nullopt;
  }
  amount->magnitude *= kPowersOfTen[shift];
  return amount;
}

// Writes the decimal digits of `value`, least significant first, into `out`; returns their
// count. A magnitude below 2^96 has at most 29 digits.
int reversed_digits(U128 value, char (&out)[40]) noexcept {
  constexpr std::uint64_t kChunk = 10'000'000'000'000'000'000u;  // 10^19
  int n = 0;
  // Wide values are split once so that the digit loop runs on 64-bit words.
  if (value > UINT64_MAX) {
    auto low = static_cast<std::uint64_t>(value % kChunk);
    value /= kChunk;
    for (int i = 0; i < 19; ++i) {
      out[n++] = static_cast<char>('0' + low % 10);
      low /= 10;
    }
  }
  auto rest = static_cast<std::uint64_t>(value);
  do {
    out[n++] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  return n;
}

}  // namespace

bool equal_value(const Amount& a, const Amount& b) noexcept {
  if (a.magnitude == 0 || b.magnitude == 0) {
    return a.magnitude == b.magnitude;
  }
  if (a.negative != b.negative) {
    return false;
  }
  // Scale the finer-grained side down: that never overflows, and a remainder means inequality.
  const Amount& coarse = a.scale <= b.scale ? a : b;
  const Amount& fine = a.scale <= b.scale ? b : a;
  const U128 factor = kPowersOfTen[fine.scale - coarse.scale];
  return fine.magnitude % factor == 0 && fine.magnitude / factor == coarse.magnitude;
}

Result<Amount, InvalidAmount> parse_amount(std::string_view text) noexcept {
  const PlainAmount plain = parse_plain(text);
  if (plain.amount) {
    // An exponent among the characters a rounding digit left unread still scales the value:
    // 1.00000000000000000000000000005e3 is about 1000, not about 1. Whatever else follows such
    // a digit is not read at all.
    if (text.find_first_of("eE", plain.read) != std::string_view::npos) {
      if (auto scientific = parse_exponent_form(text)) {
        return *scientific;
      }
    }
    return *plain.amount;
  }
  if (auto scientific = parse_exponent_form(text)) {
    return *scientific;
  }
  return Err{InvalidAmount{}};
}

std::string invalid_amount_message(std::string_view text) {
  std::string out = "invalid value: string ";
  append_quoted(out, text);
  out += ", expected a Decimal type representing a fixed-point number";
  return out;
}

void append_amount_text(std::string& out, const Amount& amount) {
  char digits[40];
  int n = reversed_digits(amount.magnitude, digits);
  const int scale = amount.scale;
  // At least one integer digit: 0.05, not .05.
  while (n <= scale) {
    digits[n++] = '0';
  }
  if (amount.negative) {
    out += '-';
  }
  while (n > scale) {
    out += digits[--n];
  }
  if (scale > 0) {
    out += '.';
    while (n > 0) {
      out += digits[--n];
    }
  }
}

std::string amount_text(const Amount& amount) {
  std::string out;
  append_amount_text(out, amount);
  return out;
}

}  // namespace tarvik
