#include "recording.h"

#include <algorithm>
#include <functional>
#include <new>

#include "account_builder.h"
#include "document_builder.h"
#include "input_decoding.h"

namespace tarvik::columns {

namespace {

Encoding encoding_of(int text_encoding) noexcept {
  return text_encoding == TARVIK_TEXT_CP1251 ? Encoding::Cp1251 : Encoding::Utf8;
}

// What the repairs alone know of the text being read on this thread: they are shared, so what
// one learns when a reading begins is kept per thread, and a section of another text (a reading
// within a hook of this one) is told apart by where its keys lie.
TextFacts& thread_facts() noexcept {
  thread_local TextFacts facts;
  return facts;
}

int begin_repair(void* state, tarvik_text text, int encoding) noexcept {
  // The text is looked at once, by the one repair that reads keys for ё.
  if (*static_cast<const Repair*>(state) == Repair::YoInKeys) {
    thread_facts() = TextFacts::of(view(text), encoding_of(encoding));
  }
  forget(thread_memo());
  return 0;
}

// One repair's hook: its state is the repair. The repairs of one chain share what they find of
// a section, while no other hook changes it.
int run_repair(void* state, const tarvik_section_view* view, tarvik_section* section,
               const tarvik_section_api* api, tarvik_text* /*message*/) noexcept {
  const Repair repair = *static_cast<const Repair*>(state);
  return repair_section(std::span<const Repair>(&repair, 1), *view, section, *api, nullptr,
                        &thread_facts(), &thread_memo());
}

tarvik_native_hook make_repair_hook(const Repair& repair) noexcept {
  tarvik_native_hook hook{};
  hook.abi = TARVIK_NATIVE_HOOK_ABI;
  hook.size = sizeof(tarvik_native_hook);
  hook.state = const_cast<Repair*>(&repair);
  hook.begin = begin_repair;
  hook.section = run_repair;
  return hook;
}

const std::array<tarvik_native_hook, kRepairs.size()> kRepairHooks = {
    make_repair_hook(kRepairs[0]), make_repair_hook(kRepairs[1]), make_repair_hook(kRepairs[2]),
    make_repair_hook(kRepairs[3])};

}  // namespace

const tarvik_native_hook& repair_hook(Repair repair) noexcept {
  return kRepairHooks[static_cast<std::size_t>(repair)];
}

Recording::Recording(bool repairs) : repairs_(repairs) {
  hook_.abi = TARVIK_NATIVE_HOOK_ABI;
  hook_.size = sizeof(tarvik_native_hook);
  hook_.state = this;
  hook_.begin = on_begin;
  hook_.section = on_section;
  hook_.header = on_header;
  hook_.records = on_records;
  if (repairs) {
    hook_.flags = TARVIK_HOOK_LENIENT;
    hook_.damage = on_damage;
  }
}

namespace {

// How each kind of damage reads in a change: what the line was taken as, and why.
struct DamageReading {
  Repair repair;
  std::string_view said;  // after the line, quoted, or alone
};

DamageReading reading_of(int kind) noexcept {
  switch (kind) {
    case TARVIK_DAMAGE_NOT_KEY_VALUE:
      return {Repair::SkippedLine, "is not a key=value line: skipped"};
    case TARVIK_DAMAGE_UNMATCHED_END:
      return {Repair::SkippedLine, "closes no section: skipped"};
    case TARVIK_DAMAGE_REPEATED_MARKER:
      return {Repair::SkippedLine, "after the first line: skipped"};
    case TARVIK_DAMAGE_AFTER_END:
      return {Repair::SkippedLine, "after КонецФайла: skipped"};
    case TARVIK_DAMAGE_LATE_HEADER:
      return {Repair::LateHeader, "after the sections: kept in the header"};
    case TARVIK_DAMAGE_LATE_REPEAT:
      return {Repair::LateHeader,
              "after the sections: kept among the header's lines; the header keeps its earlier "
              "value"};
    case TARVIK_DAMAGE_BARE_SECTION:
      return {Repair::BareSection, "without '=': opens a document"};
    case TARVIK_DAMAGE_MISSPELT_MARKER:
      return {Repair::MisspeltMarker, "read as the marker 1CClientBankExchange"};
    case TARVIK_DAMAGE_KEYWORD_ENCODING:
      return {Repair::KeywordEncoding, {}};  // said with the keyword: keyword_said()
    default:
      return {Repair::NoMarker,
              "the file begins with a section, without the line 1CClientBankExchange: read as a "
              "statement"};
  }
}

// The keyword a line in the other encoding than the file's (`encoding`) is, as that one reads it.
std::string keyword_of(std::string_view line, Encoding encoding) {
  return encoding == Encoding::Cp1251 ? std::string(line) : utf8_text(line, Encoding::Cp1251);
}

}  // namespace

int Recording::on_damage(void* state, const tarvik_damage* damage) noexcept {
  auto* self = static_cast<Recording*>(state);
  try {
    if (damage->kind == TARVIK_DAMAGE_ACCOUNT_SKIPPED) {
      return 0;  // a warning, which names its line; account_closing_lines() tells its section
    }
    const std::string line = utf8_text(view(damage->line), encoding_of(damage->encoding));
    const std::size_t eq = line.find('=');
    const std::string_view key = std::string_view(line).substr(0, eq);
    const DamageReading reading = reading_of(damage->kind);
    std::string said(reading.said);
    std::string_view taken = reading.repair == Repair::LateHeader    ? std::string_view(line)
                             : reading.repair == Repair::BareSection ? "СекцияДокумент="
                             : reading.repair == Repair::MisspeltMarker ? "1CClientBankExchange"
                                                                        : "";
    std::string keyword;
    if (reading.repair == Repair::KeywordEncoding) {
      const Encoding encoding = encoding_of(damage->encoding);
      keyword = keyword_of(view(damage->line), encoding);
      said = "is " + keyword + " written in " +
             (encoding == Encoding::Cp1251 ? "UTF-8" : "Windows-1251") + ": read as " + keyword;
      taken = keyword;
    }
    self->changes_.add(reading.repair, damage->lineno, key, line, taken, said, Encoding::Utf8);
    if (reading.repair == Repair::LateHeader && eq != std::string::npos) {
      self->header_.push_back(HeaderLine{std::string(key), line.substr(eq + 1), damage->lineno});
    }
    return 0;
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

const tarvik_native_hook& Recording::observer() noexcept {
  observer_.abi = TARVIK_NATIVE_HOOK_ABI;
  observer_.size = sizeof(tarvik_native_hook);
  observer_.state = this;
  observer_.section = on_observe;
  observed_apart_ = true;
  return observer_;
}

int Recording::on_begin(void* state, tarvik_text text, int encoding) noexcept {
  auto* self = static_cast<Recording*>(state);
  self->text_ = view(text);
  if (self->repairs_) {
    self->facts_ = TextFacts::of(view(text), encoding_of(encoding));
  }
  return 0;
}

int Recording::on_section(void* state, const tarvik_section_view* view, tarvik_section* section,
                          const tarvik_section_api* api, tarvik_text* /*message*/) noexcept {
  auto* self = static_cast<Recording*>(state);
  if (view->type == TARVIK_SECTION_ACCOUNT) {
    try {
      self->account_closings_.push_back(view->closing_line);
    } catch (const std::bad_alloc&) {
      return TARVIK_NO_MEMORY;
    }
  }
  // The span of the lines as read is taken before the repairs, whose texts lie elsewhere. They
  // change the values of record fields and add such fields, which leaves every other key where
  // it was read; only a key renamed (ё) is not where it was read.
  std::optional<std::pair<std::size_t, std::size_t>> as_read;
  if (!self->observed_apart_ && view->changes == 0) {
    as_read = self->span_as_read(view->lines, view->count);
  }
  const std::size_t logged = self->changes_.size();
  if (self->repairs_) {
    const int outcome =
        repair_section(kRepairs, *view, section, *api, &self->changes_, &self->facts_);
    if (outcome != TARVIK_CONTINUE) {
      return outcome;
    }
  }
  for (std::size_t i = logged; as_read && i < self->changes_.size(); ++i) {
    if (self->changes_.repair(i) == Repair::YoInKeys) {
      as_read.reset();
    }
  }
  if (!self->observed_apart_) {
    try {
      self->observe(*view, section, *api, as_read);
    } catch (const std::bad_alloc&) {
      return TARVIK_NO_MEMORY;
    }
  }
  return TARVIK_CONTINUE;
}

int Recording::on_observe(void* state, const tarvik_section_view* view, tarvik_section* section,
                          const tarvik_section_api* api, tarvik_text* /*message*/) noexcept {
  try {
    // The changes of the repairs in front count too: the recording knows none of its own here.
    static_cast<Recording*>(state)->observe(*view, section, *api, std::nullopt);
    return TARVIK_CONTINUE;
  } catch (const std::bad_alloc&) {
    return TARVIK_NO_MEMORY;
  }
}

bool Recording::lies_in_input(std::string_view text) const noexcept {
  return !input_.empty() && text.data() >= input_.data() &&
         text.data() + text.size() <= input_.data() + input_.size();
}

std::string_view Recording::kept(std::string_view text) {
  // A text of the bytes the owner keeps is kept as it lies; only texts the reading made (by a
  // hook, or a UTF-16 file's conversion) are copied.
  if (text.empty() || lies_in_input(text)) {
    return text;
  }
  return copies_.keep(text);
}

namespace {

// Whether a key of a section of that kind is one its record has no field for. The document
// type's key is its opening line's, which the record holds.
bool is_extra(std::string_view key, bool document, Encoding encoding) noexcept {
  return document ? document_key_rank(key, encoding) < 0 : account_key_rank(key, encoding) < 0;
}

}  // namespace

std::optional<std::pair<std::size_t, std::size_t>> Recording::span_as_read(
    const tarvik_line* lines, std::size_t count) const noexcept {
  if (count == 0 || !lies_in_input(text_)) {
    return std::nullopt;
  }
  // The lines as read stand one after the other in the text, from the first key to the last
  // value, and so do the extras among them. An empty value need not point into the text: the
  // last line then ends after its key's "=".
  const tarvik_line& final_line = lines[count - 1];
  const char* const first = lines[0].key.data;
  const char* const last = final_line.value.size > 0
                               ? final_line.value.data + final_line.value.size
                               : final_line.key.data + final_line.key.size + 1;
  if (first > last || !lies_in_input({first, static_cast<std::size_t>(last - first)})) {
    return std::nullopt;
  }
  return std::pair{static_cast<std::size_t>(first - input_.data()),
                   static_cast<std::size_t>(last - input_.data())};
}

void Recording::observe(const tarvik_section_view& view, tarvik_section* section,
                        const tarvik_section_api& api,
                        std::optional<std::pair<std::size_t, std::size_t>> as_read) {
  const Encoding encoding = encoding_of(view.encoding);
  const bool document = view.type == TARVIK_SECTION_DOCUMENT;
  if (as_read) {
    observed_.push_back(
        Observed{view.opening_line, document, encoding, true, as_read->first, as_read->second});
    return;
  }
  std::size_t count = 0;
  const tarvik_line* lines = api.lines(section, &count);  // as the hooks before left them
  const std::size_t begin = extras_.size();
  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view key = tarvik::view(lines[i].key);
    if (is_extra(key, document, encoding)) {
      extras_.push_back(Extra{kept(key), kept(tarvik::view(lines[i].value))});
    }
  }
  observed_.push_back(
      Observed{view.opening_line, document, encoding, false, begin, extras_.size()});
}

const Observed* Recording::observed_at(std::uint64_t opening_line, bool document) const {
  // Sections are observed in file order, so by opening line.
  const auto it =
      std::lower_bound(observed_.begin(), observed_.end(), opening_line,
                       [](const Observed& o, std::uint64_t line) { return o.opening_line < line; });
  if (it == observed_.end() || it->opening_line != opening_line || it->document != document) {
    return nullptr;
  }
  return &*it;
}

void Recording::extras_of(const Observed& section, std::vector<Extra>& out) const {
  out.clear();
  if (!section.as_written) {
    out.assign(extras_.begin() + static_cast<std::ptrdiff_t>(section.begin),
               extras_.begin() + static_cast<std::ptrdiff_t>(section.end));
  } else {
    // The lines again, as the reader split them: at line feeds, a carriage return before one
    // taken off, blank lines and lines without "=" passed over.
    std::string_view rest = input_.substr(section.begin, section.end - section.begin);
    while (!rest.empty()) {
      const std::size_t lf = rest.find('\n');
      std::string_view line = rest.substr(0, lf);
      rest = lf == std::string_view::npos ? std::string_view() : rest.substr(lf + 1);
      if (line.ends_with('\r')) {
        line.remove_suffix(1);
      }
      const std::size_t eq = line.find('=');
      if (eq != std::string_view::npos &&
          is_extra(line.substr(0, eq), section.document, section.encoding)) {
        out.push_back(Extra{line.substr(0, eq), line.substr(eq + 1)});
      }
    }
  }
  keep_last_of_repeated(out);
}

void Recording::keep_last_of_repeated(std::vector<Extra>& extras) const {
  // As a map: a repeated key once, where it first stands, with its last text. A document holds
  // some forty extras and rarely a repeat, so the table of where each key first stood is of
  // indices, open-addressed, and kept from one section to the next.
  if (extras.size() < 2) {
    return;
  }
  std::size_t size = 64;
  while (size < 2 * extras.size()) {
    size *= 2;
  }
  first_at_.assign(size, 0);  // an index plus one; 0 is free
  const std::size_t mask = size - 1;
  std::size_t kept_count = 0;
  for (std::size_t i = 0; i < extras.size(); ++i) {
    const std::string_view key = extras[i].key;
    std::size_t slot = std::hash<std::string_view>{}(key)&mask;
    while (first_at_[slot] != 0 && extras[first_at_[slot] - 1].key != key) {
      slot = (slot + 1) & mask;
    }
    if (first_at_[slot] == 0) {
      extras[kept_count++] = extras[i];
      first_at_[slot] = static_cast<std::uint32_t>(kept_count);
    } else {
      extras[first_at_[slot] - 1].value = extras[i].value;
    }
  }
  extras.resize(kept_count);
}

Encoding Recording::document_extras(std::size_t document, std::vector<Extra>& out) const {
  const Observed* o =
      document < documents_.size() ? observed_at(documents_[document], true) : nullptr;
  if (o == nullptr) {
    out.clear();
    return Encoding::Utf8;
  }
  extras_of(*o, out);
  return o->encoding;
}

namespace {

std::vector<std::pair<std::string, std::string>> utf8_extras(std::span<const Extra> extras,
                                                             Encoding encoding) {
  std::vector<std::pair<std::string, std::string>> out;
  out.reserve(extras.size());
  for (const Extra& e : extras) {
    out.emplace_back(utf8_text(e.key, encoding), utf8_text(e.value, encoding));
  }
  return out;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> Recording::document_extra(
    std::size_t document) const {
  std::vector<Extra> extras;
  const Encoding encoding = document_extras(document, extras);
  return utf8_extras(extras, encoding);
}

std::vector<std::pair<std::string, std::string>> Recording::interval_extra(
    std::size_t interval) const {
  const Observed* o =
      interval < intervals_.size() ? observed_at(intervals_[interval], false) : nullptr;
  if (o == nullptr) {
    return {};
  }
  std::vector<Extra> extras;
  extras_of(*o, extras);
  return utf8_extras(extras, o->encoding);
}

int Recording::on_header(void* state, const tarvik_line* lines, std::size_t count,
                         int encoding) noexcept {
  auto* self = static_cast<Recording*>(state);
  try {
    self->header_.clear();
    self->header_.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      self->header_.push_back(HeaderLine{utf8_text(view(lines[i].key), encoding_of(encoding)),
                                         utf8_text(view(lines[i].value), encoding_of(encoding)),
                                         lines[i].lineno});
    }
    return 0;
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

int Recording::on_records(void* state, const tarvik_record_lines* lines) noexcept {
  auto* self = static_cast<Recording*>(state);
  try {
    self->documents_.assign(lines->documents, lines->documents + lines->document_count);
    self->intervals_.assign(lines->intervals, lines->intervals + lines->interval_count);
    self->accounts_.assign(lines->account_sizes, lines->account_sizes + lines->account_count);
    self->read_whole_ = true;
    return 0;
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

}  // namespace tarvik::columns
