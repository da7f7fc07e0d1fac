#include "repairs.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "cp1251.h"
#include "input_decoding.h"
#include "unicode.h"

namespace tarvik::columns {

namespace {

// A key the repairs look for, in the bytes of either encoding.
struct Key {
  std::string_view utf8;
  Cp1251Text cp1251;
  constexpr std::string_view in(Encoding encoding) const noexcept {
    return encoding == Encoding::Cp1251 ? cp1251.view() : utf8;
  }
};
constexpr Key key(std::string_view utf8) { return Key{utf8, to_cp1251_text(utf8)}; }

// The keys the repairs read, each a role of a line; a section is classified in one pass.
enum Role : std::uint8_t {
  kPayer,
  kPayee,
  kPayerNumbered,
  kPayeeNumbered,
  kPurpose,
  kPurpose1,  // to kPurpose1 + 5
  kDocumentAmount = kPurpose1 + 6,
  kStartAmount,
  kIncome,
  kExpense,
  kEndAmount,
  kRoleCount,
};

constexpr std::array<Key, kRoleCount> kRoleKeys = {
    key("Плательщик"),         key("Получатель"),         key("Плательщик1"),
    key("Получатель1"),        key("НазначениеПлатежа"),  key("НазначениеПлатежа1"),
    key("НазначениеПлатежа2"), key("НазначениеПлатежа3"), key("НазначениеПлатежа4"),
    key("НазначениеПлатежа5"), key("НазначениеПлатежа6"), key("Сумма"),
    key("НачальныйОстаток"),   key("ВсегоПоступило"),     key("ВсегоСписано"),
    key("КонечныйОстаток"),
};

struct NameSource {
  Role name;
  Role source;
};
constexpr std::array<NameSource, 2> kNameSources = {
    {{kPayer, kPayerNumbered}, {kPayee, kPayeeNumbered}}};

// The amounts of each kind of section, in the order of their fields.
constexpr std::array<Role, 1> kDocumentAmounts = {kDocumentAmount};
constexpr std::array<Role, 4> kIntervalAmounts = {kStartAmount, kIncome, kExpense, kEndAmount};

constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);

// The roles by key size in bytes, so that a line's key is compared with at most two keys.
struct RoleIndex {
  std::array<std::array<std::int8_t, 64>, 2> by_size{};  // per encoding: first role of that size
};

constexpr RoleIndex make_role_index() {
  RoleIndex index;
  for (auto& sizes : index.by_size) {
    sizes.fill(-1);
  }
  for (std::size_t e = 0; e < 2; ++e) {
    const Encoding encoding = e == 0 ? Encoding::Utf8 : Encoding::Cp1251;
    for (std::size_t r = kRoleCount; r-- > 0;) {
      index.by_size[e][kRoleKeys[r].in(encoding).size()] = static_cast<std::int8_t>(r);
    }
  }
  return index;
}
constexpr RoleIndex kRoleIndex = make_role_index();

// Roles of one size come in a run: the keys of a size differ only within such a run.
constexpr bool roles_of_a_size_are_adjacent() {
  for (std::size_t e = 0; e < 2; ++e) {
    const Encoding encoding = e == 0 ? Encoding::Utf8 : Encoding::Cp1251;
    for (std::size_t r = 0; r < kRoleCount; ++r) {
      const std::size_t size = kRoleKeys[r].in(encoding).size();
      const auto first = static_cast<std::size_t>(kRoleIndex.by_size[e][size]);
      for (std::size_t s = first; s < r; ++s) {
        if (kRoleKeys[s].in(encoding).size() != size) {
          return false;
        }
      }
    }
  }
  return true;
}
static_assert(roles_of_a_size_are_adjacent());

// The bytes of `word` equal to `byte`, each as its top bit.
constexpr std::uint64_t equal_bytes(std::uint64_t word, char byte) noexcept {
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  const std::uint64_t x = word ^ (0x0101010101010101ULL * static_cast<unsigned char>(byte));
  return ~(((x & kLow7) + kLow7) | x | kLow7);
}

std::uint64_t load8(const char* p) noexcept {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// Equal texts of equal size `size`, compared a word at a time: keys are short, and a library
// call per candidate costs more than the comparison.
bool same_bytes(const char* a, const char* b, std::size_t size) noexcept {
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    if (load8(a + i) != load8(b + i)) {
      return false;
    }
  }
  for (; i < size; ++i) {
    if (a[i] != b[i]) {
      return false;
    }
  }
  return true;
}

int role_of(std::string_view key, Encoding encoding) noexcept {
  const auto& sizes = kRoleIndex.by_size[encoding == Encoding::Cp1251 ? 1 : 0];
  if (key.size() >= sizes.size() || sizes[key.size()] < 0) {
    return -1;
  }
  for (auto r = static_cast<std::size_t>(sizes[key.size()]);
       r < kRoleCount && kRoleKeys[r].in(encoding).size() == key.size(); ++r) {
    if (same_bytes(kRoleKeys[r].in(encoding).data(), key.data(), key.size())) {
      return static_cast<int>(r);
    }
  }
  return -1;
}

// ё and Ё, and what they are read as: one byte each in Windows-1251, two in UTF-8, so a key keeps
// its length.
constexpr std::string_view kSmallYo = "ё", kCapitalYo = "Ё", kSmallYe = "е", kCapitalYe = "Е";
static_assert(kSmallYo.size() == 2 && kCapitalYo.size() == 2 && kSmallYe.size() == 2 &&
              kCapitalYe.size() == 2);
constexpr char kCp1251SmallYo = '\xB8', kCp1251CapitalYo = '\xA8';
constexpr char kCp1251SmallYe = '\xE5', kCp1251CapitalYe = '\xC5';
static_assert(kCp1251[0xB8].bytes[0] == 0xD1 && kCp1251[0xB8].bytes[1] == 0x91);
static_assert(kCp1251[0xA8].bytes[0] == 0xD0 && kCp1251[0xA8].bytes[1] == 0x81);

bool has_yo(std::string_view key, Encoding encoding) noexcept {
  if (encoding == Encoding::Cp1251) {
    // Keys are short: eight bytes at a time cost less than a library search per letter.
    const auto yo_in = [](std::uint64_t word) {
      return (equal_bytes(word, kCp1251SmallYo) | equal_bytes(word, kCp1251CapitalYo)) != 0;
    };
    if (key.size() < 8) {
      std::uint64_t word = 0;  // zero bytes are no letter
      std::memcpy(&word, key.data(), key.size());
      return yo_in(word);
    }
    // Whole words, the last one reaching back over bytes already looked at.
    for (std::size_t i = 0;; i += 8) {
      const std::size_t at = std::min(i, key.size() - 8);
      if (yo_in(load8(key.data() + at))) {
        return true;
      }
      if (at == key.size() - 8) {
        return false;
      }
    }
  }
  // Eight pairs of bytes at a time: Cyrillic keys are full of the lead bytes D0 and D1, and of
  // the second bytes 81 and 91 of other letters, so a pair is told by both its bytes.
  const auto yo_in = [](std::uint64_t lead, std::uint64_t tail) {
    return ((equal_bytes(lead, '\xD1') & equal_bytes(tail, '\x91')) |
            (equal_bytes(lead, '\xD0') & equal_bytes(tail, '\x81'))) != 0;
  };
  if (key.size() < 9) {
    std::uint64_t lead = 0;  // zero bytes are no letter
    std::uint64_t tail = 0;
    if (key.size() > 1) {
      std::memcpy(&lead, key.data(), key.size() - 1);
      std::memcpy(&tail, key.data() + 1, key.size() - 1);
    }
    return yo_in(lead, tail);
  }
  // Pairs of bytes eight at a time, the last eight reaching back over pairs already looked at.
  for (std::size_t i = 1;; i += 8) {
    const std::size_t at = std::min(i, key.size() - 8);
    if (yo_in(load8(key.data() + at - 1), load8(key.data() + at))) {
      return true;
    }
    if (at == key.size() - 8) {
      return false;
    }
  }
}

std::string without_yo(std::string_view key, Encoding encoding) {
  std::string out(key);
  if (encoding == Encoding::Cp1251) {
    std::replace(out.begin(), out.end(), kCp1251SmallYo, kCp1251SmallYe);
    std::replace(out.begin(), out.end(), kCp1251CapitalYo, kCp1251CapitalYe);
    return out;
  }
  for (std::size_t i = 1; i < out.size(); ++i) {
    const std::string_view pair(out.data() + i - 1, 2);
    if (pair == kSmallYo) {
      out.replace(i - 1, 2, kSmallYe);
    } else if (pair == kCapitalYo) {
      out.replace(i - 1, 2, kCapitalYe);
    }
  }
  return out;
}

// What str.isspace() is true for: White_Space, and the four separators U+001C to U+001F, which
// Python counts by their bidirectional class.
bool is_python_space(char32_t c) noexcept { return (c >= 0x1C && c <= 0x1F) || is_white_space(c); }

// One character of text in the bytes of `encoding`: its code point (kInvalidUtf8 for an ill-formed
// UTF-8 sequence) and its length.
Utf8Char char_at(std::string_view text, Encoding encoding) noexcept {
  if (encoding == Encoding::Cp1251) {
    return {code_point_of(kCp1251[static_cast<unsigned char>(text[0])]), 1};
  }
  return decode_utf8(text);
}

// The character that ends `text`, read backwards.
Utf8Char last_char(std::string_view text, Encoding encoding) noexcept {
  if (encoding == Encoding::Cp1251) {
    return char_at(text.substr(text.size() - 1), encoding);
  }
  std::size_t start = text.size() - 1;
  while (start > 0 && text.size() - start < 4 &&
         (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
    --start;
  }
  const Utf8Char c = decode_utf8(text.substr(start));
  if (start + c.length != text.size()) {
    return {kInvalidUtf8, 1};
  }
  return c;
}

bool is_group_space(char32_t c) noexcept { return c == ' ' || c == 0xA0 || c == 0x202F; }

// The length in bytes of the run of decimal digits `text` starts with, and its count.
struct Run {
  std::size_t bytes = 0;
  std::size_t digits = 0;
};
Run digit_run(std::string_view text, Encoding encoding) noexcept {
  Run run;
  while (run.bytes < text.size()) {
    const Utf8Char c = char_at(text.substr(run.bytes), encoding);
    if (c.code == kInvalidUtf8 || !is_decimal_digit(c.code)) {
      break;
    }
    run.bytes += c.length;
    ++run.digits;
  }
  return run;
}

// The length of the grouping space `text` starts with, or 0.
std::size_t group_space(std::string_view text, Encoding encoding) noexcept {
  if (text.empty()) {
    return 0;
  }
  const Utf8Char c = char_at(text, encoding);
  return c.code != kInvalidUtf8 && is_group_space(c.code) ? c.length : 0;
}

// What statements are written in, all assigned and printable in every Unicode version: Latin-1's
// letters and signs but the soft hyphen, Cyrillic, and the general punctuation up to the line
// separator. Told apart without a table.
bool is_plainly_printable(char32_t c) noexcept {
  return (c >= 0xA1 && c <= 0xFF && c != 0xAD) || (c >= 0x400 && c <= 0x52F) ||
         (c >= 0x2010 && c <= 0x2027);
}

constexpr std::string_view kHexDigits = "0123456789abcdef";  // as repr() writes them

// Appends Python's repr() of a str, from its UTF-8 text, to `out`; false (and `out` as it was)
// for a character the tables do not know.
bool append_repr(std::string_view text, std::string& out) {
  const std::size_t start = out.size();
  const bool single = text.find('\'') != std::string_view::npos;
  const bool double_quote = text.find('"') != std::string_view::npos;
  const char quote = single && !double_quote ? '"' : '\'';
  out.push_back(quote);
  const auto escape = [&out](char32_t c, char kind, int digits) {
    out.push_back('\\');
    out.push_back(kind);
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
      out.push_back(kHexDigits[(c >> shift) & 0xF]);
    }
  };
  while (!text.empty()) {
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead >= 0x20 && lead < 0x7F && lead != static_cast<unsigned char>(quote) && lead != '\\') {
      out.push_back(text[0]);
      text.remove_prefix(1);
      continue;
    }
    const Utf8Char c = decode_utf8(text);
    if (c.code == kInvalidUtf8) {
      out.resize(start);
      return false;  // no str holds such bytes
    }
    const std::string_view bytes = text.substr(0, c.length);
    text.remove_prefix(c.length);
    if (c.code == static_cast<char32_t>(quote) || c.code == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c.code));
    } else if (c.code == '\t') {
      out += "\\t";
    } else if (c.code == '\n') {
      out += "\\n";
    } else if (c.code == '\r') {
      out += "\\r";
    } else if (c.code < 0x20 || c.code == 0x7F) {
      escape(c.code, 'x', 2);
    } else if (is_plainly_printable(c.code)) {
      out.append(bytes);
    } else if (is_unassigned(c.code)) {
      out.resize(start);
      return false;
    } else if (is_printable(c.code)) {
      out.append(bytes);
    } else if (c.code <= 0xFF) {
      escape(c.code, 'x', 2);
    } else if (c.code <= 0xFFFF) {
      escape(c.code, 'u', 4);
    } else {
      escape(c.code, 'U', 8);
    }
  }
  out.push_back(quote);
  return true;
}

// Whether ё or Ё stands in some line before its first "=", in a key. Looked for in the whole
// text at the speed of a byte search, then each found is placed in its line.
bool yo_in_some_key(std::string_view text, Encoding encoding) noexcept {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const auto in_key = [begin](const char* letter) {
    const char* line = letter;
    while (line != begin && line[-1] != '\n') {
      --line;
    }
    return std::memchr(line, '=', static_cast<std::size_t>(letter - line)) == nullptr;
  };
  if (encoding == Encoding::Cp1251) {
    // The bytes A8 and B8, each a letter of its own, both sought in one pass.
    const char* p = begin;
#if defined(__SSE2__)
    const __m128i small = _mm_set1_epi8(kCp1251SmallYo);
    const __m128i capital = _mm_set1_epi8(kCp1251CapitalYo);
    for (; end - p >= 16; p += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i hits =
          _mm_or_si128(_mm_cmpeq_epi8(bytes, small), _mm_cmpeq_epi8(bytes, capital));
      for (auto mask = static_cast<unsigned>(_mm_movemask_epi8(hits)); mask != 0;
           mask &= mask - 1) {
        if (in_key(p + __builtin_ctz(mask))) {
          return true;
        }
      }
    }
#endif
    for (; p != end; ++p) {
      if ((*p == kCp1251SmallYo || *p == kCp1251CapitalYo) && in_key(p)) {
        return true;
      }
    }
    return false;
  }
  // In UTF-8 the pairs D0 81 and D1 91, sixteen at a time: a search for one byte of them would
  // stop at every с and Б.
  const char* p = begin + (text.empty() ? 0 : 1);
#if defined(__SSE2__)
  const __m128i small_lead = _mm_set1_epi8('\xD1');
  const __m128i small_tail = _mm_set1_epi8('\x91');
  const __m128i capital_lead = _mm_set1_epi8('\xD0');
  const __m128i capital_tail = _mm_set1_epi8('\x81');
  for (; end - p >= 16; p += 16) {
    const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i lead = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 1));
    const __m128i hits = _mm_or_si128(
        _mm_and_si128(_mm_cmpeq_epi8(tail, small_tail), _mm_cmpeq_epi8(lead, small_lead)),
        _mm_and_si128(_mm_cmpeq_epi8(tail, capital_tail), _mm_cmpeq_epi8(lead, capital_lead)));
    for (auto mask = static_cast<unsigned>(_mm_movemask_epi8(hits)); mask != 0; mask &= mask - 1) {
      if (in_key(p + __builtin_ctz(mask) - 1)) {
        return true;
      }
    }
  }
#endif
  for (; p < end; ++p) {
    const unsigned pair =
        unsigned(static_cast<unsigned char>(p[-1])) << 8 | unsigned(static_cast<unsigned char>(*p));
    if ((pair == 0xD191U || pair == 0xD081U) && in_key(p - 1)) {
      return true;
    }
  }
  return false;
}

}  // namespace

// The last section's roles, with what tells that section apart from any other: the host's
// section, where it stands, and how often its lines had changed.
struct RoleMemo {
  const tarvik_section* section = nullptr;
  std::uint64_t opening_line = 0;
  std::uint64_t closing_line = 0;
  std::uint64_t changes = 0;
  std::size_t count = 0;
  bool yo = false;
  bool yo_known = false;
  std::array<std::size_t, kRoleCount> last{};
};

namespace {

// --- one section --------------------------------------------------------------------------------

// The repairs' work on one section, through the host's functions: where each role's key last
// stands, and the changes made in place.
class Repairer {
 public:
  Repairer(const tarvik_section_view& view, tarvik_section* section, const tarvik_section_api& api,
           ChangeLog* log, const TextFacts* facts, RoleMemo* memo)
      : view_(view),
        section_(section),
        api_(api),
        log_(log),
        facts_(facts),
        memo_(memo),
        encoding_(view.encoding == TARVIK_TEXT_CP1251 ? Encoding::Cp1251 : Encoding::Utf8),
        document_(view.type == TARVIK_SECTION_DOCUMENT),
        lines_(view.lines, view.count) {}

  int run(std::span<const Repair> repairs) {
    // The ё of keys is looked for in the pass that finds the roles, where that repair runs.
    look_for_yo_ = std::find(repairs.begin(), repairs.end(), Repair::YoInKeys) != repairs.end();
    for (const Repair repair : repairs) {
      switch (repair) {
        case Repair::YoInKeys:
          yo_in_keys();
          break;
        case Repair::NamesFromNumbered:
          names_from_numbered();
          break;
        case Repair::PurposeFromNumbered:
          purpose_from_numbered();
          break;
        case Repair::CommaAmounts:
          comma_amounts();
          break;
        case Repair::SkippedLine:
        case Repair::LateHeader:
        case Repair::BareSection:
        case Repair::MisspeltMarker:
        case Repair::NoMarker:
        case Repair::KeywordEncoding:
          break;  // what the reader did with a damaged line, not a rule over a section
      }
    }
    if (memo_ != nullptr && indexed_) {
      *memo_ = RoleMemo{section_,           view_.opening_line,
                        view_.closing_line, view_.changes + changes_,
                        lines_.size(),      yo_,
                        yo_known_,          last_};
    }
    return TARVIK_CONTINUE;
  }

 private:
  static void succeeded(int status) {
    if (status != 0) {
      throw std::bad_alloc();
    }
  }

  tarvik_text keep(std::string_view text) {
    const tarvik_text kept = api_.keep(section_, text_of(text));
    if (kept.data == nullptr && !text.empty()) {
      throw std::bad_alloc();
    }
    return kept;
  }

  void set_key(std::size_t i, tarvik_text key) {
    succeeded(api_.set_key(section_, i, key));
    ++changes_;
  }
  void set_value(std::size_t i, tarvik_text value) {
    succeeded(api_.set_value(section_, i, value));
    ++changes_;
  }
  // Appends a line and says where it stands; the lines may have moved.
  std::size_t append(tarvik_text key, tarvik_text value) {
    succeeded(api_.append(section_, tarvik_line{key, value, 0}));
    ++changes_;
    std::size_t count = 0;
    const tarvik_line* lines = api_.lines(section_, &count);
    lines_ = std::span<const SectionLine>(lines, count);
    return count - 1;
  }

  std::uint64_t line_of(std::size_t i) const noexcept {
    const std::uint64_t lineno = lines_[i].lineno;
    return lineno != 0 ? lineno : view_.opening_line;
  }

  std::string_view value(std::size_t i) const noexcept { return view(lines_[i].value); }

  void log(Repair repair, std::uint64_t lineno, std::string_view key,
           std::optional<std::string_view> old, std::string_view value, std::string_view sources,
           Encoding encoding) {
    if (log_ != nullptr) {
      log_->add(repair, lineno, key, old, value, sources, encoding);
    }
  }

  // Where each role's key last stands (its value is the one the section is built from), and
  // whether a key holds ё, in one pass over the lines.
  const std::array<std::size_t, kRoleCount>& roles() {
    if (indexed_) {
      return last_;
    }
    indexed_ = true;
    if (memo_ != nullptr && memo_->section == section_ && memo_->changes == view_.changes &&
        memo_->opening_line == view_.opening_line && memo_->closing_line == view_.closing_line &&
        memo_->count == lines_.size() && (memo_->yo_known || !look_for_yo_)) {
      last_ = memo_->last;
      yo_ = memo_->yo;
      yo_known_ = memo_->yo_known;
      return last_;
    }
    last_.fill(kAbsent);
    yo_ = false;
    // A key of the text looked at whole needs no look of its own where no key there holds ё.
    const bool text_has_yo = facts_ == nullptr || facts_->yo_in_keys;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      const std::string_view key = view(lines_[i].key);
      if (const int r = role_of(key, encoding_); r >= 0) {
        last_[static_cast<std::size_t>(r)] = i;
      }
      yo_ = yo_ ||
            (look_for_yo_ && (text_has_yo || !facts_->holds(key.data())) && has_yo(key, encoding_));
    }
    yo_known_ = look_for_yo_;
    return last_;
  }

  void yo_in_keys() {
    roles();
    if (!yo_) {
      return;
    }
    // As a map: a key once, where it first stands. Where both spellings stand, the plain one is
    // what the reader takes, and both are left. The lines' keys are views that renaming a line
    // does not change, so the lines as read are taken first.
    const std::vector<SectionLine> read(lines_.begin(), lines_.end());
    std::unordered_set<std::string_view> keys;
    for (const SectionLine& l : read) {
      keys.insert(view(l.key));
    }
    std::unordered_set<std::string_view> taken;            // the keys of the section so far
    std::unordered_map<std::string_view, tarvik_text> as;  // each key, as it now reads
    std::vector<std::pair<std::string_view, tarvik_text>> renamed;
    for (std::size_t i = 0; i < read.size(); ++i) {
      const std::string_view k = view(read[i].key);
      if (const auto it = as.find(k); it != as.end()) {
        if (view(it->second) != k) {
          set_key(i, it->second);
        }
        continue;
      }
      tarvik_text now = read[i].key;
      if (has_yo(k, encoding_)) {
        const std::string plain = without_yo(k, encoding_);
        if (!keys.contains(plain) && !taken.contains(plain)) {
          now = keep(plain);
          renamed.emplace_back(k, now);
          set_key(i, now);
        }
      }
      as.emplace(k, now);
      taken.insert(view(now));
    }
    for (const auto& [from, to] : renamed) {
      std::uint64_t lineno = 0;
      for (const SectionLine& l : read) {
        if (view(l.key) == from) {
          lineno = l.lineno;
        }
      }
      log(Repair::YoInKeys, lineno != 0 ? lineno : view_.opening_line, view(to), from, view(to),
          from, encoding_);
    }
    indexed_ = false;
  }

  void names_from_numbered() {
    if (!document_) {
      return;
    }
    for (const NameSource& pair : kNameSources) {
      const std::size_t at = roles()[pair.name];
      const std::size_t from = roles()[pair.source];
      if (from == kAbsent || value(from).empty() || (at != kAbsent && !value(at).empty())) {
        continue;
      }
      const std::optional<std::string_view> old =
          at == kAbsent ? std::nullopt : std::optional(value(at));
      const tarvik_text name = lines_[from].value;
      const std::string_view name_key = kRoleKeys[pair.name].in(encoding_);
      const std::uint64_t lineno = line_of(from);
      if (at == kAbsent) {
        last_[pair.name] = append(text_of(name_key), name);
      } else {
        set_value(at, name);
      }
      log(Repair::NamesFromNumbered, lineno, name_key, old, view(name),
          kRoleKeys[pair.source].in(encoding_), encoding_);
    }
  }

  void purpose_from_numbered() {
    if (!document_ || roles()[kPurpose] != kAbsent) {
      return;
    }
    std::string purpose;
    std::string sources;  // UTF-8 whatever the section's texts are in
    std::size_t first = kAbsent;
    for (std::size_t n = 0; n < 6; ++n) {
      const std::size_t at = roles()[kPurpose1 + n];
      if (at == kAbsent) {
        continue;
      }
      if (first == kAbsent) {
        first = at;
      } else {
        sources += ", ";
      }
      sources += kRoleKeys[kPurpose1 + n].utf8;
      // The numbered lines are one text wrapped for print; a space joins what the wrap split.
      if (const std::string_view part = python_strip(value(at), encoding_); !part.empty()) {
        if (!purpose.empty()) {
          purpose.push_back(' ');
        }
        purpose.append(part);
      }
    }
    if (first == kAbsent) {
      return;
    }
    const std::uint64_t lineno = line_of(first);
    const std::string_view purpose_key = kRoleKeys[kPurpose].in(encoding_);
    last_[kPurpose] = append(text_of(purpose_key), keep(purpose));
    if (log_ != nullptr) {
      const std::string utf8 =
          encoding_ == Encoding::Cp1251 ? utf8_text(purpose, encoding_) : purpose;
      log_->add(Repair::PurposeFromNumbered, lineno, kRoleKeys[kPurpose].utf8, std::nullopt, utf8,
                sources, Encoding::Utf8);
    }
  }

  void comma_amounts() {
    const std::span<const Role> amounts = document_ ? std::span<const Role>(kDocumentAmounts)
                                                    : std::span<const Role>(kIntervalAmounts);
    for (const Role role : amounts) {
      const std::size_t at = roles()[role];
      if (at == kAbsent) {
        continue;
      }
      const std::string_view old = value(at);
      const std::optional<std::string> plain = plain_amount(old, encoding_);
      if (!plain) {
        continue;
      }
      const tarvik_text kept = keep(*plain);
      const std::string_view key = kRoleKeys[role].in(encoding_);
      log(Repair::CommaAmounts, line_of(at), key, old, view(kept), key, encoding_);
      set_value(at, kept);
    }
  }

  const tarvik_section_view& view_;
  tarvik_section* section_;
  const tarvik_section_api& api_;
  ChangeLog* log_;
  const TextFacts* facts_;
  RoleMemo* memo_;
  std::uint64_t changes_ = 0;  // made by this repairer
  Encoding encoding_;
  bool document_;
  std::span<const SectionLine> lines_;  // the host's, as they stand
  bool indexed_ = false;
  bool look_for_yo_ = false;
  bool yo_ = false;        // a key holds ё
  bool yo_known_ = false;  // and that was looked for
  std::array<std::size_t, kRoleCount> last_{};
};

}  // namespace

std::string_view name(Repair repair) noexcept {
  switch (repair) {
    case Repair::YoInKeys:
      return "yo_in_keys";
    case Repair::NamesFromNumbered:
      return "names_from_numbered";
    case Repair::PurposeFromNumbered:
      return "purpose_from_numbered";
    case Repair::CommaAmounts:
      return "comma_amounts";
    case Repair::SkippedLine:
      return "skipped_line";
    case Repair::LateHeader:
      return "late_header";
    case Repair::BareSection:
      return "bare_section";
    case Repair::MisspeltMarker:
      return "misspelt_marker";
    case Repair::NoMarker:
      return "no_marker";
    case Repair::KeywordEncoding:
      return "keyword_encoding";
  }
  return "";
}

std::string_view source_key(const Change& change) noexcept {
  const std::size_t comma = change.sources.find(',');
  return comma == std::string_view::npos ? change.sources : change.sources.substr(0, comma);
}

MessageParts message_parts(const Change& change) {
  MessageParts parts;
  switch (change.repair) {
    case Repair::YoInKeys:
      parts.head = "key " + std::string(change.sources) + " read as " + std::string(change.value);
      break;
    case Repair::NamesFromNumbered:
    case Repair::PurposeFromNumbered:
      parts.head = std::string(change.key) +
                   (change.repair == Repair::NamesFromNumbered ? " taken from " : " joined from ") +
                   std::string(change.sources) + ": ";
      parts.quoted = change.value;
      break;
    case Repair::CommaAmounts:
      parts.head = std::string(change.key) + " ";
      parts.quoted = change.old.value_or("");
      parts.tail = " read as " + std::string(change.value);
      break;
    case Repair::SkippedLine:
    case Repair::LateHeader:
    case Repair::BareSection:
    case Repair::MisspeltMarker:
    case Repair::KeywordEncoding:
      parts.quoted = change.old.value_or("");
      parts.tail = " " + std::string(change.sources);
      break;
    case Repair::NoMarker:
      parts.head = std::string(change.sources);
      break;
  }
  return parts;
}

bool append_message(const Change& change, std::string& out) {
  const std::size_t start = out.size();
  bool quoted = true;
  switch (change.repair) {
    case Repair::SkippedLine:
    case Repair::LateHeader:
    case Repair::BareSection:
    case Repair::MisspeltMarker:
    case Repair::KeywordEncoding:
      quoted = append_repr(change.old.value_or(""), out);
      out.append(" ").append(change.sources);
      break;
    case Repair::NoMarker:
      out.append(change.sources);
      break;
    case Repair::YoInKeys:
      out.append("key ").append(change.sources).append(" read as ").append(change.value);
      break;
    case Repair::NamesFromNumbered:
    case Repair::PurposeFromNumbered:
      out.append(change.key)
          .append(change.repair == Repair::NamesFromNumbered ? " taken from " : " joined from ")
          .append(change.sources)
          .append(": ");
      quoted = append_repr(change.value, out);
      break;
    case Repair::CommaAmounts:
      out.append(change.key).append(" ");
      quoted = append_repr(change.old.value_or(""), out);
      out.append(" read as ").append(change.value);
      break;
  }
  if (!quoted) {
    out.resize(start);
  }
  return quoted;
}

std::optional<std::string> message(const Change& change) {
  std::string out;
  if (!append_message(change, out)) {
    return std::nullopt;
  }
  return out;
}

std::string_view TextArena::keep(std::string_view text) {
  constexpr std::size_t kBlockSize = 1 << 16;
  if (blocks_.empty() || block_size_ - block_used_ < text.size()) {
    block_size_ = std::max(kBlockSize, text.size());
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(block_size_));
    block_used_ = 0;
  }
  char* const out = blocks_.back().get() + block_used_;
  std::memcpy(out, text.data(), text.size());
  block_used_ += text.size();
  return {out, text.size()};
}

ChangeLog::Text ChangeLog::put(std::string_view text) {
  if (text.empty()) {
    return Text{"", 0};  // never a null pointer: it would read as None in Python
  }
  const std::string_view kept = texts_.keep(text);
  return Text{kept.data(), kept.size()};
}

void ChangeLog::add(Repair repair, std::uint64_t lineno, std::string_view key,
                    std::optional<std::string_view> old, std::string_view value,
                    std::string_view sources, Encoding encoding) {
  Entry e{};
  e.lineno = lineno;
  e.repair = repair;
  e.cp1251 = encoding == Encoding::Cp1251;
  e.key = put(key);
  e.has_old = old.has_value();
  if (old) {
    e.old = put(*old);
  }
  e.value = put(value);
  e.sources = put(sources);
  if (size_ % kChunk == 0) {
    entries_.push_back(std::make_unique_for_overwrite<Entry[]>(kChunk));
  }
  entries_.back()[size_ % kChunk] = e;
  ++size_;
}

Change ChangeLog::at(std::size_t i, std::string& room) const {
  const Entry& e = entry(i);
  const auto text = [](Text t) { return std::string_view(t.data, t.size); };
  if (!e.cp1251) {
    return Change{e.repair,      e.lineno,
                  text(e.key),   e.has_old ? std::optional(text(e.old)) : std::nullopt,
                  text(e.value), text(e.sources)};
  }
  // The four texts decoded one after the other, so that `room` grows at most once.
  const Text texts[] = {e.key, e.old, e.value, e.sources};
  std::size_t size = 0;
  for (const Text& t : texts) {
    size += cp1251_room(t.size);
  }
  room.resize(size);
  std::string_view decoded[4];
  char* out = room.data();
  for (std::size_t k = 0; k < 4; ++k) {
    char* const end = decode_cp1251(text(texts[k]), out);
    decoded[k] = std::string_view(out, static_cast<std::size_t>(end - out));
    out = end;
  }
  return Change{e.repair,   e.lineno,
                decoded[0], e.has_old ? std::optional(decoded[1]) : std::nullopt,
                decoded[2], decoded[3]};
}

TextFacts TextFacts::of(std::string_view text, Encoding encoding) noexcept {
  return TextFacts{text.data(), text.data() + text.size(), yo_in_some_key(text, encoding)};
}

RoleMemo& thread_memo() noexcept {
  thread_local RoleMemo memo;
  return memo;
}

void forget(RoleMemo& memo) noexcept { memo = RoleMemo{}; }

int repair_section(std::span<const Repair> repairs, const tarvik_section_view& view,
                   tarvik_section* section, const tarvik_section_api& api, ChangeLog* log,
                   const TextFacts* facts, RoleMemo* memo) {
  try {
    return Repairer(view, section, api, log, facts, memo).run(repairs);
  } catch (const std::bad_alloc&) {
    return TARVIK_NO_MEMORY;
  }
}

std::optional<std::string> plain_amount(std::string_view text, Encoding encoding) {
  // The usual plain amount is told apart cheaply: no comma and no space of any kind.
  bool marked = false;
  for (std::string_view rest = text; !rest.empty();) {
    const Utf8Char c = char_at(rest, encoding);
    rest.remove_prefix(c.length);
    marked = marked || c.code == ',' || (c.code != kInvalidUtf8 && is_group_space(c.code));
  }
  if (!marked) {
    return std::nullopt;
  }
  std::string out;
  std::string_view rest = text;
  if (rest.starts_with('+') || rest.starts_with('-')) {
    out.push_back(rest.front());
    rest.remove_prefix(1);
  }
  Run run = digit_run(rest, encoding);
  if (run.digits == 0) {
    return std::nullopt;
  }
  out.append(rest.substr(0, run.bytes));
  rest.remove_prefix(run.bytes);
  // A first group of one to three digits and one or more groups of three after a space; or,
  // failing that, digits alone. Neither can end before a space, so the first match decides.
  bool grouped = false;
  if (run.digits <= 3) {
    for (std::size_t space = group_space(rest, encoding); space > 0;
         space = group_space(rest, encoding)) {
      const std::string_view group = rest.substr(space);
      run = digit_run(group, encoding);
      if (run.digits != 3) {
        return std::nullopt;
      }
      out.append(group.substr(0, run.bytes));
      rest = group.substr(run.bytes);
      grouped = true;
    }
  }
  if (rest.empty()) {
    return grouped ? std::optional(std::move(out)) : std::nullopt;
  }
  const char point = rest.front();
  if (point != '.' && point != ',') {
    return std::nullopt;
  }
  rest.remove_prefix(1);
  run = digit_run(rest, encoding);
  if (run.digits == 0 || run.bytes != rest.size() || (!grouped && point != ',')) {
    return std::nullopt;
  }
  out.push_back('.');
  out.append(rest);
  return out;
}

std::string_view python_strip(std::string_view text, Encoding encoding) noexcept {
  while (!text.empty()) {
    const Utf8Char c = char_at(text, encoding);
    if (c.code == kInvalidUtf8 || !is_python_space(c.code)) {
      break;
    }
    text.remove_prefix(c.length);
  }
  while (!text.empty()) {
    const Utf8Char c = last_char(text, encoding);
    if (c.code == kInvalidUtf8 || !is_python_space(c.code)) {
      break;
    }
    text.remove_suffix(c.length);
  }
  return text;
}

}  // namespace tarvik::columns
