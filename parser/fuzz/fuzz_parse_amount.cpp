// parse_amount over any text. Properties: an amount read keeps its invariants (magnitude below
// 2^96, scale at most 28, no negative zero); its plain text has exactly `scale` fraction digits
// and reads back as the same amount, scale included; every text reads as a second, plain reading
// of the same rules says (rounding and exponents included); a failure's message quotes the text.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "amount.h"
#include "fuzz_util.h"
#include "quoted_text.h"

namespace {

using tarvik::Amount;
using tarvik::U128;

enum class Verdict : std::uint8_t { Valid, Invalid, Unknown };

constexpr U128 kLimit = U128{1} << 96;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The plain form, read the slow and obvious way. Texts whose reading the rule leaves open ("_"
// right after the point or after another "_") are Unknown.
Verdict plain_reading(std::string_view text, Amount& out, std::size_t* read = nullptr) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  U128 magnitude = 0;
  unsigned scale = 0;
  bool point = false;
  bool any_digit = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '_') {
      if (!any_digit) {
        return Verdict::Invalid;
      }
      if (!is_digit(text[i - 1])) {
        return Verdict::Unknown;
      }
      if (point && scale == 28) {
        return Verdict::Unknown;  // the "_" where the rounding digit would stand
      }
      continue;
    }
    if (c == '.') {
      if (point) {
        return Verdict::Invalid;
      }
      point = true;
      continue;
    }
    if (!is_digit(c)) {
      return Verdict::Invalid;
    }
    const unsigned d = static_cast<unsigned>(c - '0');
    any_digit = true;
    const U128 next = magnitude * 10 + d;
    if (!point) {
      if (next >= kLimit) {
        return Verdict::Invalid;
      }
      magnitude = next;
      continue;
    }
    if (scale < 28 && next < kLimit) {
      magnitude = next;
      ++scale;
      continue;
    }
    // A fraction digit that does not fit decides the rounding, and the reading ends here.
    if (d >= 5) {
      ++magnitude;
      if (magnitude == kLimit) {
        if (scale == 0) {
          return Verdict::Invalid;
        }
        magnitude = (magnitude + 4) / 10;
        --scale;
      }
    }
    ++i;
    break;
  }
  if (read != nullptr) {
    *read = i;
  }
  if (!any_digit) {
    return Verdict::Invalid;
  }
  out = Amount{magnitude, static_cast<std::uint8_t>(scale), negative && magnitude != 0};
  return Verdict::Valid;
}

// An exponent's digits; Unknown when there are none, Invalid past 32 bits or on anything else.
Verdict exponent_digits(std::string_view digits, std::uint64_t& value) {
  if (digits.empty()) {
    return Verdict::Unknown;
  }
  value = 0;
  for (const char c : digits) {
    if (!is_digit(c)) {
      return Verdict::Invalid;
    }
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > 0xFFFFFFFFULL) {
      return Verdict::Invalid;
    }
  }
  return Verdict::Valid;
}

Verdict exponent_reading(std::string_view text, Amount& out);

// The whole rule: the plain form, else mantissa "e" exponent. Where a rounding digit ended the
// plain form early, an exponent among the unread characters still scales the value when the
// exponent form takes the whole text (1.<28 zeros>5e3 is about 1000, not about 1).
Verdict reading(std::string_view text, Amount& out) {
  std::size_t read = 0;
  const Verdict plain = plain_reading(text, out, &read);
  if (plain == Verdict::Valid && text.find_first_of("eE", read) != std::string_view::npos) {
    Amount scaled;
    const Verdict v = exponent_reading(text, scaled);
    if (v == Verdict::Valid) {
      out = scaled;
    }
    return v == Verdict::Unknown ? v : Verdict::Valid;
  }
  if (plain != Verdict::Invalid) {
    return plain;
  }
  return exponent_reading(text, out);
}

Verdict exponent_reading(std::string_view text, Amount& out) {
  const std::size_t e = text.find_first_of("eE");
  if (e == std::string_view::npos) {
    return Verdict::Invalid;
  }
  Amount mantissa;
  const Verdict m = plain_reading(text.substr(0, e), mantissa);
  if (m != Verdict::Valid) {
    return m;
  }
  std::string_view exponent = text.substr(e + 1);
  std::uint64_t value = 0;
  if (!exponent.empty() && exponent.front() == '-') {
    exponent.remove_prefix(1);
    if (!exponent.empty() && exponent.front() == '+') {
      exponent.remove_prefix(1);
    }
    if (const Verdict v = exponent_digits(exponent, value); v != Verdict::Valid) {
      return v;
    }
    if (value > 28 || mantissa.scale + value > 28) {
      return Verdict::Invalid;
    }
    mantissa.scale = static_cast<std::uint8_t>(mantissa.scale + value);
    out = mantissa;
    return Verdict::Valid;
  }
  if (!exponent.empty() && exponent.front() == '+') {
    exponent.remove_prefix(1);
  }
  if (const Verdict v = exponent_digits(exponent, value); v != Verdict::Valid) {
    return v;
  }
  if (value <= mantissa.scale) {
    mantissa.scale = static_cast<std::uint8_t>(mantissa.scale - value);
    out = mantissa;
    return Verdict::Valid;
  }
  if (mantissa.magnitude == 0) {
    out = Amount{0, 0, false};
    return Verdict::Valid;
  }
  U128 magnitude = mantissa.magnitude;
  for (std::uint64_t k = mantissa.scale; k < value; ++k) {
    magnitude *= 10;
    if (magnitude >= kLimit) {
      return Verdict::Invalid;
    }
  }
  out = Amount{magnitude, 0, mantissa.negative};
  return Verdict::Valid;
}

void check_text(const Amount& a) {
  const std::string text = tarvik::amount_text(a);
  std::string_view rest = text;
  if (a.negative) {
    TARVIK_FUZZ_CHECK(!rest.empty() && rest.front() == '-');
    rest.remove_prefix(1);
  }
  const std::size_t point = rest.find('.');
  const std::string_view whole = rest.substr(0, point);
  TARVIK_FUZZ_CHECK(!whole.empty());
  TARVIK_FUZZ_CHECK(whole.size() == 1 || whole.front() != '0');
  if (a.scale == 0) {
    TARVIK_FUZZ_CHECK(point == std::string_view::npos);
  } else {
    TARVIK_FUZZ_CHECK(point != std::string_view::npos && rest.size() - point - 1 == a.scale);
  }
  U128 magnitude = 0;
  for (const char c : rest) {
    if (c == '.') {
      continue;
    }
    TARVIK_FUZZ_CHECK(c >= '0' && c <= '9');
    magnitude = magnitude * 10 + static_cast<unsigned>(c - '0');
  }
  TARVIK_FUZZ_CHECK(magnitude == a.magnitude);
  const auto again = tarvik::parse_amount(text);
  TARVIK_FUZZ_CHECK(again && *again == a);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const tarvik::fuzz::ExactCopy input(data, size);
  const std::string_view text = input.view();

  const auto amount = tarvik::parse_amount(text);
  Amount expected;
  const Verdict verdict = reading(text, expected);
  if (verdict == Verdict::Valid) {
    TARVIK_FUZZ_CHECK(amount && *amount == expected);
  } else if (verdict == Verdict::Invalid) {
    TARVIK_FUZZ_CHECK(!amount);
  }
  if (!amount) {
    const std::string want = "invalid value: string " + tarvik::quote(text) +
                             ", expected a Decimal type representing a fixed-point number";
    TARVIK_FUZZ_CHECK(tarvik::invalid_amount_message(text) == want);
    return 0;
  }
  const Amount& a = *amount;
  TARVIK_FUZZ_CHECK(a.magnitude < tarvik::kMagnitudeLimit);
  TARVIK_FUZZ_CHECK(a.scale <= tarvik::kMaxScale);
  TARVIK_FUZZ_CHECK(!(a.negative && a.magnitude == 0));
  TARVIK_FUZZ_CHECK(tarvik::equal_value(a, a));
  // One more trailing zero changes the written form, not the number.
  if (a.scale < tarvik::kMaxScale && a.magnitude * 10 < tarvik::kMagnitudeLimit) {
    const Amount longer{a.magnitude * 10, static_cast<std::uint8_t>(a.scale + 1), a.negative};
    TARVIK_FUZZ_CHECK(tarvik::equal_value(a, longer) && tarvik::equal_value(longer, a));
    TARVIK_FUZZ_CHECK(!(a == longer));
  }
  if (a.magnitude != 0) {
    const Amount opposite{a.magnitude, a.scale, !a.negative};
    TARVIK_FUZZ_CHECK(!tarvik::equal_value(a, opposite));
  }
  check_text(a);
  return 0;
}
