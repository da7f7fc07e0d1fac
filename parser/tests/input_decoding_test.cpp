#include "input_decoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <string_view>

#include "fixtures.h"
#include "whole_text.h"

namespace tarvik {
namespace {

using testing::decode_input;
using testing::statement;
using testing::to_cp1251;

// What decode_input gave, in a form that compares and prints.
struct Outcome {
  bool ok = false;
  std::string text;
  bool utf8 = false;
  friend bool operator==(const Outcome&, const Outcome&) = default;
  friend std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    if (!o.ok) {
      return os << "NotStatement";
    }
    return os << (o.utf8 ? "utf-8 " : "cp1251 ") << ::testing::PrintToString(o.text);
  }
};

const Outcome kNotStatement{};
Outcome as_utf8(std::string_view text) { return {true, std::string(text), true}; }
Outcome as_cp1251(std::string_view text) { return {true, std::string(text), false}; }

Outcome decode(std::string_view input) {
  // An exact-size copy, so that the address sanitizer sees any read past the end.
  const auto copy = std::make_unique<char[]>(input.size());
  std::copy(input.begin(), input.end(), copy.get());
  std::string storage;
  const auto result = decode_input({copy.get(), input.size()}, storage);
  if (!result) {
    return kNotStatement;
  }
  return {true, std::string(result->text), result->encoding == Encoding::Utf8};
}

std::string utf8(char32_t c) {
  std::string out;
  const auto put = [&out](char32_t bits) {
    out += static_cast<char>(static_cast<unsigned char>(bits));
  };
  if (c < 0x80) {
    put(c);
  } else if (c < 0x800) {
    put(0xC0 | c >> 6);
    put(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    put(0xE0 | c >> 12);
    put(0x80 | (c >> 6 & 0x3F));
    put(0x80 | (c & 0x3F));
  } else {
    put(0xF0 | c >> 18);
    put(0x80 | (c >> 12 & 0x3F));
    put(0x80 | (c >> 6 & 0x3F));
    put(0x80 | (c & 0x3F));
  }
  return out;
}

// Code units as bytes, after the byte-order mark of the chosen order.
std::string utf16(std::u16string_view units, bool big_endian) {
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char16_t u : units) {
    const char hi = static_cast<char>(u >> 8);
    const char lo = static_cast<char>(u & 0xFF);
    out += big_endian ? hi : lo;
    out += big_endian ? lo : hi;
  }
  return out;
}

std::string repeat(std::string_view piece, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    out += piece;
  }
  return out;
}

const std::string kMarkerLine = statement({"1CClientBankExchange"});
const std::string kRussian =
    statement({"1CClientBankExchange", "ВерсияФормата=1.03", "Отправитель=Бухгалтерия предприятия",
               "НазначениеПлатежа=Оплата по счету № 15 \"Ромашка\""});

TEST(DecodeInput, TakesWellFormedUtf8AsItIs) {
  const std::string nbsp_lines = kMarkerLine + repeat("\u00A0", 500);
  const struct {
    std::string_view name;
    std::string input;
    Outcome want;
  } cases[] = {
      {"empty input", "", kNotStatement},
      {"marker and CR LF", kRussian, as_utf8(kRussian)},
      {"marker and LF", "1CClientBankExchange\nКонецФайла\n",
       as_utf8("1CClientBankExchange\nКонецФайла\n")},
      {"only the marker", "1CClientBankExchange", as_utf8("1CClientBankExchange")},
      {"pure ASCII", "1CClientBankExchange\r\nSender=x\r\n",
       as_utf8("1CClientBankExchange\r\nSender=x\r\n")},
      // Plausibility is a test for the code page guess only.
      {"no-break spaces", nbsp_lines, as_utf8(nbsp_lines)},
      {"byte-order mark", "\xEF\xBB\xBF" + kRussian, kNotStatement},
      {"trailing space", "1CClientBankExchange \r\nКонецФайла\r\n", kNotStatement},
      {"leading space", " 1CClientBankExchange\r\n", kNotStatement},
      {"two carriage returns", "1CClientBankExchange\r\r\n", kNotStatement},
      {"lone carriage return", "1CClientBankExchange\rКонецФайла\r", kNotStatement},
      {"carriage return at the end", "1CClientBankExchange\r", kNotStatement},
      {"empty first line", "\r\n1CClientBankExchange\r\n", kNotStatement},
      {"empty first line, LF", "\n1CClientBankExchange\n", kNotStatement},
      {"other letter case", "1CClientBankexchange\r\n", kNotStatement},
      {"marker prefix", "1CClientBankExchang", kNotStatement},
      {"marker with more", "1CClientBankExchange=\r\n", kNotStatement},
      {"Russian text, no marker", "Выписка\r\n", kNotStatement},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decode(c.input), c.want);
  }
}

TEST(DecodeInput, ReturnsTextInTheInputOrInTheStorage) {
  std::string storage = repeat("stale", 100);
  const auto in_place = decode_input(kRussian, storage);
  ASSERT_TRUE(in_place);
  EXPECT_EQ(in_place->text.data(), kRussian.data());
  EXPECT_EQ(in_place->text.size(), kRussian.size());

  const std::string cp1251 = to_cp1251(kRussian);
  const auto decoded = decode_input(cp1251, storage);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->text.data(), storage.data());
  EXPECT_EQ(decoded->text, kRussian);
  EXPECT_EQ(storage, kRussian);
}

TEST(DecodeInput, ReadsOtherBytesAsCp1251) {
  const auto with_nbsp = [](std::size_t letters, std::size_t spaces) {
    return to_cp1251(kMarkerLine + repeat("ё", letters)) + repeat("\xA0", spaces);
  };
  const auto with_nbsp_text = [](std::size_t letters, std::size_t spaces) {
    return kMarkerLine + repeat("ё", letters) + repeat("\u00A0", spaces);
  };
  const struct {
    std::string_view name;
    std::string input;
    Outcome want;
  } cases[] = {
      {"Russian statement", to_cp1251(kRussian), as_cp1251(kRussian)},
      {"Russian, LF only", to_cp1251("1CClientBankExchange\nПлательщик=ООО\n"),
       as_cp1251("1CClientBankExchange\nПлательщик=ООО\n")},
      {"no marker", to_cp1251("Выписка\r\n1CClientBankExchange\r\n"), kNotStatement},
      {"trailing space", to_cp1251("1CClientBankExchange \r\nПлательщик=ООО\r\n"), kNotStatement},
      // The percentage is an integer: 191 of 199 is 95 and fails.
      {"5 no-break spaces in 100", with_nbsp(73, 5), kNotStatement},
      {"4 no-break spaces in 100", with_nbsp(74, 4), as_cp1251(with_nbsp_text(74, 4))},
      {"8 no-break spaces in 199", with_nbsp(169, 8), kNotStatement},
      {"8 no-break spaces in 200", with_nbsp(170, 8), as_cp1251(with_nbsp_text(170, 8))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decode(c.input), c.want);
  }
}

TEST(DecodeInput, MapsEveryByteByTheWhatwgIndex) {
  // 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F.
  const char32_t kHigh[64] = {
      0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409,
      0x2039, 0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0,
      0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB,
      0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6,
      0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
  };
  std::string input = kMarkerLine + repeat("x", 4000);
  std::string want = input;
  for (unsigned b = 0; b < 256; ++b) {
    input += static_cast<char>(b);
    want += utf8(b < 0x80 ? b : b < 0xC0 ? kHigh[b - 0x80] : 0x0410 + (b - 0xC0));
  }
  EXPECT_EQ(decode(input), as_cp1251(want));
}

TEST(DecodeInput, CountsAcceptableCodePoints) {
  // 100 code points: 95 from the marker line and Cyrillic letters, then five of `tail`.
  const struct {
    std::string_view name;
    std::string tail;
    bool acceptable;
  } cases[] = {
      {"numero sign", "\xB9", true},       {"en dash", "\x96", true},
      {"typographic quote", "\x93", true}, {"byte 98", "\x98", false},
      {"section sign", "\xA7", false},     {"guillemet", "\xAB", false},
      {"degree sign", "\xB0", false},      {"tab", "\t", true},
      {"form feed", "\f", true},           {"vertical tab", "\v", false},
      {"delete", "\x7F", false},           {"nul", std::string(1, '\0'), false},
      {"punctuation", "~", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string input = to_cp1251(kMarkerLine + repeat("я", 73)) + repeat(c.tail, 5);
    const Outcome got = decode(input);
    EXPECT_EQ(got.ok, c.acceptable);
    EXPECT_FALSE(got.utf8);
  }
}

TEST(DecodeInput, SamplesTheFirst20480CodePoints) {
  const auto sample = [](std::size_t bad) {
    return to_cp1251(kMarkerLine + repeat("я", 20480 - 22 - bad)) + repeat("\xA0", bad);
  };
  const struct {
    std::string_view name;
    std::string input;
    bool ok;
  } cases[] = {
      {"819 bad: 96 per cent", sample(819), true},
      {"820 bad: 95 per cent", sample(820), false},
      {"bad ones after the sample", sample(819) + repeat("\xA0", 50000), true},
      {"good ones after the sample", sample(820) + repeat("\xFF", 50000), false},
      {"three-byte code points count once",
       to_cp1251(kMarkerLine + repeat("№", 20480 - 22 - 819)) + repeat("\xA0", 819), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decode(c.input).ok, c.ok);
  }
}

TEST(DecodeInput, FollowsByteOrderMarks) {
  // Long enough that one stray character would not fail plausibility.
  const std::u16string text16 =
      u"1CClientBankExchange\r\nПлательщик=ООО \"Ромашка\" \U0001F600\r\nКонецФайла\r\n";
  const std::string want =
      "1CClientBankExchange\r\nПлательщик=ООО \"Ромашка\" \U0001F600\r\nКонецФайла\r\n";
  const struct {
    std::string_view name;
    std::string input;
    Outcome want;
  } cases[] = {
      {"UTF-16LE", utf16(text16, false), as_cp1251(want)},
      {"UTF-16BE", utf16(text16, true), as_cp1251(want)},
      {"UTF-16LE, only the marker", utf16(u"1CClientBankExchange", false),
       as_cp1251("1CClientBankExchange")},
      {"odd length", utf16(text16, false) + "\r", kNotStatement},
      {"unpaired high surrogate at the end", utf16(text16 + u'\xD83D', false), kNotStatement},
      {"high surrogate before a letter", utf16(text16 + u'\xD83D' + u'A', true), kNotStatement},
      {"two high surrogates", utf16(text16 + u'\xD83D' + u"\U0001F600", false), kNotStatement},
      {"low surrogate alone", utf16(text16 + u'\xDE00', true), kNotStatement},
      {"UTF-16LE, leading space", utf16(u" 1CClientBankExchange\r\n", false), kNotStatement},
      {"UTF-16LE, second mark", utf16(u"\uFEFF1CClientBankExchange\r\n", false), kNotStatement},
      {"UTF-16LE, no-break spaces", utf16(u"1CClientBankExchange\r\n\u00A0\u00A0", false),
       kNotStatement},
      {"UTF-16LE without a mark", utf16(text16, false).substr(2), kNotStatement},
      {"exactly FF FE", "\xFF\xFE", kNotStatement},
      {"exactly FE FF", "\xFE\xFF", kNotStatement},
      {"UTF-8 mark, ill-formed later", "\xEF\xBB\xBF" + kRussian + "\xC0\x80", kNotStatement},
      {"UTF-8 mark, cp1251 later", "\xEF\xBB\xBF" + to_cp1251(kRussian), kNotStatement},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decode(c.input), c.want);
  }
}

// Every sequence at many alignments and after Cyrillic runs of both parities, so that it falls
// at each place in the eight-byte words the checker reads.
TEST(DecodeInput, ChecksUtf8ByRfc3629) {
  const struct {
    std::string_view name;
    std::string_view bytes;
    bool well_formed;
  } cases[] = {
      {"U+0080", "\xC2\x80", true},
      {"U+07FF", "\xDF\xBF", true},
      {"U+0800", "\xE0\xA0\x80", true},
      {"U+D7FF", "\xED\x9F\xBF", true},
      {"U+E000", "\xEE\x80\x80", true},
      {"U+FFFF", "\xEF\xBF\xBF", true},
      {"U+10000", "\xF0\x90\x80\x80", true},
      {"U+10FFFF", "\xF4\x8F\xBF\xBF", true},
      {"overlong two bytes C0", "\xC0\x80", false},
      {"overlong two bytes C1", "\xC1\xBF", false},
      {"overlong three bytes", "\xE0\x9F\xBF", false},
      {"overlong four bytes", "\xF0\x8F\xBF\xBF", false},
      {"surrogate D800", "\xED\xA0\x80", false},
      {"surrogate DFFF", "\xED\xBF\xBF", false},
      {"above U+10FFFF", "\xF4\x90\x80\x80", false},
      {"lead F5", "\xF5\x80\x80\x80", false},
      {"byte FF", "\xFF", false},
      {"lone continuation", "\x80", false},
      {"two-byte lead before ASCII", "\xD0\x41", false},
      {"three-byte lead, one continuation", "\xE2\x84\x41", false},
      {"four-byte lead, two continuations", "\xF0\x9F\x98\x41", false},
      {"extra continuation", "\xD0\x90\x90", false},
  };
  const auto input = [](std::size_t pad, std::size_t letters, std::string_view bytes) {
    return kMarkerLine + repeat("x", 200 + pad) + repeat("Ж", letters) + std::string(bytes);
  };
  for (const auto& c : cases) {
    for (std::size_t pad = 0; pad < 16; ++pad) {
      for (std::size_t letters = 0; letters < 4; ++letters) {
        SCOPED_TRACE(::testing::Message() << c.name << ", pad " << pad << ", letters " << letters);
        const Outcome inside = decode(input(pad, letters, c.bytes) + repeat("x", 200));
        EXPECT_TRUE(inside.ok);
        EXPECT_EQ(inside.utf8, c.well_formed);
        const Outcome last = decode(input(pad, letters, c.bytes));
        EXPECT_TRUE(last.ok);
        EXPECT_EQ(last.utf8, c.well_formed);
      }
    }
  }
  // Cut sequences are viewed inside a buffer that goes on to complete them, so a check that
  // reads past the end of its input would take them as whole.
  const struct {
    std::string_view name;
    std::string_view sequence;
  } cut[] = {
      {"two-byte", "\xD0\x96"}, {"three-byte", "\xE2\x84\x96"}, {"four-byte", "\xF0\x9F\x98\x80"}};
  for (const auto& c : cut) {
    for (std::size_t drop = 1; drop < c.sequence.size(); ++drop) {
      for (std::size_t pad = 0; pad < 16; ++pad) {
        SCOPED_TRACE(::testing::Message() << c.name << ", " << drop << " dropped, pad " << pad);
        const std::string buffer = input(pad, 1, c.sequence);
        std::string storage;
        const auto got =
            decode_input(std::string_view(buffer).substr(0, buffer.size() - drop), storage);
        ASSERT_TRUE(got);
        EXPECT_NE(got->encoding, Encoding::Utf8);
      }
    }
  }
}

// Reads code points by their lead byte's length and then checks value ranges: a different road
// to the same definition.
bool reference_well_formed(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    const std::size_t size = b0 < 0x80       ? 1
                             : b0 >> 5 == 6  ? 2
                             : b0 >> 4 == 14 ? 3
                             : b0 >> 3 == 30 ? 4
                                             : 0;
    if (size == 0 || s.size() - i < size) {
      return false;
    }
    char32_t c = size == 1 ? b0 : b0 & (0x7FU >> size);
    for (std::size_t k = 1; k < size; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      if (b >> 6 != 2) {
        return false;
      }
      c = c << 6 | (b & 0x3FU);
    }
    const char32_t min[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < min[size] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      return false;
    }
    i += size;
  }
  return true;
}

TEST(DecodeInput, AgreesWithAReferenceOnRandomText) {
  std::mt19937 rng(20240305);
  const auto pick = [&rng](std::uint32_t n) {
    return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng);
  };
  for (int round = 0; round < 3000; ++round) {
    std::string body;
    for (std::uint32_t pieces = pick(60); pieces != 0; --pieces) {
      switch (pick(8)) {
        case 0:
        case 1:
          body += static_cast<char>('a' + pick(26));
          break;
        case 2:
        case 3:
        case 4:
          body += utf8(0x410 + pick(64));
          break;
        case 5:
          body += utf8(0x800 + pick(0xF800));  // surrogates included
          break;
        case 6:
          body += utf8(0x10000 + pick(0x100000));
          break;
        default:
          body += static_cast<char>(pick(256));
          break;
      }
    }
    if (pick(4) == 0 && !body.empty()) {
      body.resize(pick(static_cast<std::uint32_t>(body.size())));  // cuts a sequence now and then
    }
    SCOPED_TRACE(::testing::PrintToString(body));
    const Outcome got = decode(kMarkerLine + body + repeat("x", 8000));
    EXPECT_TRUE(got.ok);
    EXPECT_EQ(got.utf8, reference_well_formed(body));
  }
}

// The decoder the reader uses takes blocks of letters and ASCII at once; every mix of bytes, at
// every offset into a block, must come out as the byte-by-byte decoding does.
TEST(DecodeCp1251, TakesBlocksAsItTakesSingleBytes) {
  std::mt19937 rng(20240306);
  const auto pick = [&rng](std::uint32_t n) {
    return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng);
  };
  for (int round = 0; round < 3000; ++round) {
    std::string bytes;
    for (std::uint32_t n = pick(80); n != 0; --n) {
      switch (pick(4)) {
        case 0:
          bytes += static_cast<char>(0x20 + pick(0x5F));
          break;
        case 1:
        case 2:
          bytes += static_cast<char>(0xC0 + pick(64));
          break;
        default:
          bytes += static_cast<char>(pick(256));
          break;
      }
    }
    const auto decode_bytes = [](std::string_view in) {
      std::string out(cp1251_room(in.size()), '\0');
      out.resize(static_cast<std::size_t>(decode_cp1251(in, out.data()) - out.data()));
      return out;
    };
    // One byte at a time nothing is taken in blocks.
    std::string want;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      want += decode_bytes(std::string_view(bytes).substr(i, 1));
    }
    SCOPED_TRACE(::testing::PrintToString(bytes));
    EXPECT_EQ(decode_bytes(bytes), want);
  }
}

TEST(Utf8Text, DecodesWindows1251AndLeavesUtf8) {
  const struct {
    std::string_view bytes;
    Encoding encoding;
    std::string_view want;
  } cases[] = {
      {"", Encoding::Cp1251, ""},
      {"ASCII only", Encoding::Cp1251, "ASCII only"},
      {"\xD1\xF7\xE5\xF2 \xB9 1\xA0\x97", Encoding::Cp1251, "Счет № 1\u00a0—"},
      {"Счет № 1", Encoding::Utf8, "Счет № 1"},
      {"Счет № 1", Encoding::Utf16, "Счет № 1"},  // UTF-16 reaches the reader as UTF-8
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.want);
    std::string scratch;
    EXPECT_EQ(as_utf8(c.bytes, c.encoding, scratch), c.want);
    EXPECT_EQ(utf8_text(c.bytes, c.encoding), c.want);
    std::string out(c.want.size() + kCp1251Spill, '\0');
    out.resize(static_cast<std::size_t>(write_utf8(c.bytes, c.encoding, out.data()) - out.data()));
    EXPECT_EQ(out, c.want);
  }
}

}  // namespace
}  // namespace tarvik
