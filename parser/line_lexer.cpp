#include "line_lexer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "cp1251.h"
#include "input_decoding.h"
#include "unicode.h"

namespace tarvik {

namespace {

constexpr std::string_view kDocumentKey = "СекцияДокумент";

// The keyword lines, each a kind of its own; a document opening is a key instead.
struct Keyword {
  TokenKind kind;
  std::string_view text;
};
constexpr Keyword kKeywords[] = {
    {TokenKind::FileStart, "1CClientBankExchange"},
    {TokenKind::AccountStart, "СекцияРасчСчет"},
    {TokenKind::AccountEnd, "КонецРасчСчет"},
    {TokenKind::DocumentEnd, "КонецДокумента"},
    {TokenKind::FileEnd, "КонецФайла"},
};
constexpr std::size_t kKeywordCount = std::size(kKeywords);

constexpr std::array<Cp1251Text, kKeywordCount> kCp1251Keywords = [] {
  std::array<Cp1251Text, kKeywordCount> out{};
  for (std::size_t i = 0; i < kKeywordCount; ++i) {
    out[i] = to_cp1251_text(kKeywords[i].text);
  }
  return out;
}();
constexpr Cp1251Text kCp1251DocumentKey = to_cp1251_text(kDocumentKey);

// Only lines starting with one of these bytes can be blank: ASCII white space, or the lead byte
// of a multi-byte White_Space character (U+0085 and U+00A0 start with C2, the rest with E1-E3).
constexpr bool may_start_white_space(unsigned char b) noexcept {
  return (b >= 0x09 && b <= 0x0D) || b == 0x20 || b == 0xC2 || (b >= 0xE1 && b <= 0xE3);
}

bool is_blank_utf8(std::string_view line) noexcept { return is_blank(line); }

// The windows-1251 bytes that decode to White_Space characters.
const std::array<bool, 256>& cp1251_white_space() noexcept {
  static const std::array<bool, 256> table = [] {
    std::array<bool, 256> out{};
    for (std::size_t b = 0; b < out.size(); ++b) {
      const Cp1251Entry& e = kCp1251[b];
      const Utf8Char c =
          decode_utf8(std::string_view(reinterpret_cast<const char*>(e.bytes), e.size));
      out[b] = is_white_space(c.code);
    }
    return out;
  }();
  return table;
}

bool is_blank_cp1251(std::string_view line) noexcept {
  const std::array<bool, 256>& white = cp1251_white_space();
  for (const char c : line) {
    if (!white[static_cast<unsigned char>(c)]) {
      return false;
    }
  }
  return true;
}

}  // namespace

struct Lexicon {
  std::array<std::string_view, kKeywordCount> keywords;
  std::string_view document_key;
  // Most lines start with a byte that no blank line starts with, so they are told apart by it.
  std::array<bool, 256> may_start_blank;
  bool (*is_blank)(std::string_view line) noexcept;  // for a line whose first byte may
};

namespace {

template <class Lead>
constexpr std::array<bool, 256> may_start_blank(Lead lead) {
  std::array<bool, 256> out{};
  for (std::size_t b = 0; b < out.size(); ++b) {
    out[b] = may_start_white_space(lead(b));
  }
  return out;
}

constexpr Lexicon kUtf8Lexicon = {
    {kKeywords[0].text, kKeywords[1].text, kKeywords[2].text, kKeywords[3].text, kKeywords[4].text},
    kDocumentKey,
    may_start_blank([](std::size_t b) { return static_cast<unsigned char>(b); }),
    is_blank_utf8,
};
constexpr Lexicon kCp1251Lexicon = {
    {kCp1251Keywords[0].view(), kCp1251Keywords[1].view(), kCp1251Keywords[2].view(),
     kCp1251Keywords[3].view(), kCp1251Keywords[4].view()},
    kCp1251DocumentKey.view(),
    may_start_blank([](std::size_t b) { return kCp1251[b].bytes[0]; }),
    is_blank_cp1251,
};

bool is_blank_line(std::string_view line, const Lexicon& lexicon) noexcept {
  return line.empty() || (lexicon.may_start_blank[static_cast<unsigned char>(line.front())] &&
                          lexicon.is_blank(line));
}

const Lexicon& lexicon_of(Encoding encoding) noexcept {
  return encoding == Encoding::Cp1251 ? kCp1251Lexicon : kUtf8Lexicon;
}

// Many keys share the document key's size, so their first bytes, which differ, are compared
// before a call compares the rest.
bool is_document_key(std::string_view key, const Lexicon& lexicon) noexcept {
  const std::string_view want = lexicon.document_key;
  static_assert(kDocumentKey.size() >= 4 && kCp1251DocumentKey.size >= 4);
  return key.size() == want.size() && std::memcmp(key.data(), want.data(), 4) == 0 && key == want;
}

bool keyword_kind(std::string_view line, const Lexicon& lexicon, TokenKind& kind) noexcept {
  for (std::size_t i = 0; i < kKeywordCount; ++i) {
    if (line == lexicon.keywords[i]) {
      kind = kKeywords[i].kind;
      return true;
    }
  }
  return false;
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

bool is_misspelt_marker(std::string_view line) noexcept {
  // Edit distance within two, letters compared without case: a table of two rows.
  constexpr std::size_t kMaxEdits = 2;
  const std::string_view marker = kKeywords[0].text;
  if (line.size() + kMaxEdits < marker.size() || line.size() > marker.size() + kMaxEdits) {
    return false;
  }
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  std::array<std::size_t, 32> previous{};
  std::array<std::size_t, 32> current{};
  for (std::size_t j = 0; j <= marker.size(); ++j) {
    previous[j] = j;
  }
  for (std::size_t i = 1; i <= line.size(); ++i) {
    current[0] = i;
    for (std::size_t j = 1; j <= marker.size(); ++j) {
      const std::size_t changed =
          previous[j - 1] + (lower(line[i - 1]) == lower(marker[j - 1]) ? 0 : 1);
      current[j] = std::min({changed, previous[j] + 1, current[j - 1] + 1});
    }
    previous = current;
  }
  return previous[marker.size()] <= kMaxEdits;
}

bool is_bare_document_opening(std::string_view line, Encoding encoding) noexcept {
  return line == lexicon_of(encoding).document_key;
}

bool is_keyword_in_other_encoding(std::string_view line, Encoding encoding,
                                  TokenKind& kind) noexcept {
  const Encoding other = encoding == Encoding::Cp1251 ? Encoding::Utf8 : Encoding::Cp1251;
  return keyword_kind(line, lexicon_of(other), kind) && kind != TokenKind::FileStart;
}

FirstLine first_line(std::string_view text, Encoding encoding) noexcept {
  const Lexicon& lexicon = lexicon_of(encoding);
  std::string_view line = text.substr(0, text.find('\n'));
  if (line.ends_with('\r')) {
    line.remove_suffix(1);
  }
  if (line == kKeywords[0].text) {
    return FirstLine::Marker;
  }
  if (is_misspelt_marker(line)) {
    return FirstLine::MisspeltMarker;
  }
  const std::string_view key = line.substr(0, line.find('='));
  TokenKind kind = TokenKind::Attribute;
  if (is_document_key(key, lexicon) ||
      (keyword_kind(line, lexicon, kind) && kind == TokenKind::AccountStart)) {
    return FirstLine::Section;
  }
  return FirstLine::Other;
}

std::string_view line_text(const LineToken& token, Encoding encoding) noexcept {
  const Lexicon& lexicon = lexicon_of(encoding);
  switch (token.kind) {
    case TokenKind::Attribute:
      return std::string_view(
          token.key.data(),
          static_cast<std::size_t>(token.value.data() + token.value.size() - token.key.data()));
    case TokenKind::DocumentStart: {
      // The key and its "=" stand right before the type.
      const std::size_t key = lexicon.document_key.size() + 1;
      return std::string_view(token.value.data() - key, key + token.value.size());
    }
    case TokenKind::FileStart:
      return kKeywords[0].text;
    case TokenKind::AccountStart:
    case TokenKind::AccountEnd:
    case TokenKind::DocumentEnd:
    case TokenKind::FileEnd:
      for (std::size_t i = 0; i < kKeywordCount; ++i) {
        if (kKeywords[i].kind == token.kind) {
          return lexicon.keywords[i];
        }
      }
      break;
  }
  return token.value;
}

bool is_recognized(std::string_view line, Encoding encoding) noexcept {
  const Lexicon& lexicon = lexicon_of(encoding);
  TokenKind kind;
  return is_blank_line(line, lexicon) || std::memchr(line.data(), '=', line.size()) != nullptr ||
         keyword_kind(line, lexicon, kind);
}

std::string keyword_text(const LineToken& token, Encoding encoding) {
  switch (token.kind) {
    case TokenKind::DocumentStart: {
      std::string out(kDocumentKey);
      out += '=';
      std::string scratch;
      out.append(as_utf8(token.value, encoding, scratch));
      return out;
    }
    case TokenKind::Attribute: {
      std::string out = utf8_text(token.key, encoding);
      out += '=';
      std::string scratch;
      out.append(as_utf8(token.value, encoding, scratch));
      return out;
    }
    case TokenKind::FileStart:
    case TokenKind::AccountStart:
    case TokenKind::AccountEnd:
    case TokenKind::DocumentEnd:
    case TokenKind::FileEnd:
      break;
  }
  for (const Keyword& k : kKeywords) {
    if (k.kind == token.kind) {
      return std::string(k.text);
    }
  }
  return {};
}

LineLexer::LineLexer(std::string_view text, Encoding encoding) noexcept
    : rest_(text), lexicon_(&lexicon_of(encoding)), end_(text.data() + text.size()) {}

LineLexer LineLexer::checking_utf8(std::string_view text) noexcept {
  LineLexer lexer(text, Encoding::Utf8);
  lexer.checking_ = true;
  lexer.unchecked_ = text.data();
  return lexer;
}

bool LineLexer::check_stretch() noexcept {
  // Small enough to stay in cache from the check to the lexing, large enough that a check runs
  // over many lines at once. A stretch ends after a line feed, which no sequence spans.
  constexpr std::size_t kCheckStretch = std::size_t{64} << 10;
  const auto left = static_cast<std::size_t>(end_ - unchecked_);
  std::size_t take = left;
  if (left > kCheckStretch) {
    const void* const lf = std::memchr(unchecked_ + kCheckStretch, '\n', left - kCheckStretch);
    if (lf != nullptr) {
      take = static_cast<std::size_t>(static_cast<const char*>(lf) - unchecked_) + 1;
    }
  }
  const bool well_formed = is_utf8(std::string_view(unchecked_, take));
  unchecked_ += take;
  return well_formed;
}

bool LineLexer::rest_is_utf8() noexcept {
  if (!checking_ || unchecked_ == end_) {
    return true;
  }
  const bool well_formed =
      is_utf8(std::string_view(unchecked_, static_cast<std::size_t>(end_ - unchecked_)));
  unchecked_ = end_;
  return well_formed;
}

LexStep LineLexer::next(LineToken& token) {
  while (!rest_.empty()) {
    // A line that starts in a checked stretch ends in it, at the line feed that ends the stretch
    // or before.
    if (checking_ && rest_.data() >= unchecked_ && !check_stretch()) {
      not_utf8_ = true;
      rest_ = {};
      return LexStep::End;
    }
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
    if (is_blank_line(line, *lexicon_)) {
      continue;
    }
    token.lineno = lineno_;
    // An "=" is never the carriage return taken off the line's end, so it lies within the line.
    if (ends.eq != nullptr) {
      const auto at = static_cast<std::size_t>(ends.eq - begin);
      token.key = line.substr(0, at);
      token.value = line.substr(at + 1);
      token.kind =
          is_document_key(token.key, *lexicon_) ? TokenKind::DocumentStart : TokenKind::Attribute;
      if (token.kind == TokenKind::DocumentStart) {
        token.key = {};
      }
      return LexStep::Token;
    }
    token.key = {};
    token.value = {};
    if (keyword_kind(line, *lexicon_, token.kind)) {
      return LexStep::Token;
    }
    token.value = line;
    return LexStep::Unrecognized;
  }
  return LexStep::End;
}

}  // namespace tarvik
