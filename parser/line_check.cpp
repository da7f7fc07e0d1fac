#include "line_check.h"

#include <cstdint>
#include <string>

#include "input_decoding.h"
#include "line_lexer.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarvik {

namespace {

// Walks the lines of a text, noting for each whether it holds an "=", and hands every line without
// one to `check` with its number; stops at the first line that `check` returns a finding for.
class LineWalk {
 public:
  explicit LineWalk(std::string_view text) noexcept : text_(text) {}

  template <class Check>
  auto run(Check check) -> decltype(check(std::string_view{}, std::uint64_t{})) {
    const char* const begin = text_.data();
    const char* const end = begin + text_.size();
    const char* p = begin;
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i eq = _mm_set1_epi8('=');
    for (; end - p >= 16; p += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      auto lfs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)));
      auto eqs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, eq)));
      while (lfs != 0) {
        const auto at = static_cast<unsigned>(__builtin_ctz(lfs));
        const unsigned upto = (2U << at) - 1;  // the bits of this line's bytes, line feed included
        if ((eqs & upto) != 0) {
          has_eq_ = true;
        }
        eqs &= ~upto;
        lfs &= lfs - 1;
        if (auto found = end_line(p + at, true, check)) {
          return found;
        }
      }
      if (eqs != 0) {
        has_eq_ = true;
      }
    }
#endif
    for (; p != end; ++p) {
      if (*p == '=') {
        has_eq_ = true;
      } else if (*p == '\n') {
        if (auto found = end_line(p, true, check)) {
          return found;
        }
      }
    }
    if (line_start_ != end) {
      return end_line(end, false, check);
    }
    return {};
  }

 private:
  template <class Check>
  auto end_line(const char* line_end, bool line_feed, Check& check)
      -> decltype(check(std::string_view{}, std::uint64_t{})) {
    ++lineno_;
    const char* const start = line_start_;
    const bool has_eq = has_eq_;
    line_start_ = line_end + 1;
    has_eq_ = false;
    if (has_eq) {
      return {};
    }
    std::string_view line(start, static_cast<std::size_t>(line_end - start));
    // As the lexer splits lines: a carriage return goes only with the line feed after it.
    if (line_feed && !line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    return check(line, lineno_);
  }

  std::string_view text_;
  const char* line_start_ = text_.data();
  std::uint64_t lineno_ = 0;
  bool has_eq_ = false;
};

}  // namespace

std::optional<UnrecognizedLine> first_unrecognized_line(std::string_view text, Encoding encoding) {
  std::string decoded;
  return LineWalk(text).run(
      [&](std::string_view line, std::uint64_t lineno) -> std::optional<UnrecognizedLine> {
        if (encoding == Encoding::Cp1251) {
          decoded.resize(cp1251_room(line.size()));
          const char* const end = decode_cp1251(line, decoded.data());
          line = std::string_view(decoded.data(), static_cast<std::size_t>(end - decoded.data()));
        }
        if (is_recognized(line)) {
          return std::nullopt;
        }
        return UnrecognizedLine{lineno, std::string(line)};
      });
}

}  // namespace tarvik
