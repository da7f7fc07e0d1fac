#include "repairs.h"

#include <array>
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
