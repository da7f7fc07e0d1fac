// The shipped repairs and the lenient reading as the readers run them, over raw statement bytes.
// The first byte picks how they are chained; the rest is the statement.
//
//   byte % 3 == 0: the recording alone (it repairs and reads leniently), against the four repairs
//                  one by one, each its own hook, behind a hook that only asks for leniency;
//   byte % 3 == 1: the recording with a map hook after it that changes nothing, so the lines go
//                  through a map and back, and its observer at the end of the chain: the keys
//                  the records do not model must be those the recording alone keeps of the
//                  input as it lies;
//   byte % 3 == 2: the four repairs with that map hook between the second and the third.
//
// Every chain must read exactly what the recording alone reads. Each logged change must name a
// line of the input, decode whole, and have a message (or be one only Python can quote); the
// record lines the recording is told must be lines of the input. A text the strict reader reads
// must read the same leniently, with no damage. plain_amount() of the rest, read as a value,
// must give digits and a point only where it gives anything.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "amount.h"
#include "fuzz_util.h"
#include "native_hook_adapter.h"
#include "parse.h"
#include "recording.h"
#include "repairs.h"
#include "unicode.h"

namespace {

using tarvik::AttrMap;
using tarvik::HookOutcome;
using tarvik::MapHook;
using tarvik::NativeHook;
using tarvik::SectionHook;
using tarvik::SectionType;
using tarvik::columns::Recording;
using tarvik::columns::Repair;

using Outcome = tarvik::Result<tarvik::Statement, tarvik::ParseFailure>;

class PassMapHook final : public MapHook {
 public:
  HookOutcome call(SectionType, AttrMap&, const AttrMap&) override {
    return HookOutcome::proceed();
  }
};

// Asks for a lenient reading and notes where it reports damage.
class Lenient final : public SectionHook {
 public:
  HookOutcome on_section(tarvik::Section&, const AttrMap&) override {
    return HookOutcome::proceed();
  }
  bool observable() const noexcept override { return false; }
  bool lenient() const noexcept override { return true; }
  void damage(const tarvik::Damage& damage) override { lines.push_back(damage.lineno); }
  std::vector<std::uint64_t> lines;
};

Outcome read_apart(std::string_view input, bool with_map) {
  std::vector<NativeHook> repairs;
  repairs.reserve(tarvik::columns::kRepairs.size());
  for (const Repair repair : tarvik::columns::kRepairs) {
    repairs.emplace_back(tarvik::columns::repair_hook(repair));
  }
  PassMapHook map;
  Lenient lenient;
  std::vector<SectionHook*> hooks = {&lenient};
  for (std::size_t i = 0; i < repairs.size(); ++i) {
    if (with_map && i == 2) {
      hooks.push_back(&map);
    }
    hooks.push_back(&repairs[i]);
  }
  return tarvik::parse(input, hooks);
}

void check_changes(const Recording& recording, std::string_view input) {
  const std::uint64_t lines = tarvik::fuzz::line_count(input);
  std::string room;
  for (std::size_t i = 0; i < recording.changes().size(); ++i) {
    const tarvik::columns::Change change = recording.changes().at(i, room);
    TARVIK_FUZZ_CHECK(change.lineno >= 1 && change.lineno <= lines);
    TARVIK_FUZZ_CHECK(tarvik::fuzz::is_valid_utf8(change.key));
    TARVIK_FUZZ_CHECK(tarvik::fuzz::is_valid_utf8(change.value));
    (void)tarvik::columns::message(change);
  }
  for (const std::uint64_t line : recording.document_lines()) {
    TARVIK_FUZZ_CHECK(line >= 1 && line <= lines);
  }
  for (const std::uint64_t line : recording.interval_lines()) {
    TARVIK_FUZZ_CHECK(line >= 1 && line <= lines);
  }
}

void check_plain_amount(std::string_view text) {
  for (const tarvik::Encoding encoding : {tarvik::Encoding::Utf8, tarvik::Encoding::Cp1251}) {
    if (encoding == tarvik::Encoding::Utf8 && !tarvik::fuzz::is_valid_utf8(text)) {
      continue;
    }
    const std::optional<std::string> plain = tarvik::columns::plain_amount(text, encoding);
    if (!plain) {
      continue;
    }
    TARVIK_FUZZ_CHECK(!plain->empty() && plain->find(',') == std::string::npos &&
                      plain->find(' ') == std::string::npos);
    bool ascii = true;
    for (const char c : *plain) {
      ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    }
    if (ascii && plain->size() < 30) {
      TARVIK_FUZZ_CHECK(tarvik::parse_amount(*plain).has_value());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const unsigned mode = data[0] % 3;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  check_plain_amount(input.substr(0, 64));

  Recording recording(true);
  recording.keep_texts_in(input);
  NativeHook adapter(recording.hook());
  SectionHook* const alone[] = {&adapter};
  Outcome recorded = tarvik::parse(input, alone);
  if (recorded) {
    adapter.records(recorded.value());
  }
  check_changes(recording, input);

  Recording again(true);
  Outcome other = mode == 1 ? [&] {
    NativeHook first(again.hook());
    PassMapHook map;
    NativeHook observer(again.observer());
    SectionHook* const hooks[] = {&first, &map, &observer};
    auto out = tarvik::parse(input, hooks);
    if (out) {
      first.records(out.value());
    }
    return out;
  }()
                            : read_apart(input, mode == 2);
  TARVIK_FUZZ_CHECK(recorded.has_value() == other.has_value());
  if (recorded) {
    TARVIK_FUZZ_CHECK(recorded.value() == other.value());
    for (std::size_t i = 0; i < recording.document_lines().size(); ++i) {
      auto kept = recording.document_extra(i);
      for (const auto& [key, value] : kept) {
        TARVIK_FUZZ_CHECK(tarvik::fuzz::is_valid_utf8(key) && tarvik::fuzz::is_valid_utf8(value));
      }
      if (mode == 1) {
        auto observed = again.document_extra(i);
        std::sort(kept.begin(), kept.end());
        std::sort(observed.begin(), observed.end());
        TARVIK_FUZZ_CHECK(kept == observed);
      }
    }
    for (std::size_t i = 0; i < recording.interval_lines().size(); ++i) {
      auto kept = recording.interval_extra(i);
      if (mode == 1) {
        auto observed = again.interval_extra(i);
        std::sort(kept.begin(), kept.end());
        std::sort(observed.begin(), observed.end());
        TARVIK_FUZZ_CHECK(kept == observed);
      }
    }
  } else {
    TARVIK_FUZZ_CHECK(recorded.error() == other.error());
  }

  // What the strict reader reads, the lenient one reads alike, and finds no damage in.
  Lenient lenient;
  SectionHook* const leniently[] = {&lenient};
  const Outcome lenient_read = tarvik::parse(input, leniently);
  const std::uint64_t lines = tarvik::fuzz::line_count(input);
  for (const std::uint64_t line : lenient.lines) {
    TARVIK_FUZZ_CHECK(line >= 1 && line <= lines);
  }
  const Outcome strict = tarvik::parse(input, {});
  if (strict) {
    TARVIK_FUZZ_CHECK(lenient_read.has_value() && lenient_read.value() == strict.value());
    TARVIK_FUZZ_CHECK(lenient.lines.empty());
  }
  return 0;
}
