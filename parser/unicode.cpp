#include "unicode.h"

#include <algorithm>
#include <cstdint>
#include <span>

namespace tarvik {
namespace {

struct UnicodeRange {
  char32_t first;
  char32_t last;
};

#include "unicode_tables.inc"

bool in_ranges(std::span<const UnicodeRange> ranges, char32_t c) noexcept {
  // The first range that ends at or after c is the only one that can hold it.
  const auto it = std::partition_point(ranges.begin(), ranges.end(),
                                       [c](const UnicodeRange& r) { return r.last < c; });
  return it != ranges.end() && it->first <= c;
}

}  // namespace

bool is_white_space(char32_t c) noexcept {
  if (c < 0x80) {
    return c == 0x20 || (c >= 0x09 && c <= 0x0D);
  }
  return in_ranges(kWhiteSpaceRanges, c);
}

bool is_grapheme_extend(char32_t c) noexcept {
  if (c < 0x80) {
    return false;
  }
  return in_ranges(kGraphemeExtendRanges, c);
}

bool is_printable(char32_t c) noexcept {
  if (c < 0x80) {
    return c >= 0x20 && c < 0x7F;
  }
  if (c > 0x10FFFF) {
    return false;
  }
  return !in_ranges(kNotPrintableRanges, c);
}

bool is_decimal_digit(char32_t c) noexcept {
  if (c < 0x80) {
    return c >= '0' && c <= '9';
  }
  return in_ranges(kDecimalDigitRanges, c);
}

bool is_unassigned(char32_t c) noexcept { return c <= 0x10FFFF && in_ranges(kUnassignedRanges, c); }

std::string_view unicode_version() noexcept { return kUnicodeVersion; }

Utf8Char decode_utf8(std::string_view text) noexcept {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) {
    return {lead, 1};
  }
  // Well-formed sequences per lead byte; the second byte's bounds exclude overlong forms,
  // surrogates and code points above U+10FFFF.
  std::size_t trail_count = 0;
  char32_t code = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trail_count = 1;
    code = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trail_count = 2;
    code = lead & 0x0Fu;
    if (lead == 0xE0) {
      low = 0xA0;
    } else if (lead == 0xED) {
      high = 0x9F;
    }
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trail_count = 3;
    code = lead & 0x07u;
    if (lead == 0xF0) {
      low = 0x90;
    } else if (lead == 0xF4) {
      high = 0x8F;
    }
  } else {
    return {kInvalidUtf8, 1};
  }
  for (std::size_t i = 1; i <= trail_count; ++i) {
    if (i == text.size()) {
      return {kInvalidUtf8, i};
    }
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < low || b > high) {
      return {kInvalidUtf8, i};
    }
    low = 0x80;
    high = 0xBF;
    code = (code << 6) | (b & 0x3Fu);
  }
  return {code, trail_count + 1};
}

std::size_t white_space_prefix(std::string_view text) noexcept {
  if (text.empty()) {
    return 0;
  }
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) {
    return is_white_space(lead) ? 1 : 0;
  }
  const Utf8Char ch = decode_utf8(text);
  return ch.code != kInvalidUtf8 && is_white_space(ch.code) ? ch.length : 0;
}

bool is_blank(std::string_view text) noexcept {
  while (!text.empty()) {
    const std::size_t n = white_space_prefix(text);
    if (n == 0) {
      return false;
    }
    text.remove_prefix(n);
  }
  return true;
}

}  // namespace tarvik
