#include "amount.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>

namespace tarvik {

using AmountResult = Result<Amount, InvalidAmount>;

// Readable failure output; internal so that other test files may print amounts their own way.
static void PrintTo(const Amount& amount, std::ostream* os) {
  *os << amount_text(amount) << " (scale " << int{amount.scale} << ")";
}
static void PrintTo(const AmountResult& result, std::ostream* os) {
  if (result) {
    PrintTo(*result, os);
  } else {
    *os << "invalid";
  }
}

namespace {

// An amount from its magnitude's decimal digits, which may exceed 64 bits.
Amount amount(std::string_view magnitude, std::uint8_t scale, bool negative = false) {
  U128 m = 0;
  for (const char c : magnitude) {
    m = m * 10 + static_cast<unsigned>(c - '0');
  }
  return Amount{m, scale, negative};
}

const std::string k28Zeros(28, '0');

TEST(ParseAmount, ReadsPlainForm) {
  const struct {
    std::string text;
    Amount want;
  } cases[] = {
      {"1234.56", amount("123456", 2)},
      {"-0.00", amount("0", 2)},  // a zero loses its sign
      {"-0", amount("0", 0)},
      {"+7", amount("7", 0)},
      {"-1.5", amount("15", 1, true)},
      {"1.50", amount("150", 2)},  // trailing zeros count in the scale
      {"5.", amount("5", 0)},
      {".5", amount("5", 1)},
      {"-.5", amount("5", 1, true)},
      {"000123", amount("123", 0)},
      {"1_000.50", amount("100050", 2)},
      {"1_", amount("1", 0)},
      {"1__2", amount("12", 0)},
      {"1_.5", amount("15", 1)},
      {"1._5", amount("15", 1)},
      {"79228162514264337593543950335", amount("79228162514264337593543950335", 0)},  // 2^96-1
      {"0.0000000000000000000000000001", amount("1", 28)},
      {"0.1234567890123456789012345678", amount("1234567890123456789012345678", 28)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_amount(c.text), AmountResult(c.want));
  }
}

TEST(ParseAmount, RoundsTheFirstDigitThatDoesNotFit) {
  const struct {
    std::string text;
    Amount want;
  } cases[] = {
      {"0.00000000000000000000000000005", amount("1", 28)},
      {"0.00000000000000000000000000004", amount("0", 28)},
      {"-0.00000000000000000000000000005", amount("1", 28, true)},
      {"-0.00000000000000000000000000004", amount("0", 28)},
      // Nothing after the rounding digit is read, valid or not.
      {"1." + k28Zeros + "5x", amount("1" + std::string(27, '0') + "1", 28)},
      {"1." + k28Zeros + "4x", amount("1" + k28Zeros, 28)},
      {"1." + k28Zeros + "5..", amount("1" + std::string(27, '0') + "1", 28)},
      {"1." + k28Zeros + "_5",
       amount("1" + std::string(27, '0') + "1", 28)},  // "_" is skipped first
      {"1." + k28Zeros + "_", amount("1" + k28Zeros, 28)},
      // The magnitude, not the scale, is what runs out here.
      {"7922816251426433759354395033.55", amount("7922816251426433759354395034", 0)},
      {"7922816251426433759354395033.54", amount("79228162514264337593543950335", 1)},
      {"79228162514264337593543950335.4", amount("79228162514264337593543950335", 0)},
      {"79228162514264337593543950335.0", amount("79228162514264337593543950335", 0)},
      {"7.92281625142643375935439503359", amount("7922816251426433759354395034", 27)},
      {"9.9999999999999999999999999999", amount("1" + std::string(28, '0'), 27)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_amount(c.text), AmountResult(c.want));
  }
}

TEST(ParseAmount, ReadsExponentForm) {
  const struct {
    std::string text;
    Amount want;
  } cases[] = {
      {"1.5e3", amount("1500", 0)},
      {"15e-1", amount("15", 1)},
      {"1E+2", amount("100", 0)},
      {"1e-+2", amount("1", 2)},
      {"1e28", amount("1" + k28Zeros, 0)},
      {"7e28", amount("7" + k28Zeros, 0)},
      {"1e-28", amount("1", 28)},
      {"1.5e-27", amount("15", 28)},
      {"0.000e5", amount("0", 0)},
      {"0.000e2", amount("0", 1)},
      {"0e4294967295", amount("0", 0)},
      {"-0e5", amount("0", 0)},
      {"-1.5e3", amount("1500", 0, true)},
      {"1e0", amount("1", 0)},
      {"1e-0", amount("1", 0)},
      {"1.50e1", amount("150", 1)},
      {"1.50e2", amount("150", 0)},
      {"1e0000000000000000000000000002", amount("100", 0)},
      {"1_e2", amount("100", 0)},
      {"7922816251426433759354395033.5e1", amount("79228162514264337593543950335", 0)},
      // An exponent after a rounding digit still applies.
      {"1." + k28Zeros + "5e3", amount("1" + std::string(27, '0') + "1", 25)},
      {"1." + k28Zeros + "5xe3", amount("1" + std::string(27, '0') + "1", 25)},
      // One that cannot apply leaves the rounded value, like any other unread character.
      {"1." + k28Zeros + "5e99", amount("1" + std::string(27, '0') + "1", 28)},
      {"1." + k28Zeros + "5e-3", amount("1" + std::string(27, '0') + "1", 28)},
      {"1." + k28Zeros + "5e", amount("1" + std::string(27, '0') + "1", 28)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_amount(c.text), AmountResult(c.want));
  }
}

TEST(ParseAmount, RejectsWithOneFailure) {
  const std::string cases[] = {
      "",
      " 1",
      "1 ",
      "1234,56",
      "1 000",
      "+",
      "-",
      ".",
      "+.",
      "_1",
      "-_1",
      "._5",
      "1.2.3",
      "--1",
      "+-1",
      "1-",
      "0x10",
      "\u0663",  // ARABIC-INDIC DIGIT THREE
      "NaN",
      "inf",
      "79228162514264337593543950336",    // 2^96
      "79228162514264337593543950335.5",  // rounds up to 2^96 at scale 0
      "1." + k28Zeros + "x",              // no rounding digit: the letter is read
      "1." + k28Zeros + ".",
      "e5",
      "E",
      ".e1",
      "1e",
      "1e+",
      "1e-",
      "1e-+",
      "1e+-2",
      "1e--2",
      "1e 2",
      "1e2 ",
      "1e2.0",
      "1e2_",
      "1e5e5",
      "1,5e3",
      "2e-30",
      "1e29",
      "1e-29",
      "0e-29",
      "1.5e-28",  // the resulting scale would be 29
      "8e28",
      "79228162514264337593543950335e1",
      "1e4294967296",
      "0e4294967296",
      "1e99999999999999999999",
  };
  for (const auto& text : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(parse_amount(text), AmountResult(Err{InvalidAmount{}}));
  }
}

TEST(InvalidAmountMessage, QuotesTheValue) {
  const struct {
    std::string_view text;
    std::string_view want;
  } cases[] = {
      {"",
       R"(invalid value: string "", expected a Decimal type representing a fixed-point number)"},
      {"1234,56",
       R"(invalid value: string "1234,56", expected a Decimal type representing a fixed-point number)"},
      {"a\"b\\\t\u00A0",
       R"(invalid value: string "a\"b\\\t\u{a0}", expected a Decimal type representing a fixed-point number)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(invalid_amount_message(c.text), c.want);
  }
}

TEST(AmountText, WritesAsManyFractionDigitsAsTheScale) {
  const struct {
    Amount amount;
    std::string_view want;
  } cases[] = {
      {amount("150000", 2), "1500.00"},
      {amount("1500", 0), "1500"},
      {amount("5", 2), "0.05"},
      {amount("0", 0), "0"},
      {amount("0", 2), "0.00"},
      {amount("5", 1, true), "-0.5"},
      {amount("7", 0, true), "-7"},
      {amount("1", 28), "0.0000000000000000000000000001"},
      {amount("79228162514264337593543950335", 0), "79228162514264337593543950335"},
      {amount("79228162514264337593543950335", 28, true), "-7.9228162514264337593543950335"},
      {amount("10000000000000000000", 0), "10000000000000000000"},   // just past 64 bits' digits
      {amount("18446744073709551616", 3), "18446744073709551.616"},  // 2^64
      {amount("100000000000000000000000000", 5), "1000000000000000000000.00000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.want);
    EXPECT_EQ(amount_text(c.amount), c.want);
    std::string out = "a=";
    append_amount_text(out, c.amount);
    EXPECT_EQ(out, "a=" + std::string(c.want));
    // The text reads back as the same amount.
    EXPECT_EQ(parse_amount(c.want), AmountResult(c.amount));
  }
}

TEST(EqualValue, IgnoresTheScale) {
  const struct {
    Amount a;
    Amount b;
    bool want;
  } cases[] = {
      {amount("1000", 0), amount("100000", 2), true},
      {amount("15", 1), amount("150", 2), true},
      {amount("15", 1), amount("151", 2), false},
      {amount("15", 1), amount("15", 2), false},
      {amount("15", 1, true), amount("150", 2, true), true},
      {amount("15", 1, true), amount("150", 2), false},
      {amount("0", 0), amount("0", 28), true},
      {amount("0", 0), amount("1", 28), false},
      {amount("1", 0), amount("1" + k28Zeros, 28), true},
      {amount("79228162514264337593543950335", 0), amount("79228162514264337593543950335", 28),
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(amount_text(c.a) + " vs " + amount_text(c.b));
    EXPECT_EQ(equal_value(c.a, c.b), c.want);
    EXPECT_EQ(equal_value(c.b, c.a), c.want);
  }
}

}  // namespace
}  // namespace tarvik
