#include "input_decoding.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cp1251.h"
#include "line_lexer.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TARVIK_SSSE3_DISPATCH 1
#include <immintrin.h>
#endif

namespace tarvik {
namespace {

using Byte = unsigned char;

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

// Plausibility looks at this many leading code points and needs more than this percentage of
// them to be acceptable.
constexpr std::size_t kSampleSize = 20480;
constexpr std::size_t kPlausiblePercent = 95;

const Byte* bytes_of(std::string_view s) noexcept {
  return reinterpret_cast<const Byte*>(s.data());
}

constexpr std::uint64_t kHighBits = 0x8080808080808080U;

// Byte i of the text lands in bits 8i..8i+7, whatever the machine's byte order.
std::uint64_t load_le64(const Byte* p) noexcept {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) {
    v = __builtin_bswap64(v);
  }
  return v;
}

// The end of the one well-formed sequence that starts at `p`, or nullptr. The bounds on the
// second byte are what exclude overlong forms, surrogates and code points above U+10FFFF.
const Byte* skip_sequence(const Byte* p, const Byte* end) noexcept {
  const Byte b0 = *p;
  if (b0 < 0x80) {
    return p + 1;
  }
  std::ptrdiff_t size;
  Byte lo = 0x80;
  Byte hi = 0xBF;
  if (b0 < 0xC2) {
    return nullptr;
  } else if (b0 < 0xE0) {
    size = 2;
  } else if (b0 < 0xF0) {
    size = 3;
    if (b0 == 0xE0) {
      lo = 0xA0;
    } else if (b0 == 0xED) {
      hi = 0x9F;
    }
  } else if (b0 < 0xF5) {
    size = 4;
    if (b0 == 0xF0) {
      lo = 0x90;
    } else if (b0 == 0xF4) {
      hi = 0x8F;
    }
  } else {
    return nullptr;
  }
  if (end - p < size || p[1] < lo || p[1] > hi) {
    return nullptr;
  }
  for (std::ptrdiff_t i = 2; i < size; ++i) {
    if ((p[i] & 0xC0) != 0x80) {
      return nullptr;
    }
  }
  return p + size;
}

// Statement text is ASCII mixed with two-byte sequences (Cyrillic), so that mix is checked a
// word at a time, one bit per byte: each continuation byte must follow a lead byte C2..DF and
// each such lead must be followed by one. `carry` is 0x80 when the previous word ended with such
// a lead, and is updated for the next word. Returns the bytes (bit 7) that break the pattern:
// three- and four-byte sequences as well as faults.
std::uint64_t misfits(std::uint64_t w, std::uint64_t& carry) noexcept {
  const std::uint64_t bit7 = w & kHighBits;
  const std::uint64_t bit6 = (w << 1) & kHighBits;
  const std::uint64_t bit5 = (w << 2) & kHighBits;
  const std::uint64_t continuation = bit7 & ~bit6;
  const std::uint64_t lead = bit7 & bit6;
  // Bits 1..4 of C0 and C1 are clear; those two leads could only start overlong forms.
  const std::uint64_t payload_set = ((w & 0x1E1E1E1E1E1E1E1EU) + 0x7F7F7F7F7F7F7F7FU) & kHighBits;
  const std::uint64_t expected = (lead << 8) | carry;
  carry = lead >> 56;
  return (lead & bit5) | (lead & ~payload_set) | (expected ^ continuation);
}

// The stride is fixed, so loads never wait on the previous word's outcome; a word that does not
// fit the pattern is walked one sequence at a time.
// Walks a block that did not fit the pattern one sequence at a time, from the lead byte of a
// sequence that the block before left open when `open` is set; returns where the walk ended,
// which may lie past `stop`, or nullptr for a fault.
const Byte* walk_sequences(const Byte* p, const Byte* const stop, const Byte* const end,
                           bool open) noexcept {
  if (open) {
    --p;
  }
  while (p < stop) {
    p = skip_sequence(p, end);
    if (p == nullptr) {
      return nullptr;
    }
  }
  return p;
}

#if defined(__SSE2__)
// `misfits` over 32 bytes, a bit per byte: each bit of the word form is one byte's sign bit here,
// taken with movemask after shifting the wanted bit up to bit 7 (by adding a byte to itself).
std::uint32_t misfits32(__m128i a, __m128i b, std::uint32_t bit7, std::uint32_t& carry) noexcept {
  const auto signs = [](__m128i lo, __m128i hi) {
    return static_cast<std::uint32_t>(_mm_movemask_epi8(lo)) |
           static_cast<std::uint32_t>(_mm_movemask_epi8(hi)) << 16;
  };
  const __m128i a2 = _mm_add_epi8(a, a);
  const __m128i b2 = _mm_add_epi8(b, b);
  const std::uint32_t bit6 = signs(a2, b2);
  const std::uint32_t bit5 = signs(_mm_add_epi8(a2, a2), _mm_add_epi8(b2, b2));
  const __m128i payload = _mm_set1_epi8(0x1E);
  const __m128i zero = _mm_setzero_si128();
  const std::uint32_t payload_clear = signs(_mm_cmpeq_epi8(_mm_and_si128(a, payload), zero),
                                            _mm_cmpeq_epi8(_mm_and_si128(b, payload), zero));
  const std::uint32_t continuation = bit7 & ~bit6;
  const std::uint32_t lead = bit7 & bit6;
  const std::uint32_t expected = (lead << 1) | carry;
  carry = lead >> 31;
  return (lead & bit5) | (lead & payload_clear) | (expected ^ continuation);
}

// Checks whole 32-byte blocks; returns where the word-at-a-time walk takes over (the start of a
// sequence), or nullptr for a fault.
const Byte* skip_well_formed_blocks(const Byte* p, const Byte* const end) noexcept {
  std::uint32_t carry = 0;
  while (end - p >= 32) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const auto bit7 = static_cast<std::uint32_t>(_mm_movemask_epi8(a)) |
                      static_cast<std::uint32_t>(_mm_movemask_epi8(b)) << 16;
    if ((bit7 | carry) == 0) {
      p += 32;
      continue;
    }
    const std::uint32_t carry_in = carry;
    if (misfits32(a, b, bit7, carry) == 0) {
      p += 32;
      continue;
    }
    p = walk_sequences(p, p + 32, end, carry_in != 0);
    if (p == nullptr) {
      return nullptr;
    }
    carry = 0;
  }
  return carry != 0 ? p - 1 : p;
}
#endif

bool is_well_formed_utf8(std::string_view text) noexcept {
  const Byte* p = bytes_of(text);
  const Byte* const end = p + text.size();
#if defined(__SSE2__)
  p = skip_well_formed_blocks(p, end);
  if (p == nullptr) {
    return false;
  }
#endif
  std::uint64_t carry = 0;
  while (end - p >= 16) {
    const std::uint64_t w = load_le64(p);
    const std::uint64_t w2 = load_le64(p + 8);
    if ((((w | w2) & kHighBits) | carry) == 0) {
      p += 16;
      continue;
    }
    const std::uint64_t carry_in = carry;
    if ((misfits(w, carry) | misfits(w2, carry)) == 0) {
      p += 16;
      continue;
    }
    p = walk_sequences(p, p + 16, end, carry_in != 0);
    if (p == nullptr) {
      return false;
    }
    carry = 0;
  }
  return walk_sequences(p, end, end, carry != 0) != nullptr;
}

char* put_cp1251(const Byte* p, const Byte* const end, char* out) noexcept {
  while (end - p >= 8) {
    if ((load_le64(p) & kHighBits) == 0) {
      std::memcpy(out, p, 8);
      out += 8;
      p += 8;
      continue;
    }
    for (const Byte* const stop = p + 8; p != stop; ++p) {
      const Cp1251Entry& e = kCp1251[*p];
      std::memcpy(out, &e, sizeof e);
      out += e.size;
    }
  }
  for (; p != end; ++p) {
    const Cp1251Entry& e = kCp1251[*p];
    std::memcpy(out, &e, sizeof e);
    out += e.size;
  }
  return out;
}

#if defined(TARVIK_SSSE3_DISPATCH)
// Positions to pick, for eight bytes laid out as (lead, trail) pairs, when the bits of the mask
// say which bytes are letters: an ASCII byte keeps its first position only.
struct ExpandTable {
  alignas(16) std::uint8_t picks[256][16];
  std::uint8_t sizes[256];
};

constexpr ExpandTable make_expand_table() {
  ExpandTable t{};
  for (unsigned mask = 0; mask < 256; ++mask) {
    unsigned n = 0;
    for (unsigned i = 0; i < 8; ++i) {
      t.picks[mask][n++] = static_cast<std::uint8_t>(2 * i);
      if ((mask >> i & 1U) != 0) {
        t.picks[mask][n++] = static_cast<std::uint8_t>(2 * i + 1);
      }
    }
    t.sizes[mask] = static_cast<std::uint8_t>(n);
    for (; n < 16; ++n) {
      t.picks[mask][n] = 0x80;  // a zero byte, past the end of what counts
    }
  }
  return t;
}

constexpr ExpandTable kExpand = make_expand_table();

// Sixteen bytes at a time where all are ASCII or Cyrillic letters (C0..FF), which map to U+0410..
// U+044F: lead D0 for C0..EF and D1 for F0..FF, trail byte less 30 or 70. Other blocks, and the
// tail, go through the table. Stores run up to 16 bytes ahead, within cp1251_room.
__attribute__((target("ssse3"))) char* put_cp1251_ssse3(const Byte* p, const Byte* const end,
                                                        char* out) noexcept {
  const __m128i not_letter_floor = _mm_set1_epi8(-65);  // 0xBF: C0..FF lie above it, signed
  const __m128i second_half = _mm_set1_epi8(-17);       // 0xEF
  const __m128i lead_base = _mm_set1_epi8(static_cast<char>(0xD0));
  const __m128i trail_shift = _mm_set1_epi8(0x30);
  const __m128i second_half_shift = _mm_set1_epi8(static_cast<char>(0xC0));
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const auto high = static_cast<unsigned>(_mm_movemask_epi8(v));
    if (high == 0) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
      out += 16;
      p += 16;
      continue;
    }
    const auto letter_or_ascii =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(v, not_letter_floor)));
    if (letter_or_ascii != 0xFFFF) {
      out = put_cp1251(p, p + 16, out);
      p += 16;
      continue;
    }
    const __m128i is_high = _mm_cmpgt_epi8(_mm_setzero_si128(), v);
    const __m128i is_second = _mm_and_si128(_mm_cmpgt_epi8(v, second_half), is_high);
    const __m128i lead = _mm_or_si128(_mm_andnot_si128(is_high, v),
                                      _mm_and_si128(is_high, _mm_sub_epi8(lead_base, is_second)));
    const __m128i trail =
        _mm_add_epi8(_mm_sub_epi8(v, trail_shift), _mm_and_si128(is_second, second_half_shift));
    const unsigned low_mask = high & 0xFFU;
    const unsigned high_mask = high >> 8;
    const __m128i low_pairs = _mm_unpacklo_epi8(lead, trail);
    const __m128i high_pairs = _mm_unpackhi_epi8(lead, trail);
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(out),
        _mm_shuffle_epi8(
            low_pairs, _mm_load_si128(reinterpret_cast<const __m128i*>(kExpand.picks[low_mask]))));
    out += kExpand.sizes[low_mask];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_shuffle_epi8(high_pairs, _mm_load_si128(reinterpret_cast<const __m128i*>(
                                                      kExpand.picks[high_mask]))));
    out += kExpand.sizes[high_mask];
    p += 16;
  }
  return put_cp1251(p, end, out);
}

bool has_avx2() noexcept {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
}

bool has_ssse3() noexcept {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
  }();
  return has;
}

// Well-formed UTF-8 by table lookups, sixteen bytes at a time, whatever the mix of sequence sizes:
// each byte is judged with the one before it by three tables (the high and low half of the byte
// before, the high half of this one) whose bits name the faults a pair can show, and a byte that
// must continue a three- or four-byte sequence is known from the bytes two and three before.
// Statement text mixes ASCII with Cyrillic and the odd three-byte sign ("№", dashes), which the
// word-at-a-time check above walks byte by byte.
namespace utf8_lookup {

constexpr char kTooShort = 1 << 0;   // a lead not followed by a continuation
constexpr char kTooLong = 1 << 1;    // a continuation after ASCII
constexpr char kOverlong3 = 1 << 2;  // E0 80..9F
constexpr char kTooLarge = 1 << 3;   // past U+10FFFF
constexpr char kSurrogate = 1 << 4;  // ED A0..BF
constexpr char kOverlong2 = 1 << 5;  // C0, C1
constexpr char kTooLarge1000 = 1 << 6;
constexpr char kOverlong4 = 1 << 6;                    // F0 80..8F
constexpr char kTwoConts = static_cast<char>(1 << 7);  // right only inside a longer sequence
constexpr char kCarry = kTooShort | kTooLong | kTwoConts;

constexpr char kLarge = kCarry | kTooLarge | kTooLarge1000;
constexpr char kCont8 = kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4;
constexpr char kCont9 = kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge;
constexpr char kContAB = kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge;

// The three tables, one entry per half byte; a wider block repeats them in each 16-byte lane.
alignas(16) constexpr char kByte1High[16] = {kTooLong,
                                             kTooLong,
                                             kTooLong,
                                             kTooLong,
                                             kTooLong,
                                             kTooLong,
                                             kTooLong,
                                             kTooLong,
                                             kTwoConts,
                                             kTwoConts,
                                             kTwoConts,
                                             kTwoConts,
                                             kTooShort | kOverlong2,
                                             kTooShort,
                                             kTooShort | kOverlong3 | kSurrogate,
                                             kTooShort | kTooLarge | kTooLarge1000 | kOverlong4};
alignas(16) constexpr char kByte1Low[16] = {kCarry | kOverlong3 | kOverlong2 | kOverlong4,
                                            kCarry | kOverlong2,
                                            kCarry,
                                            kCarry,
                                            kCarry | kTooLarge,
                                            kLarge,
                                            kLarge,
                                            kLarge,
                                            kLarge,
                                            kLarge,
                                            kLarge,
                                            kLarge,
                                            kLarge,
                                            kLarge | kSurrogate,
                                            kLarge,
                                            kLarge};
alignas(16) constexpr char kByte2High[16] = {
    kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
    kCont8,    kCont9,    kContAB,   kContAB,   kTooShort, kTooShort, kTooShort, kTooShort};

__attribute__((target("ssse3"))) __m128i table16(const char (&table)[16]) noexcept {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(table));
}

struct State {
  __m128i previous;
  __m128i error;
  __m128i previous_incomplete;
};

// No shortcut for ASCII blocks: statement text mixes them with others at random, and a branch
// that guesses wrong half the time costs more than the lookups, and stops the loads running ahead.
__attribute__((target("ssse3"))) void check_block(__m128i in, State& s) noexcept {
  const __m128i low_nibble = _mm_set1_epi8(0x0F);
  const auto high_half = [](__m128i v, __m128i mask) {
    return _mm_and_si128(_mm_srli_epi16(v, 4), mask);
  };
  const __m128i prev1 = _mm_alignr_epi8(in, s.previous, 15);
  const __m128i special = _mm_and_si128(
      _mm_and_si128(_mm_shuffle_epi8(table16(kByte1High), high_half(prev1, low_nibble)),
                    _mm_shuffle_epi8(table16(kByte1Low), _mm_and_si128(prev1, low_nibble))),
      _mm_shuffle_epi8(table16(kByte2High), high_half(in, low_nibble)));
  const __m128i prev2 = _mm_alignr_epi8(in, s.previous, 14);
  const __m128i prev3 = _mm_alignr_epi8(in, s.previous, 13);
  const __m128i third = _mm_subs_epu8(prev2, _mm_set1_epi8(static_cast<char>(0xE0 - 0x80)));
  const __m128i fourth = _mm_subs_epu8(prev3, _mm_set1_epi8(static_cast<char>(0xF0 - 0x80)));
  const __m128i must_continue =
      _mm_and_si128(_mm_or_si128(third, fourth), _mm_set1_epi8(static_cast<char>(0x80)));
  s.error = _mm_or_si128(s.error, _mm_xor_si128(must_continue, special));
  // A lead in the last three bytes whose sequence the block does not finish.
  const __m128i max =
      _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, static_cast<char>(0xF0 - 1),
                    static_cast<char>(0xE0 - 1), static_cast<char>(0xC0 - 1));
  s.previous_incomplete = _mm_subs_epu8(in, max);
  s.previous = in;
}

__attribute__((target("ssse3"))) bool is_well_formed(const Byte* p,
                                                     const Byte* const end) noexcept {
  State s{_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128()};
  // Input that is not UTF-8 (windows-1251) usually shows it within its first line or two, so the
  // faults are looked at every few blocks rather than only at the end.
  for (std::size_t block = 1; end - p >= 16; p += 16, ++block) {
    check_block(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), s);
    if (block % 8 == 0 &&
        _mm_movemask_epi8(_mm_cmpeq_epi8(s.error, _mm_setzero_si128())) != 0xFFFF) {
      return false;
    }
  }
  if (p != end) {
    // The tail padded with zero bytes, which no sequence may stop before.
    alignas(16) Byte tail[16] = {};
    std::memcpy(tail, p, static_cast<std::size_t>(end - p));
    check_block(_mm_load_si128(reinterpret_cast<const __m128i*>(tail)), s);
  }
  const __m128i error = _mm_or_si128(s.error, s.previous_incomplete);
  return _mm_movemask_epi8(_mm_cmpeq_epi8(error, _mm_setzero_si128())) == 0xFFFF;
}

// The same check 32 bytes at a time, where the processor has AVX2: each 16-byte lane looks up
// the tables on its own, and the bytes before a block's second lane come from its first.
__attribute__((target("avx2"))) __m256i table32(const char (&table)[16]) noexcept {
  return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(table)));
}

__attribute__((target("avx2"))) __m256i high_half(__m256i v, __m256i low_nibble) noexcept {
  return _mm256_and_si256(_mm256_srli_epi16(v, 4), low_nibble);
}

struct State32 {
  __m256i previous;
  __m256i error;
  __m256i previous_incomplete;
};

__attribute__((target("avx2"))) void check_block(__m256i in, State32& s) noexcept {
  const __m256i low_nibble = _mm256_set1_epi8(0x0F);
  // The previous block's second lane and this block's first, for the bytes before each lane.
  const __m256i before = _mm256_permute2x128_si256(s.previous, in, 0x21);
  const __m256i prev1 = _mm256_alignr_epi8(in, before, 15);
  const __m256i special = _mm256_and_si256(
      _mm256_and_si256(
          _mm256_shuffle_epi8(table32(kByte1High), high_half(prev1, low_nibble)),
          _mm256_shuffle_epi8(table32(kByte1Low), _mm256_and_si256(prev1, low_nibble))),
      _mm256_shuffle_epi8(table32(kByte2High), high_half(in, low_nibble)));
  const __m256i prev2 = _mm256_alignr_epi8(in, before, 14);
  const __m256i prev3 = _mm256_alignr_epi8(in, before, 13);
  const __m256i third = _mm256_subs_epu8(prev2, _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80)));
  const __m256i fourth = _mm256_subs_epu8(prev3, _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80)));
  const __m256i must_continue =
      _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(static_cast<char>(0x80)));
  s.error = _mm256_or_si256(s.error, _mm256_xor_si256(must_continue, special));
  const __m256i max =
      _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                       -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, static_cast<char>(0xF0 - 1),
                       static_cast<char>(0xE0 - 1), static_cast<char>(0xC0 - 1));
  s.previous_incomplete = _mm256_subs_epu8(in, max);
  s.previous = in;
}

__attribute__((target("avx2"))) bool is_well_formed_avx2(const Byte* p,
                                                         const Byte* const end) noexcept {
  const __m256i zero = _mm256_setzero_si256();
  State32 s{zero, zero, zero};
  for (std::size_t block = 1; end - p >= 32; p += 32, ++block) {
    check_block(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), s);
    if (block % 4 == 0 && !_mm256_testz_si256(s.error, s.error)) {
      return false;
    }
  }
  if (p != end) {
    alignas(32) Byte tail[32] = {};
    std::memcpy(tail, p, static_cast<std::size_t>(end - p));
    check_block(_mm256_load_si256(reinterpret_cast<const __m256i*>(tail)), s);
  }
  const __m256i error = _mm256_or_si256(s.error, s.previous_incomplete);
  return _mm256_testz_si256(error, error) != 0;
}

}  // namespace utf8_lookup
#endif

}  // namespace

bool is_utf8(std::string_view text) noexcept {
#if defined(TARVIK_SSSE3_DISPATCH)
  if (has_avx2()) {
    return utf8_lookup::is_well_formed_avx2(bytes_of(text), bytes_of(text) + text.size());
  }
  if (has_ssse3()) {
    return utf8_lookup::is_well_formed(bytes_of(text), bytes_of(text) + text.size());
  }
#endif
  return is_well_formed_utf8(text);
}

namespace {

template <bool kBigEndian>
char32_t unit_at(const Byte* p) noexcept {
  return kBigEndian ? char32_t{p[0]} << 8 | p[1] : char32_t{p[1]} << 8 | p[0];
}

bool is_high_surrogate(char32_t u) noexcept { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(char32_t u) noexcept { return u >= 0xDC00 && u <= 0xDFFF; }

std::size_t utf8_size(char32_t c) noexcept {
  return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

char* put_utf8(char* out, char32_t c) noexcept {
  const auto byte = [](char32_t bits) { return static_cast<char>(static_cast<Byte>(bits)); };
  if (c < 0x80) {
    *out++ = byte(c);
  } else if (c < 0x800) {
    *out++ = byte(0xC0 | c >> 6);
    *out++ = byte(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out++ = byte(0xE0 | c >> 12);
    *out++ = byte(0x80 | (c >> 6 & 0x3F));
    *out++ = byte(0x80 | (c & 0x3F));
  } else {
    *out++ = byte(0xF0 | c >> 18);
    *out++ = byte(0x80 | (c >> 12 & 0x3F));
    *out++ = byte(0x80 | (c >> 6 & 0x3F));
    *out++ = byte(0x80 | (c & 0x3F));
  }
  return out;
}

// Strict UTF-16: false for an unpaired surrogate or an odd trailing byte, and then `storage` is
// left alone. The first pass checks and measures, so the text is allocated once and exactly.
template <bool kBigEndian>
bool decode_utf16(std::string_view input, std::string& storage) {
  if (input.size() % 2 != 0) {
    return false;
  }
  const Byte* const begin = bytes_of(input);
  const Byte* const end = begin + input.size();
  std::size_t size = 0;
  for (const Byte* p = begin; p != end; p += 2) {
    const char32_t u = unit_at<kBigEndian>(p);
    if (is_high_surrogate(u)) {
      if (end - p < 4 || !is_low_surrogate(unit_at<kBigEndian>(p + 2))) {
        return false;
      }
      p += 2;
      size += 4;
    } else if (is_low_surrogate(u)) {
      return false;
    } else {
      size += utf8_size(u);
    }
  }
  storage.resize(size);
  char* out = storage.data();
  for (const Byte* p = begin; p != end; p += 2) {
    char32_t c = unit_at<kBigEndian>(p);
    if (is_high_surrogate(c)) {
      p += 2;
      c = 0x10000 + ((c - 0xD800) << 10 | (unit_at<kBigEndian>(p) - 0xDC00));
    }
    out = put_utf8(out, c);
  }
  return true;
}

// Text of a statement is letters, digits, punctuation, line ends and anything from Cyrillic up;
// Latin-1 symbols, no-break spaces and control characters are what a wrong code page produces.
constexpr bool is_acceptable_ascii(Byte c) noexcept {
  return (c >= 0x20 && c <= 0x7E) || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// `text` is well-formed UTF-8, as every decoder here produces.
bool is_plausible(std::string_view text) noexcept {
  std::size_t examined = 0;
  std::size_t acceptable = 0;
  for (const char ch : text) {
    const auto c = static_cast<Byte>(ch);
    if ((c & 0xC0) == 0x80) {
      continue;
    }
    if (examined == kSampleSize) {
      break;
    }
    ++examined;
    // Leads from D0 up start code points from U+0400 up.
    if (c < 0x80 ? is_acceptable_ascii(c) : c >= 0xD0) {
      ++acceptable;
    }
  }
  return examined != 0 && acceptable * 100 / examined > kPlausiblePercent;
}

// As the lexer splits lines: a carriage return goes only with the line feed after it, so a text
// that ends in "\r" keeps it in its last line.
}  // namespace

bool first_line_is_marker(std::string_view text) noexcept {
  const std::size_t lf = text.find('\n');
  if (lf == std::string_view::npos) {
    return text == kStatementMarker;
  }
  std::string_view line = text.substr(0, lf);
  if (line.ends_with('\r')) {
    line.remove_suffix(1);
  }
  return line == kStatementMarker;
}

namespace {

// Per windows-1251 byte, whether is_plausible() would accept its decoded character.
constexpr std::array<bool, 256> kCp1251Acceptable = [] {
  std::array<bool, 256> out{};
  for (std::size_t b = 0; b < out.size(); ++b) {
    out[b] = b < 0x80 ? is_acceptable_ascii(static_cast<Byte>(b)) : kCp1251[b].bytes[0] >= 0xD0;
  }
  return out;
}();

// Each windows-1251 byte is one code point, so the leading sample is the leading bytes, judged
// in place without decoding them (and a byte decodes to ASCII only as itself, so the first line
// is the marker in either form).
bool cp1251_is_plausible(std::string_view input) noexcept {
  const std::string_view sample = input.substr(0, kSampleSize);
  std::size_t acceptable = 0;
  for (const char ch : sample) {
    acceptable += static_cast<std::size_t>(kCp1251Acceptable[static_cast<Byte>(ch)]);
  }
  return !sample.empty() && acceptable * 100 / sample.size() > kPlausiblePercent;
}

}  // namespace

char* decode_cp1251(std::string_view input, char* out) noexcept {
#if defined(TARVIK_SSSE3_DISPATCH)
  // Most values are shorter than one block, which only the table decodes.
  if (input.size() >= 16 && has_ssse3()) {
    return put_cp1251_ssse3(bytes_of(input), bytes_of(input) + input.size(), out);
  }
#endif
  return put_cp1251(bytes_of(input), bytes_of(input) + input.size(), out);
}

namespace {

bool is_ascii(std::string_view bytes) noexcept {
  std::uint64_t high = 0;
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    high |= load_le64(bytes_of(bytes) + i);
  }
  for (; i < bytes.size(); ++i) {
    high |= static_cast<Byte>(bytes[i]);
  }
  return (high & kHighBits) == 0;
}

}  // namespace

std::string_view as_utf8(std::string_view bytes, Encoding encoding, std::string& scratch) {
  if (encoding != Encoding::Cp1251 || is_ascii(bytes)) {
    return bytes;
  }
  // The room only grows, so that a scratch reused for many values is not filled afresh each time.
  if (scratch.size() < cp1251_room(bytes.size())) {
    scratch.resize(cp1251_room(bytes.size()));
  }
  const char* const end = decode_cp1251(bytes, scratch.data());
  return std::string_view(scratch.data(), static_cast<std::size_t>(end - scratch.data()));
}

std::string utf8_text(std::string_view bytes, Encoding encoding) {
  std::string scratch;
  const std::string_view text = as_utf8(bytes, encoding, scratch);
  if (text.data() == scratch.data()) {
    scratch.resize(text.size());
    return scratch;
  }
  return std::string(text);
}

char* write_utf8(std::string_view bytes, Encoding encoding, char* out) noexcept {
  if (encoding == Encoding::Cp1251) {
    return decode_cp1251(bytes, out);
  }
  if (!bytes.empty()) {
    std::memcpy(out, bytes.data(), bytes.size());
  }
  return out + bytes.size();
}

Result<ClassifiedInput, NotStatement> classify_input(std::string_view input, std::string& storage,
                                                     bool lenient) {
  // What the first line must be: the marker, or where the reading is lenient, anything a damaged
  // statement may start with.
  const auto opens = [lenient](std::string_view text, Encoding encoding) {
    return lenient ? first_line(text, encoding) != FirstLine::Other : first_line_is_marker(text);
  };
  if (is_utf8(input)) {
    // A byte-order mark stays in the first line, which then is not the marker.
    if (!opens(input, Encoding::Utf8)) {
      return Err{NotStatement{}};
    }
    return ClassifiedInput{input, Encoding::Utf8};
  }
  if (input.starts_with(kUtf8Bom)) {
    // The mark is a whole sequence by itself, so the rest holds the fault found above.
    return Err{NotStatement{}};
  }
  if (input.starts_with(kUtf16LeBom)) {
    if (!decode_utf16<false>(input.substr(kUtf16LeBom.size()), storage)) {
      return Err{NotStatement{}};
    }
  } else if (input.starts_with(kUtf16BeBom)) {
    if (!decode_utf16<true>(input.substr(kUtf16BeBom.size()), storage)) {
      return Err{NotStatement{}};
    }
  } else {
    if (!cp1251_is_plausible(input) || !opens(input, Encoding::Cp1251)) {
      return Err{NotStatement{}};
    }
    return ClassifiedInput{input, Encoding::Cp1251};
  }
  const std::string_view text = storage;
  if (!is_plausible(text) || !opens(text, Encoding::Utf16)) {
    return Err{NotStatement{}};
  }
  return ClassifiedInput{text, Encoding::Utf16};
}

}  // namespace tarvik
