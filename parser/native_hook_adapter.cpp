#include "native_hook_adapter.h"

#include <cstddef>
#include <new>
#include <vector>

namespace tarvik {

namespace {

Section& host_section(tarvik_section* section) noexcept {
  return *reinterpret_cast<Section*>(section);
}

tarvik_text keep(tarvik_section* section, tarvik_text text) {
  try {
    return text_of(host_section(section).keep(view(text)));
  } catch (const std::bad_alloc&) {
    return {nullptr, 0};
  }
}

// Runs a change of the section; -1 where memory ran out.
template <class Change>
int changed(Change&& change) noexcept {
  try {
    change();
    return 0;
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

// The functions are called from another shared object, so no exception may leave them.
constexpr tarvik_section_api kApi = {
    TARVIK_NATIVE_HOOK_ABI,
    sizeof(tarvik_section_api),
    [](tarvik_section* section, tarvik_text text) noexcept { return keep(section, text); },
    [](tarvik_section* section, std::size_t* count) noexcept -> const tarvik_line* {
      const std::span<const SectionLine> lines = host_section(section).lines();
      *count = lines.size();
      return lines.data();
    },
    [](tarvik_section* section, std::size_t index, tarvik_text key) noexcept {
      return changed([&] { host_section(section).set_key(index, view(key)); });
    },
    [](tarvik_section* section, std::size_t index, tarvik_text value) noexcept {
      return changed([&] { host_section(section).set_value(index, view(value)); });
    },
    [](tarvik_section* section, tarvik_line line) noexcept {
      return changed([&] { host_section(section).append(line); });
    },
};

void succeeded(int status) {
  if (status != 0) {
    throw std::bad_alloc();
  }
}

}  // namespace

int text_encoding(Encoding encoding) noexcept {
  return encoding == Encoding::Cp1251 ? TARVIK_TEXT_CP1251 : TARVIK_TEXT_UTF8;
}

bool callable_native_hook(const tarvik_native_hook* hook) noexcept {
  return hook != nullptr && hook->abi == TARVIK_NATIVE_HOOK_ABI &&
         hook->size >= sizeof(tarvik_native_hook);
}

HookOutcome NativeHook::on_section(Section& section, const AttrMap& /*header*/) {
  if (hook_->section == nullptr) {
    return HookOutcome::proceed();
  }
  const std::span<const SectionLine> lines = section.lines();
  const tarvik_section_view view_of_section = {
      section.type() == SectionType::Document ? TARVIK_SECTION_DOCUMENT : TARVIK_SECTION_ACCOUNT,
      text_encoding(section.encoding()),
      section.opening_line(),
      section.closing_line(),
      section.changes(),
      lines.data(),
      lines.size(),
  };
  tarvik_text message = {nullptr, 0};
  const int outcome = hook_->section(hook_->state, &view_of_section,
                                     reinterpret_cast<tarvik_section*>(&section), &kApi, &message);
  switch (outcome) {
    case TARVIK_CONTINUE:
      return HookOutcome::proceed();
    case TARVIK_WARN:
      return HookOutcome::warn(std::string(view(message)));
    case TARVIK_FAIL:
      return HookOutcome::fail(std::string(view(message)));
    default:
      throw std::bad_alloc();
  }
}

void NativeHook::begin(std::string_view text, Encoding encoding) {
  if (hook_->begin != nullptr) {
    succeeded(hook_->begin(hook_->state, text_of(text), text_encoding(encoding)));
  }
}

void NativeHook::header(std::span<const SectionLine> lines, Encoding encoding) {
  if (hook_->header != nullptr) {
    succeeded(hook_->header(hook_->state, lines.data(), lines.size(), text_encoding(encoding)));
  }
}

static_assert(TARVIK_DAMAGE_NOT_KEY_VALUE == int(DamageKind::NotKeyValue) &&
              TARVIK_DAMAGE_UNMATCHED_END == int(DamageKind::UnmatchedEnd) &&
              TARVIK_DAMAGE_REPEATED_MARKER == int(DamageKind::RepeatedMarker) &&
              TARVIK_DAMAGE_AFTER_END == int(DamageKind::AfterEnd) &&
              TARVIK_DAMAGE_LATE_HEADER == int(DamageKind::LateHeader) &&
              TARVIK_DAMAGE_BARE_SECTION == int(DamageKind::BareSection) &&
              TARVIK_DAMAGE_MISSPELT_MARKER == int(DamageKind::MisspeltMarker) &&
              TARVIK_DAMAGE_NO_MARKER == int(DamageKind::NoMarker) &&
              TARVIK_DAMAGE_ACCOUNT_SKIPPED == int(DamageKind::AccountSkipped) &&
              TARVIK_DAMAGE_LATE_REPEAT == int(DamageKind::LateRepeat) &&
              TARVIK_DAMAGE_KEYWORD_ENCODING == int(DamageKind::KeywordEncoding));

void NativeHook::damage(const Damage& damage) {
  if (hook_->damage == nullptr) {
    return;
  }
  const tarvik_damage d = {static_cast<int>(damage.kind), damage.lineno, text_of(damage.line),
                           text_encoding(damage.encoding), text_of(damage.message)};
  succeeded(hook_->damage(hook_->state, &d));
}

void NativeHook::records(const Statement& statement) {
  if (hook_->records == nullptr) {
    return;
  }
  std::vector<std::uint64_t> documents;
  documents.reserve(statement.documents.size());
  for (const Document& doc : statement.documents) {
    documents.push_back(doc.lineno);
  }
  std::vector<std::uint64_t> intervals;
  std::vector<std::size_t> sizes;
  sizes.reserve(statement.accounts.size());
  for (const Account& account : statement.accounts) {
    for (const Interval& interval : account.intervals) {
      intervals.push_back(interval.lineno);
    }
    sizes.push_back(account.intervals.size());
  }
  const tarvik_record_lines lines = {documents.data(), documents.size(), intervals.data(),
                                     intervals.size(), sizes.data(),     sizes.size()};
  succeeded(hook_->records(hook_->state, &lines));
}

}  // namespace tarvik
