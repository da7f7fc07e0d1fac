#pragma once

// windows-1251 as the WHATWG index maps it, in one table that the decoder reads and from which
// the keywords and keys matched on undecoded bytes are encoded when the core is compiled.

#include <array>
#include <cstddef>
#include <string_view>

namespace tarvik {

// The UTF-8 form of one windows-1251 byte; `bytes` is padded so that an entry is stored with
// one four-byte copy, of which the first `size` bytes count.
struct Cp1251Entry {
  unsigned char bytes[3];
  unsigned char size;
};
static_assert(sizeof(Cp1251Entry) == 4);

alignas(4) inline constexpr Cp1251Entry kCp1251[256] = {
#include "cp1251_table.inc"
};

// A keyword or key in windows-1251, held by value so that a table of them can be a constant.
struct Cp1251Text {
  std::array<char, 64> bytes{};
  std::size_t size = 0;
  constexpr std::string_view view() const noexcept { return {bytes.data(), size}; }
};

// The code point of a byte, from its UTF-8 form in the table.
constexpr char32_t code_point_of(const Cp1251Entry& e) noexcept {
  switch (e.size) {
    case 1:
      return e.bytes[0];
    case 2:
      return char32_t{e.bytes[0] & 0x1FU} << 6 | (e.bytes[1] & 0x3FU);
    default:
      return char32_t{e.bytes[0] & 0x0FU} << 12 | char32_t{e.bytes[1] & 0x3FU} << 6 |
             (e.bytes[2] & 0x3FU);
  }
}

// The byte of each code point below U+0500 (ASCII and Cyrillic, all that keys and keywords are
// made of), or -1: a lookup, so that encoding them stays within a compiler's evaluation limits.
inline constexpr std::size_t kCp1251IndexedBelow = 0x500;
inline constexpr std::array<short, kCp1251IndexedBelow> kCp1251ByteOf = [] {
  std::array<short, kCp1251IndexedBelow> out{};
  out.fill(-1);
  for (std::size_t b = 0; b < 256; ++b) {
    const char32_t c = code_point_of(kCp1251[b]);
    if (c < kCp1251IndexedBelow) {
      out[c] = static_cast<short>(b);
    }
  }
  return out;
}();

// The windows-1251 bytes of a UTF-8 text of ASCII and Cyrillic; any other character, or a text
// too long, fails to compile where a constant is made of it. No two bytes decode alike, so equal
// bytes mean equal texts.
constexpr Cp1251Text to_cp1251_text(std::string_view utf8) {
  Cp1251Text out;
  while (!utf8.empty()) {
    const auto lead = static_cast<unsigned char>(utf8[0]);
    const std::size_t size = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : 3;
    if (size > utf8.size()) {
      throw "a cut UTF-8 sequence";
    }
    Cp1251Entry e{{lead, 0, 0}, static_cast<unsigned char>(size)};
    for (std::size_t i = 1; i < size; ++i) {
      e.bytes[i] = static_cast<unsigned char>(utf8[i]);
    }
    const char32_t c = code_point_of(e);
    if (c >= kCp1251IndexedBelow || kCp1251ByteOf[c] < 0 || out.size == out.bytes.size()) {
      throw "no windows-1251 form";
    }
    out.bytes[out.size++] = static_cast<char>(kCp1251ByteOf[c]);
    utf8.remove_prefix(size);
  }
  return out;
}

}  // namespace tarvik
