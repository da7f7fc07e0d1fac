#include "repairs.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <array>
#include <cstring>
#include <span>
#include <utility>

#include "unicode.h"

namespace tarvik::columns {

namespace {

constexpr std::string_view kSmallYo = "ё";
constexpr std::string_view kCapitalYo = "Ё";
constexpr std::string_view kSmallYe = "е";
constexpr std::string_view kCapitalYe = "Е";

constexpr std::string_view kPurposeKey = "НазначениеПлатежа";
constexpr std::array<std::string_view, 6> kPurposeLines = {
    "НазначениеПлатежа1", "НазначениеПлатежа2", "НазначениеПлатежа3",
    "НазначениеПлатежа4", "НазначениеПлатежа5", "НазначениеПлатежа6",
};

struct NameSource {
  std::string_view key;
  std::string_view source;
};
constexpr std::array<NameSource, 2> kNameSources = {{
    {"Плательщик", "Плательщик1"},
    {"Получатель", "Получатель1"},
}};

// tarvik._fields' amount keys of each section kind, in the order of its table.
constexpr std::array<std::string_view, 1> kDocumentAmountKeys = {"Сумма"};
constexpr std::array<std::string_view, 4> kIntervalAmountKeys = {
    "НачальныйОстаток", "ВсегоПоступило", "ВсегоСписано", "КонечныйОстаток"};

// The no-break and the narrow no-break space, which group thousands as the plain space does.
constexpr std::string_view kNoBreakSpace = "\u00a0";
constexpr std::string_view kNarrowNoBreakSpace = "\u202f";

std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  std::size_t at = 0;
  for (std::size_t found = text.find(from); found != std::string_view::npos;
       found = text.find(from, at)) {
    out.append(text.substr(at, found - at));
    out.append(to);
    at = found + from.size();
  }
  out.append(text.substr(at));
  return out;
}

// Whether `key` holds ё or Ё. Every Cyrillic letter starts with the same lead bytes, so a
// search for the first byte would stop at each of them; the second bytes tell these two apart.
bool has_yo(std::string_view key) noexcept {
  static_assert(kSmallYo == "\xD1\x91" && kCapitalYo == "\xD0\x81");
  // Without a branch per byte: Cyrillic text is full of the lead bytes and of 0x81.
  unsigned found = 0;
  for (std::size_t i = 1; i < key.size(); ++i) {
    const unsigned pair = unsigned(static_cast<unsigned char>(key[i - 1])) << 8 |
                          unsigned(static_cast<unsigned char>(key[i]));
    found |= unsigned(pair == 0xD191U) | unsigned(pair == 0xD081U);
  }
  return found != 0;
}

// The length of the grouping space `text` starts with, or 0.
std::size_t group_space(std::string_view text) noexcept {
  if (text.starts_with(' ')) {
    return 1;
  }
  for (const std::string_view space : {kNoBreakSpace, kNarrowNoBreakSpace}) {
    if (text.starts_with(space)) {
      return space.size();
    }
  }
  return 0;
}

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

std::size_t digit_run(std::string_view text) noexcept {
  std::size_t n = 0;
  while (n < text.size() && is_digit(text[n])) {
    ++n;
  }
  return n;
}

// What str.isspace() is true for: White_Space, and the four separators U+001C to U+001F, which
// Python counts by their bidirectional class.
bool is_python_space(char32_t c) noexcept { return (c >= 0x1C && c <= 0x1F) || is_white_space(c); }

// --- What the repairs look at, found in raw lines -------------------------------------------

// The keys the repairs read, each with what seeing it means.
enum class KeyRole : std::uint8_t {
  Other,
  Amount,
  Name,
  NameSource,
  Purpose,
  PurposeLine,
  Opening
};

struct RoleKey {
  std::string key;  // in the bytes of the text's encoding
  KeyRole role;
  std::uint8_t pair;  // Name and NameSource: which of kNameSources
};

// Windows-1251 bytes of a key of Cyrillic letters and digits.
std::string cp1251_bytes(std::string_view utf8) {
  std::string out;
  while (!utf8.empty()) {
    const Utf8Char c = decode_utf8(utf8);
    utf8.remove_prefix(c.length);
    if (c.code >= 0x410 && c.code <= 0x44F) {
      out.push_back(static_cast<char>(0xC0 + (c.code - 0x410)));
    } else if (c.code == 0x401 || c.code == 0x451) {
      out.push_back(static_cast<char>(c.code == 0x401 ? 0xA8 : 0xB8));
    } else {
      out.push_back(static_cast<char>(c.code));
    }
  }
  return out;
}

// The role keys by their size in bytes, so that a line's key is compared with few of them.
using RoleKeys = std::array<std::vector<RoleKey>, 64>;

RoleKeys by_size(std::vector<RoleKey> keys) {
  RoleKeys out;
  for (RoleKey& k : keys) {
    out[k.key.size()].push_back(std::move(k));
  }
  return out;
}

std::vector<RoleKey> role_keys(bool cp1251) {
  auto bytes = [cp1251](std::string_view key) {
    return cp1251 ? cp1251_bytes(key) : std::string(key);
  };
  std::vector<RoleKey> out;
  for (const std::string_view key : kDocumentAmountKeys) {
    out.push_back({bytes(key), KeyRole::Amount, 0});
  }
  for (const std::string_view key : kIntervalAmountKeys) {
    out.push_back({bytes(key), KeyRole::Amount, 0});
  }
  for (std::uint8_t i = 0; i < kNameSources.size(); ++i) {
    out.push_back({bytes(kNameSources[i].key), KeyRole::Name, i});
    out.push_back({bytes(kNameSources[i].source), KeyRole::NameSource, i});
  }
  out.push_back({bytes(kPurposeKey), KeyRole::Purpose, 0});
  for (const std::string_view key : kPurposeLines) {
    out.push_back({bytes(key), KeyRole::PurposeLine, 0});
  }
  out.push_back({bytes("СекцияДокумент"), KeyRole::Opening, 0});
  return out;
}

// A line as the repairs' scan sees it: where it ends (its line feed, or the text's end), its
// first "=" (or nullptr), and whether ё or Ё stands before that "=", in a key.
struct RepairLine {
  const char* lf;
  const char* eq;
  bool yo_in_key;
};

bool is_yo_at(const char* p, const char* begin, bool cp1251) noexcept {
  if (cp1251) {
    return *p == '\xA8' || *p == '\xB8';
  }
  // In UTF-8, ё is D1 91 and Ё is D0 81; `p` is the second byte.
  return p != begin && ((p[-1] == '\xD1' && *p == '\x91') || (p[-1] == '\xD0' && *p == '\x81'));
}

// One walk over the line, sixteen bytes at a time, finds all three: the scan reads every byte
// of the text once, as the floor does.
RepairLine scan_repair_line(const char* p, const char* const begin, const char* const end,
                            bool cp1251) noexcept {
  RepairLine out{end, nullptr, false};
#if defined(__SSE2__)
  const __m128i lf_bytes = _mm_set1_epi8('\n');
  const __m128i eq_bytes = _mm_set1_epi8('=');
  const __m128i lead_small = _mm_set1_epi8(static_cast<char>(cp1251 ? 0xB8 : 0xD1));
  const __m128i lead_capital = _mm_set1_epi8(static_cast<char>(cp1251 ? 0xA8 : 0xD0));
  const __m128i tail_small = _mm_set1_epi8(static_cast<char>(0x91));
  const __m128i tail_capital = _mm_set1_epi8(static_cast<char>(0x81));
  for (; end - p >= 16 && p != begin; p += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i yo;
    if (cp1251) {
      yo = _mm_or_si128(_mm_cmpeq_epi8(v, lead_small), _mm_cmpeq_epi8(v, lead_capital));
    } else {
      const __m128i lead = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 1));
      yo = _mm_or_si128(
          _mm_and_si128(_mm_cmpeq_epi8(lead, lead_small), _mm_cmpeq_epi8(v, tail_small)),
          _mm_and_si128(_mm_cmpeq_epi8(lead, lead_capital), _mm_cmpeq_epi8(v, tail_capital)));
    }
    const auto lfs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf_bytes)));
    auto eqs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, eq_bytes)));
    auto yos = static_cast<unsigned>(_mm_movemask_epi8(yo));
    const unsigned within = lfs == 0 ? 0xFFFFU : (1U << __builtin_ctz(lfs)) - 1;
    eqs &= within;
    yos &= within;
    if (out.eq == nullptr) {
      if (eqs != 0) {
        const auto at = static_cast<unsigned>(__builtin_ctz(eqs));
        out.eq = p + at;
        yos &= (1U << at) - 1;
      }
      out.yo_in_key = out.yo_in_key || yos != 0;
    }
    if (lfs != 0) {
      out.lf = p + __builtin_ctz(lfs);
      return out;
    }
  }
#endif
  for (; p != end; ++p) {
    if (*p == '\n') {
      out.lf = p;
      return out;
    }
    if (out.eq == nullptr) {
      if (*p == '=') {
        out.eq = p;
      } else if (is_yo_at(p, begin, cp1251)) {
        out.yo_in_key = true;
      }
    }
  }
  return out;
}

// Whether ё or Ё stands in some line before its first "=", in a key. Looked for in the whole
// text at the speed of a byte search, then each found is placed in its line.
bool yo_in_some_key(std::string_view text, bool cp1251) noexcept {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const auto in_key = [begin](const char* letter) {
    const char* line = letter;
    while (line != begin && line[-1] != '\n') {
      --line;
    }
    return std::memchr(line, '=', static_cast<std::size_t>(letter - line)) == nullptr;
  };
  if (cp1251) {
    // The bytes A8 and B8, each a letter of its own.
    for (const char byte : {'\xA8', '\xB8'}) {
      for (const char* p = begin; p != end; ++p) {
        p = static_cast<const char*>(std::memchr(p, byte, static_cast<std::size_t>(end - p)));
        if (p == nullptr) {
          break;
        }
        if (in_key(p)) {
          return true;
        }
      }
    }
    return false;
  }
  // In UTF-8 the pairs D0 81 and D1 91, looked for sixteen bytes at a time: a search for one
  // byte of them would stop at every с and Б.
  const char* p = begin + (text.empty() ? 0 : 1);
#if defined(__SSE2__)
  const __m128i small_lead = _mm_set1_epi8(static_cast<char>(0xD1));
  const __m128i small_tail = _mm_set1_epi8(static_cast<char>(0x91));
  const __m128i capital_lead = _mm_set1_epi8(static_cast<char>(0xD0));
  const __m128i capital_tail = _mm_set1_epi8(static_cast<char>(0x81));
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
    if (is_yo_at(p, begin, false) && in_key(p - 1)) {
      return true;
    }
  }
  return false;
}

// What the repairs of names and purpose would see of the lines since the last one that may
// open or close a section. A line without "=" may, and so does a document's opening; ending a
// stretch there at worst splits a section in two, which can only make a repair look needed.
struct Stretch {
  std::array<bool, kNameSources.size()> name_given{};    // the last value is not empty
  std::array<bool, kNameSources.size()> source_given{};  // likewise
  bool purpose = false;
  bool purpose_line = false;

  bool repairs_apply() const noexcept {
    for (std::size_t i = 0; i < kNameSources.size(); ++i) {
      if (!name_given[i] && source_given[i]) {
        return true;
      }
    }
    return purpose_line && !purpose;
  }
};

}  // namespace

bool repairs_may_apply(std::string_view text, Encoding encoding) {
  const bool cp1251 = encoding == Encoding::Cp1251;
  static const RoleKeys utf8_keys = by_size(role_keys(false));
  static const RoleKeys cp1251_keys = by_size(role_keys(true));
  const RoleKeys& keys = cp1251 ? cp1251_keys : utf8_keys;
  Stretch stretch;
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p != end) {
    const RepairLine ends = scan_repair_line(p, text.data(), end, cp1251);
    if (ends.yo_in_key) {
      return true;
    }
    std::string_view line(p, static_cast<std::size_t>(ends.lf - p));
    p = ends.lf == end ? end : ends.lf + 1;
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (ends.eq == nullptr) {
      if (stretch.repairs_apply()) {
        return true;
      }
      stretch = {};
      continue;
    }
    const std::size_t at = static_cast<std::size_t>(ends.eq - line.data());
    const std::string_view key = line.substr(0, at);
    const std::string_view value = line.substr(at + 1);
    const RoleKey* role = nullptr;
    if (key.size() < keys.size()) {
      for (const RoleKey& k : keys[key.size()]) {
        if (k.key == key) {
          role = &k;
          break;
        }
      }
    }
    if (role == nullptr) {
      continue;
    }
    switch (role->role) {
      case KeyRole::Other:
        break;
      case KeyRole::Amount:
        // Plain amounts are ASCII digits, a sign and a point; anything else may be mended.
        for (const char c : value) {
          if (c == ',' || c == ' ' || static_cast<unsigned char>(c) >= 0x80) {
            return true;
          }
        }
        break;
      case KeyRole::Name:
        stretch.name_given[role->pair] = !value.empty();
        break;
      case KeyRole::NameSource:
        stretch.source_given[role->pair] = !value.empty();
        break;
      case KeyRole::Purpose:
        stretch.purpose = true;
        break;
      case KeyRole::PurposeLine:
        stretch.purpose_line = true;
        break;
      case KeyRole::Opening:
        if (stretch.repairs_apply()) {
          return true;
        }
        stretch = {};
        break;
    }
  }
  return stretch.repairs_apply();
}

bool repairs_may_change(const Statement& statement, std::string_view text) {
  if (!statement.warnings.empty() || statement.encoding == Encoding::Utf16) {
    return true;
  }
  const auto given = [](const std::optional<std::string_view>& value) {
    return value && !value->empty();
  };
  for (const Document& doc : statement.documents) {
    // Получатель1 is no field of a document, so an empty payee may have one to take.
    if (!given(doc.optional_text(DocField::Payee)) ||
        (!given(doc.optional_text(DocField::Counterparty)) &&
         given(doc.optional_text(DocField::Counterparty1)))) {
      return true;
    }
  }
  return yo_in_some_key(text, statement.encoding == Encoding::Cp1251);
}

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
  }
  return "";
}

PlainAmount plain_amount(std::string_view text) {
  const bool marked = text.find(',') != std::string_view::npos ||
                      text.find(' ') != std::string_view::npos ||
                      text.find(kNoBreakSpace) != std::string_view::npos ||
                      text.find(kNarrowNoBreakSpace) != std::string_view::npos;
  if (!marked) {
    return {};
  }
  for (std::size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
    } else if (const std::size_t space = group_space(text.substr(i)); space > 0) {
      i += space;
    } else {
      return {PlainAmount::Kind::Undecided, {}};
    }
  }
  std::string out;
  std::string_view rest = text;
  if (rest.starts_with('+') || rest.starts_with('-')) {
    out.push_back(rest.front());
    rest.remove_prefix(1);
  }
  std::size_t run = digit_run(rest);
  if (run == 0) {
    return {};
  }
  out.append(rest.substr(0, run));
  rest.remove_prefix(run);
  // A first group of one to three digits and one or more groups of three after a space; or,
  // failing that, digits alone. Neither can end before a space, so the first match decides.
  bool grouped = false;
  if (run <= 3) {
    for (std::size_t space = group_space(rest); space > 0; space = group_space(rest)) {
      const std::string_view group = rest.substr(space);
      if (digit_run(group) != 3) {
        return {};
      }
      out.append(group.substr(0, 3));
      rest = group.substr(3);
      grouped = true;
    }
  }
  if (rest.empty()) {
    return grouped ? PlainAmount{PlainAmount::Kind::Changed, std::move(out)} : PlainAmount{};
  }
  const char point = rest.front();
  if (point != '.' && point != ',') {
    return {};
  }
  rest.remove_prefix(1);
  run = digit_run(rest);
  if (run == 0 || run != rest.size() || (!grouped && point != ',')) {
    return {};
  }
  out.push_back('.');
  out.append(rest);
  return {PlainAmount::Kind::Changed, std::move(out)};
}

std::string_view python_strip(std::string_view text) noexcept {
  while (!text.empty()) {
    const Utf8Char c = decode_utf8(text);
    if (c.code == kInvalidUtf8 || !is_python_space(c.code)) {
      break;
    }
    text.remove_prefix(c.length);
  }
  while (!text.empty()) {
    std::size_t start = text.size() - 1;
    while (start > 0 && text.size() - start < 4 &&
           (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
      --start;
    }
    const Utf8Char c = decode_utf8(text.substr(start));
    if (c.code == kInvalidUtf8 || start + c.length != text.size() || !is_python_space(c.code)) {
      break;
    }
    text.remove_suffix(c.length);
  }
  return text;
}

HookOutcome NativeRepairs::call(SectionType type, AttrMap& attrs, const AttrMap& /*header*/) {
  yo_in_keys(attrs);
  names_from_numbered(type, attrs);
  purpose_from_numbered(type, attrs);
  comma_amounts(type, attrs);
  ++sections_;
  return HookOutcome::proceed();
}

void NativeRepairs::yo_in_keys(AttrMap& attrs) {
  bool any = false;
  for (const AttrMap::Entry& e : attrs) {
    any = any || has_yo(e.key);
  }
  if (!any) {
    return;
  }
  renamed_.clear();
  for (const AttrMap::Entry& e : attrs) {
    std::string plain = replace_all(replace_all(e.key, kSmallYo, kSmallYe), kCapitalYo, kCapitalYe);
    // Where both spellings stand, the plain one is what the reader takes; both are left.
    if (plain != e.key && attrs.find(plain) == nullptr && renamed_.find(plain) == nullptr) {
      edits_.push_back(Edit{sections_,
                            Repair::YoInKeys,
                            plain,
                            e.key,
                            plain,
                            e.key,
                            "key " + e.key + " read as " + plain,
                            std::nullopt,
                            {}});
      renamed_.insert(plain, e.value);
    } else {
      renamed_.insert(e.key, e.value);
    }
  }
  attrs = renamed_;
}

void NativeRepairs::names_from_numbered(SectionType type, AttrMap& attrs) {
  if (type != SectionType::Document) {
    return;
  }
  for (const NameSource& pair : kNameSources) {
    const std::string* old = attrs.find(pair.key);
    const std::string* found = attrs.find(pair.source);
    if ((old == nullptr || old->empty()) && found != nullptr && !found->empty()) {
      std::optional<std::string> old_text;
      if (old != nullptr) {
        old_text = *old;
      }
      std::string value = *found;
      std::string head = std::string(pair.key) + " taken from " + std::string(pair.source) + ": ";
      attrs.insert(pair.key, value);
      edits_.push_back(Edit{sections_,
                            Repair::NamesFromNumbered,
                            std::string(pair.key),
                            std::move(old_text),
                            value,
                            std::string(pair.source),
                            std::move(head),
                            value,
                            {}});
    }
  }
}

void NativeRepairs::purpose_from_numbered(SectionType type, AttrMap& attrs) {
  if (type != SectionType::Document || attrs.find(kPurposeKey) != nullptr) {
    return;
  }
  std::string purpose;
  std::string joined;
  std::string_view first;
  for (const std::string_view key : kPurposeLines) {
    const std::string* line = attrs.find(key);
    if (line == nullptr) {
      continue;
    }
    if (first.empty()) {
      first = key;
    } else {
      joined += ", ";
    }
    joined += key;
    // The numbered lines are one text wrapped for print; a space joins what the wrap split.
    if (const std::string_view part = python_strip(*line); !part.empty()) {
      if (!purpose.empty()) {
        purpose.push_back(' ');
      }
      purpose.append(part);
    }
  }
  if (first.empty()) {
    return;
  }
  attrs.insert(kPurposeKey, purpose);
  edits_.push_back(Edit{sections_,
                        Repair::PurposeFromNumbered,
                        std::string(kPurposeKey),
                        std::nullopt,
                        purpose,
                        std::string(first),
                        std::string(kPurposeKey) + " joined from " + joined + ": ",
                        purpose,
                        {}});
}

void NativeRepairs::comma_amounts(SectionType type, AttrMap& attrs) {
  const std::span<const std::string_view> keys =
      type == SectionType::Document ? std::span<const std::string_view>(kDocumentAmountKeys)
                                    : std::span<const std::string_view>(kIntervalAmountKeys);
  for (const std::string_view key : keys) {
    const std::string* old = attrs.find(key);
    if (old == nullptr) {
      continue;
    }
    PlainAmount plain = plain_amount(*old);
    switch (plain.kind) {
      case PlainAmount::Kind::Unchanged:
        continue;
      case PlainAmount::Kind::Undecided:
        undecided_ = true;
        continue;
      case PlainAmount::Kind::Changed:
        break;
    }
    std::string old_text = *old;
    attrs.insert(key, plain.text);
    edits_.push_back(Edit{sections_, Repair::CommaAmounts, std::string(key), old_text, plain.text,
                          std::string(key), std::string(key) + " ", old_text,
                          " read as " + plain.text});
  }
}

}  // namespace tarvik::columns
