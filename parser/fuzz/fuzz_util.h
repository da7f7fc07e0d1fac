#pragma once

// Shared by the fuzz targets: property checks that abort with a readable line, and the small
// independent readings of UTF-8 and line structure the targets check the core against.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace tarvik::fuzz {

[[noreturn]] inline void fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property violated: %s\n", file, line, what);
  std::fflush(stderr);
  std::abort();
}

// An owned copy of the input of exactly its size, so that a read one past the end of any view
// into it lands outside the allocation and AddressSanitizer names it.
class ExactCopy {
 public:
  ExactCopy(const std::uint8_t* data, std::size_t size)
      : bytes_(std::make_unique<char[]>(size == 0 ? 1 : size)), size_(size) {
    if (size != 0) {
      std::memcpy(bytes_.get(), data, size);
    }
  }
  std::string_view view() const noexcept { return {bytes_.get(), size_}; }

 private:
  std::unique_ptr<char[]> bytes_;
  std::size_t size_;
};

// RFC 3629 well-formedness, written apart from the core's decoder so the two check each other.
inline bool is_valid_utf8(std::string_view text) noexcept {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
      ++i;
      continue;
    }
    std::size_t n = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      n = 1;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      n = 2;
      lo = b0 == 0xE0 ? 0xA0 : 0x80;
      hi = b0 == 0xED ? 0x9F : 0xBF;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      n = 3;
      lo = b0 == 0xF0 ? 0x90 : 0x80;
      hi = b0 == 0xF4 ? 0x8F : 0xBF;
    } else {
      return false;
    }
    if (text.size() - i <= n) {
      return false;
    }
    const auto b1 = static_cast<unsigned char>(text[i + 1]);
    if (b1 < lo || b1 > hi) {
      return false;
    }
    for (std::size_t k = 2; k <= n; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      if (b < 0x80 || b > 0xBF) {
        return false;
      }
    }
    i += n + 1;
  }
  return true;
}

// White_Space as the format counts it, listed apart from the core's generated tables.
inline bool is_white_space(char32_t c) noexcept {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

// The White_Space character `text` starts with: its length in bytes, or 0.
inline std::size_t white_space_at(std::string_view text) noexcept {
  if (text.empty()) {
    return 0;
  }
  const auto b0 = static_cast<unsigned char>(text[0]);
  if (b0 < 0x80) {
    return is_white_space(b0) ? 1 : 0;
  }
  const std::size_t n = b0 >= 0xC2 && b0 <= 0xDF ? 2 : b0 >= 0xE0 && b0 <= 0xEF ? 3 : 0;
  if (n == 0 || text.size() < n || !is_valid_utf8(text.substr(0, n))) {
    return 0;
  }
  char32_t c = n == 2 ? (b0 & 0x1FU) : (b0 & 0x0FU);
  for (std::size_t k = 1; k < n; ++k) {
    c = (c << 6) | (static_cast<unsigned char>(text[k]) & 0x3FU);
  }
  return is_white_space(c) ? n : 0;
}

// Empty, or White_Space characters only.
inline bool is_blank(std::string_view text) noexcept {
  while (!text.empty()) {
    const std::size_t n = white_space_at(text);
    if (n == 0) {
      return false;
    }
    text.remove_prefix(n);
  }
  return true;
}

// The UTF-8 form of one code point, written out plainly as the references' own.
inline void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Code points of well-formed UTF-8 text.
inline std::size_t code_point_count(std::string_view text) noexcept {
  std::size_t n = 0;
  for (const char c : text) {
    n += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1U : 0U;
  }
  return n;
}

// Physical lines as statement line numbers count them: a final line without "\n" counts when it
// is not empty, and a text ending in "\n" has no line after it.
inline std::uint64_t line_count(std::string_view text) noexcept {
  std::uint64_t n = 0;
  for (const char c : text) {
    n += c == '\n' ? 1U : 0U;
  }
  if (!text.empty() && text.back() != '\n') {
    ++n;
  }
  return n;
}

// The text of line `lineno` (1-based) without its terminator: "\n", and one "\r" before it.
inline std::string_view line_at(std::string_view text, std::uint64_t lineno) noexcept {
  std::size_t start = 0;
  for (std::uint64_t k = 1; k < lineno; ++k) {
    const std::size_t nl = text.find('\n', start);
    if (nl == std::string_view::npos) {
      return {};
    }
    start = nl + 1;
  }
  const std::size_t nl = text.find('\n', start);
  std::string_view line = text.substr(start, nl == std::string_view::npos ? nl : nl - start);
  if (nl != std::string_view::npos && !line.empty() && line.back() == '\r') {
    line.remove_suffix(1);
  }
  return line;
}

}  // namespace tarvik::fuzz

// A macro so the message names the expression and its line; aborts, which libFuzzer reports as a
// crash with the input saved.
#define TARVIK_FUZZ_CHECK(cond)                        \
  do {                                                 \
    if (!(cond)) {                                     \
      ::tarvik::fuzz::fail(#cond, __FILE__, __LINE__); \
    }                                                  \
  } while (false)
