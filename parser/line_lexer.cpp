#include "line_lexer.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "input_decoding.h"
#include "unicode.h"

namespace tarvik {

namespace {

constexpr std::string_view kFileStart = "1CClientBankExchange";
constexpr std::string_view kAccountStart = "СекцияРасчСчет";
constexpr std::string_view kAccountEnd = "КонецРасчСчет";
constexpr std::string_view kDocumentKey = "СекцияДокумент";
constexpr std::string_view kDocumentEnd = "КонецДокумента";
constexpr std::string_view kFileEnd = "КонецФайла";

// Only lines starting with one of these bytes can be blank: ASCII white space, or the lead byte
// of a multi-byte White_Space character (U+0085 and U+00A0 start with C2, the rest with E1-E3).
bool may_start_white_space(unsigned char b) noexcept {
  return (b >= 0x09 && b <= 0x0D) || b == 0x20 || b == 0xC2 || (b >= 0xE1 && b <= 0xE3);
}

bool keyword_kind(std::string_view line, TokenKind& kind) noexcept {
  if (line == kFileStart) {
    kind = TokenKind::FileStart;
  } else if (line == kAccountStart) {
    kind = TokenKind::AccountStart;
  } else if (line == kAccountEnd) {
    kind = TokenKind::AccountEnd;
  } else if (line == kDocumentEnd) {
    kind = TokenKind::DocumentEnd;
  } else if (line == kFileEnd) {
    kind = TokenKind::FileEnd;
  } else {
    return false;
  }
  return true;
}

bool is_blank_line(std::string_view line) noexcept {
  return line.empty() ||
         (may_start_white_space(static_cast<unsigned char>(line.front())) && is_blank(line));
}

}  // namespace

LineEnds scan_line(const char* p, const char* const end) noexcept {
  const char* eq = nullptr;
#if defined(__SSE2__)
  const __m128i lf_bytes = _mm_set1_epi8('\n');
  const __m128i eq_bytes = _mm_set1_epi8('=');
  for (; end - p >= 16; p += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const auto lfs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf_bytes)));
    auto eqs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, eq_bytes)));
    if (lfs != 0) {
      const auto at = static_cast<unsigned>(__builtin_ctz(lfs));
      eqs &= (1U << at) - 1;
      if (eq == nullptr && eqs != 0) {
        eq = p + __builtin_ctz(eqs);
      }
      return {p + at, eq};
    }
    if (eq == nullptr && eqs != 0) {
      eq = p + __builtin_ctz(eqs);
    }
  }
#endif
  for (; p != end; ++p) {
    if (*p == '\n') {
      return {p, eq};
    }
    if (*p == '=' && eq == nullptr) {
      eq = p;
    }
  }
  return {end, eq};
}

bool is_recognized(std::string_view line) noexcept {
  TokenKind kind;
  return is_blank_line(line) || std::memchr(line.data(), '=', line.size()) != nullptr ||
         keyword_kind(line, kind);
}

std::string keyword_text(const LineToken& token) {
  switch (token.kind) {
    case TokenKind::FileStart:
      return std::string(kFileStart);
    case TokenKind::AccountStart:
      return std::string(kAccountStart);
    case TokenKind::AccountEnd:
      return std::string(kAccountEnd);
    case TokenKind::DocumentStart: {
      std::string out;
      out.reserve(kDocumentKey.size() + 1 + token.value.size());
      out.append(kDocumentKey).append("=").append(token.value);
      return out;
    }
    case TokenKind::DocumentEnd:
      return std::string(kDocumentEnd);
    case TokenKind::FileEnd:
      return std::string(kFileEnd);
    case TokenKind::Attribute: {
      std::string out;
      out.reserve(token.key.size() + 1 + token.value.size());
      out.append(token.key).append("=").append(token.value);
      return out;
    }
  }
  return {};
}

bool LineLexer::refill() {
  rest_ = stretches_.next(handed_out_);
  return !rest_.empty();
}

LexStep LineLexer::next(LineToken& token) {
  while (!rest_.empty() || refill()) {
    const char* const begin = rest_.data();
    const char* const end = begin + rest_.size();
    const LineEnds ends = scan_line(begin, end);
    std::string_view line(begin, static_cast<std::size_t>(ends.lf - begin));
    if (ends.lf != end) {
      rest_ = std::string_view(ends.lf + 1, static_cast<std::size_t>(end - ends.lf - 1));
      if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
      }
    } else {
      rest_ = {};
    }
    ++lineno_;
    if (is_blank_line(line)) {
      continue;
    }
    token.lineno = lineno_;
    handed_out_ = true;
    // An "=" is never the carriage return taken off the line's end, so it lies within the line.
    if (ends.eq != nullptr) {
      const auto at = static_cast<std::size_t>(ends.eq - begin);
      token.key = line.substr(0, at);
      token.value = line.substr(at + 1);
      token.kind = token.key == kDocumentKey ? TokenKind::DocumentStart : TokenKind::Attribute;
      if (token.kind == TokenKind::DocumentStart) {
        token.key = {};
      }
      return LexStep::Token;
    }
    token.key = {};
    token.value = {};
    if (keyword_kind(line, token.kind)) {
      return LexStep::Token;
    }
    token.value = line;
    return LexStep::Unrecognized;
  }
  return LexStep::End;
}

}  // namespace tarvik
