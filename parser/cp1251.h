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

constexpr bool starts_with_entry(std::string_view utf8, const Cp1251Entry& e) noexcept {
  if (e.size > utf8.size()) {
    return false;
  }
  for (std::size_t i = 0; i < e.size; ++i) {
    if (static_cast<unsigned char>(utf8[i]) != e.bytes[i]) {
      return false;
    }
  }
  return true;
}

// The windows-1251 bytes of a UTF-8 text; a text the code page cannot hold, or one too long,
// fails to compile where a constant is made of it. No two bytes decode alike, so equal bytes mean
// equal texts.
constexpr Cp1251Text to_cp1251_text(std::string_view utf8) {
  Cp1251Text out;
  while (!utf8.empty()) {
    std::size_t b = 0;
    while (b < 256 && !starts_with_entry(utf8, kCp1251[b])) {
      ++b;
    }
    if (b == 256 || out.size == out.bytes.size()) {
      throw "no windows-1251 form";
    }
    out.bytes[out.size++] = static_cast<char>(b);
    utf8.remove_prefix(kCp1251[b].size);
  }
  return out;
}

}  // namespace tarvik
