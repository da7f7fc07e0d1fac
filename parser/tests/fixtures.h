#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace tarvik::testing {

// Joins lines with CR LF, each line ended, as bank exports write them.
inline std::string statement(std::initializer_list<std::string_view> lines) {
  std::string out;
  for (std::string_view line : lines) {
    out += line;
    out += "\r\n";
  }
  return out;
}

// Re-encodes UTF-8 text made of ASCII, Cyrillic letters (U+0410..U+044F, Ё, ё) and the numero
// sign into windows-1251 bytes.
inline std::string to_cp1251(std::string_view utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b0 = static_cast<unsigned char>(utf8[i]);
    if (b0 < 0x80) {
      out += static_cast<char>(b0);
      ++i;
      continue;
    }
    char32_t c;
    if ((b0 & 0xE0) == 0xC0) {
      c = char32_t(((b0 & 0x1FU) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3FU));
      i += 2;
    } else {
      c = char32_t(((b0 & 0x0FU) << 12) | ((static_cast<unsigned char>(utf8[i + 1]) & 0x3FU) << 6) |
                   (static_cast<unsigned char>(utf8[i + 2]) & 0x3FU));
      i += 3;
    }
    if (c >= 0x410 && c <= 0x44F) {
      out += static_cast<char>(c - 0x410 + 0xC0);
    } else if (c == 0x401) {
      out += '\xA8';
    } else if (c == 0x451) {
      out += '\xB8';
    } else if (c == 0x2116) {
      out += '\xB9';
    } else {
      out += '?';
    }
  }
  return out;
}

}  // namespace tarvik::testing
