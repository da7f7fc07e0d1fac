#include "recording.h"

#include <new>

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
  hook_.begin = repairs ? on_begin : nullptr;
  hook_.section = repairs ? on_section : nullptr;
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
    case TARVIK_DAMAGE_BARE_SECTION:
      return {Repair::BareSection, "without '=': opens a document"};
    case TARVIK_DAMAGE_MISSPELT_MARKER:
      return {Repair::MisspeltMarker, "read as the marker 1CClientBankExchange"};
    default:
      return {Repair::NoMarker,
              "the file begins with a section, without the line 1CClientBankExchange: read as a "
              "statement"};
  }
}

}  // namespace

int Recording::on_damage(void* state, const tarvik_damage* damage) noexcept {
  auto* self = static_cast<Recording*>(state);
  try {
    if (damage->kind == TARVIK_DAMAGE_ACCOUNT_SKIPPED) {
      self->skipped_accounts_.push_back(damage->lineno);
      return 0;
    }
    const std::string line = utf8_text(view(damage->line), encoding_of(damage->encoding));
    const std::size_t eq = line.find('=');
    const std::string_view key = std::string_view(line).substr(0, eq);
    const DamageReading reading = reading_of(damage->kind);
    const std::string_view taken = reading.repair == Repair::LateHeader ? std::string_view(line)
                                   : reading.repair == Repair::BareSection ? "СекцияДокумент="
                                   : reading.repair == Repair::MisspeltMarker
                                       ? "1CClientBankExchange"
                                       : "";
    self->changes_.add(reading.repair, damage->lineno, key, line, taken, reading.said,
                       Encoding::Utf8);
    if (reading.repair == Repair::LateHeader && eq != std::string::npos) {
      self->header_.push_back(HeaderLine{std::string(key), line.substr(eq + 1), damage->lineno});
    }
    return 0;
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

int Recording::on_begin(void* state, tarvik_text text, int encoding) noexcept {
  static_cast<Recording*>(state)->facts_ = TextFacts::of(view(text), encoding_of(encoding));
  return 0;
}

int Recording::on_section(void* state, const tarvik_section_view* view, tarvik_section* section,
                          const tarvik_section_api* api, tarvik_text* /*message*/) noexcept {
  auto* self = static_cast<Recording*>(state);
  return repair_section(kRepairs, *view, section, *api, &self->changes_, &self->facts_);
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
