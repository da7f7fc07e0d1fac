// decode_input over any bytes, checked against a second, deliberately plain reading of the
// same rules: UTF-8 in place, else byte-order-mark sniffing or windows-1251, the plausibility
// share over the first 20480 code points, and the marker as the first line. Also: the decoding
// is deterministic and its text is well-formed UTF-8.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_util.h"
#include "input_decoding.h"
#include "tests/whole_text.h"

namespace {

constexpr std::string_view kMarker = "1CClientBankExchange";

// windows-1251 as the WHATWG index has it, 0x80 to 0xBF; 0xC0 to 0xFF are U+0410 to U+044F.
constexpr std::array<char16_t, 64> kHighHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409,
    0x2039, 0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0,
    0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB,
    0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6,
    0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

char32_t cp1251_code(unsigned char b) {
  return b < 0x80   ? char32_t{b}
         : b < 0xC0 ? char32_t{kHighHalf[b - 0x80]}
                    : char32_t(0x410 + (b - 0xC0));
}

void append_utf8(std::u32string_view codes, std::string& out) {
  for (const char32_t c : codes) {
    tarvik::fuzz::append_utf8(out, c);
  }
}

std::optional<std::u32string> decode_utf16(std::string_view bytes, bool little_endian) {
  if (bytes.size() % 2 != 0) {
    return std::nullopt;
  }
  std::u32string out;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
    const char32_t unit = little_endian ? char32_t(b0 | (b1 << 8)) : char32_t((b0 << 8) | b1);
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
      return std::nullopt;
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 3 >= bytes.size()) {
        return std::nullopt;
      }
      const auto c0 = static_cast<unsigned char>(bytes[i + 2]);
      const auto c1 = static_cast<unsigned char>(bytes[i + 3]);
      const char32_t low = little_endian ? char32_t(c0 | (c1 << 8)) : char32_t((c0 << 8) | c1);
      if (low < 0xDC00 || low > 0xDFFF) {
        return std::nullopt;
      }
      out += char32_t(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
      i += 2;
      continue;
    }
    out += unit;
  }
  return out;
}

bool acceptable(char32_t c) {
  return (c >= 0x21 && c <= 0x7E) || c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D ||
         c == 0x20 || c >= 0x400;
}

// Code points of well-formed UTF-8, in order.
std::u32string code_points(std::string_view text) {
  std::u32string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    const std::size_t n = b0 < 0x80 ? 1 : b0 < 0xE0 ? 2 : b0 < 0xF0 ? 3 : 4;
    char32_t c = n == 1 ? b0 : n == 2 ? (b0 & 0x1F) : n == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    for (std::size_t k = 1; k < n; ++k) {
      c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    out += c;
    i += n;
  }
  return out;
}

bool plausible(std::u32string_view codes) {
  const std::size_t examined = codes.size() < 20480 ? codes.size() : 20480;
  if (examined == 0) {
    return false;
  }
  std::size_t good = 0;
  for (std::size_t i = 0; i < examined; ++i) {
    good += acceptable(codes[i]) ? 1U : 0U;
  }
  return good * 100 / examined > 95;
}

bool first_line_is_marker(std::string_view text) {
  std::string_view line = text.substr(0, text.find('\n'));
  if (line.size() < text.size() && !line.empty() && line.back() == '\r') {
    line.remove_suffix(1);
  }
  return line == kMarker;
}

struct Expected {
  std::string text;
  bool utf8;
};

std::optional<Expected> expected_decoding(std::string_view input) {
  if (tarvik::fuzz::is_valid_utf8(input)) {
    if (!first_line_is_marker(input)) {
      return std::nullopt;
    }
    return Expected{std::string(input), true};
  }
  std::u32string codes;
  if (input.substr(0, 3) == "\xEF\xBB\xBF") {
    const std::string_view rest = input.substr(3);
    if (!tarvik::fuzz::is_valid_utf8(rest)) {
      return std::nullopt;
    }
    codes = code_points(rest);
  } else if (input.substr(0, 2) == "\xFF\xFE" || input.substr(0, 2) == "\xFE\xFF") {
    auto decoded = decode_utf16(input.substr(2), input[0] == '\xFF');
    if (!decoded) {
      return std::nullopt;
    }
    codes = std::move(*decoded);
  } else {
    for (const char b : input) {
      codes += cp1251_code(static_cast<unsigned char>(b));
    }
  }
  if (!plausible(codes)) {
    return std::nullopt;
  }
  std::string text;
  append_utf8(codes, text);
  if (!first_line_is_marker(text)) {
    return std::nullopt;
  }
  return Expected{std::move(text), false};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const tarvik::fuzz::ExactCopy input(data, size);
  const std::string_view bytes = input.view();

  std::string storage;
  const auto decoded = tarvik::testing::decode_input(bytes, storage);
  std::string storage2;
  const auto decoded2 = tarvik::testing::decode_input(bytes, storage2);
  TARVIK_FUZZ_CHECK(decoded.has_value() == decoded2.has_value());
  if (decoded) {
    TARVIK_FUZZ_CHECK(decoded->text == decoded2->text && decoded->encoding == decoded2->encoding);
  }

  // The windows-1251 decoder alone, over any bytes, into exactly the room it asks for.
  {
    const std::size_t room = tarvik::cp1251_room(bytes.size());
    const auto out = std::make_unique<char[]>(room);
    const char* const end = tarvik::decode_cp1251(bytes, out.get());
    TARVIK_FUZZ_CHECK(end >= out.get() && end <= out.get() + room);
    std::u32string codes;
    for (const char b : bytes) {
      codes += cp1251_code(static_cast<unsigned char>(b));
    }
    std::string want;
    append_utf8(codes, want);
    TARVIK_FUZZ_CHECK(std::string_view(out.get(), static_cast<std::size_t>(end - out.get())) ==
                      want);
  }

  // Classifying without decoding says the same as decoding.
  std::string storage3;
  const auto classified = tarvik::classify_input(bytes, storage3);
  TARVIK_FUZZ_CHECK(classified.has_value() == decoded.has_value());
  if (classified) {
    TARVIK_FUZZ_CHECK(classified->encoding == decoded->encoding);
    if (classified->encoding == tarvik::Encoding::Cp1251) {
      TARVIK_FUZZ_CHECK(classified->text == bytes);
    } else {
      TARVIK_FUZZ_CHECK(classified->text == decoded->text);
    }
  }

  const auto want = expected_decoding(bytes);
  TARVIK_FUZZ_CHECK(decoded.has_value() == want.has_value());
  if (!decoded) {
    return 0;
  }
  TARVIK_FUZZ_CHECK((decoded->encoding == tarvik::Encoding::Utf8) == want->utf8);
  TARVIK_FUZZ_CHECK(decoded->text == want->text);
  TARVIK_FUZZ_CHECK(tarvik::fuzz::is_valid_utf8(decoded->text));
  TARVIK_FUZZ_CHECK(first_line_is_marker(decoded->text));
  if (decoded->encoding == tarvik::Encoding::Utf8) {
    // Well-formed UTF-8 is read in place.
    TARVIK_FUZZ_CHECK(decoded->text.data() == bytes.data() && decoded->text.size() == bytes.size());
  }
  return 0;
}
