// The core's whole entry, parse(), over raw bytes. The first byte picks the hooks and seeds what
// an editing hook does; the rest is the statement.
//
//   byte % 3 == 0: no hooks, and the same input again through one hook that changes nothing,
//                  which must give exactly the same statement or failure;
//   byte % 3 == 1: a hook that deletes, adds, renames and rewrites keys, and now and then drops
//                  the section with a warning or fails the parse;
//   byte % 3 == 2: the same editing hook followed by a second hook that checks that it sees
//                  the section exactly as the first left it.
//
// Every outcome is checked against a plain model of the reader built here from lex(): which
// line the first structural failure is on and what it says, which section closings come before
// it, that hooks run once per closing in order, that failures and warnings name lines of the
// input (closing lines where a section is at fault), and that a statement read in full holds
// one document or one warning per document section. A no-op hook is handed each section exactly
// as written. parse(), which may decode windows-1251 a stretch at a time as it reads, must agree
// with read() over the text decoded whole. With the editing hook, the sections as the hooks left
// them are written out as a new statement and read without hooks: the two roads to the builders
// must agree.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "attr_map.h"
#include "failure.h"
#include "fuzz_util.h"
#include "input_decoding.h"
#include "line_lexer.h"
#include "parse.h"
#include "statement.h"
#include "statement_reader.h"
#include "tests/whole_text.h"

namespace {

using tarvik::AttrMap;
using tarvik::HookOutcome;
using tarvik::LineToken;
using tarvik::MapHook;
using tarvik::ParseFailure;
using tarvik::SectionHook;
using tarvik::SectionType;
using tarvik::Statement;
using tarvik::SyntaxDetail;
using tarvik::TokenKind;

using Outcome = tarvik::Result<Statement, ParseFailure>;

constexpr std::string_view kHookWarning = "dropped by the fuzz hook";
constexpr std::string_view kHookFailure = "Fuzz: the hook refused the section";

struct Closing {
  std::uint64_t lineno = 0;
  SectionType type = SectionType::Document;
  std::string_view doc_type;
  AttrMap attrs;  // the section's lines as written: what a hook is handed
};

// What the format's order of lines alone says about a decoded text.
struct Model {
  std::optional<tarvik::UnrecognizedLine> unrecognized;
  std::optional<SyntaxDetail> structural;  // the first line out of order
  bool finished = false;                   // all lines in order and "КонецФайла" reached
  std::vector<Closing> closings;           // section closings before `structural`
  AttrMap header;
};

SyntaxDetail unexpected_section(const LineToken& t, tarvik::ReaderContext context) {
  return tarvik::UnexpectedSection{t.lineno, tarvik::keyword_text(t), context};
}

SyntaxDetail unexpected_attribute(const LineToken& t) {
  return tarvik::UnexpectedAttribute{t.lineno, std::string(t.key), std::string(t.value)};
}

// The reading table, written as a table: what each state accepts, and where it goes.
Model model_of(std::string_view text) {
  using tarvik::ReaderContext;
  Model m;
  auto tokens = tarvik::testing::lex(text);
  if (!tokens) {
    m.unrecognized = tokens.error();
    return m;
  }
  ReaderContext state = ReaderContext::Init;
  std::string_view doc_type;
  AttrMap section;
  for (const LineToken& t : *tokens) {
    std::optional<SyntaxDetail> bad;
    switch (state) {
      case ReaderContext::Init:
        if (t.kind == TokenKind::FileStart) {
          state = ReaderContext::Header;
        } else if (t.kind == TokenKind::Attribute) {
          bad = unexpected_attribute(t);
        } else {
          bad = unexpected_section(t, state);
        }
        break;
      case ReaderContext::Header:
      case ReaderContext::ReadNextSection:
        if (t.kind == TokenKind::AccountStart) {
          state = ReaderContext::Account;
          section.clear();
        } else if (t.kind == TokenKind::DocumentStart) {
          state = ReaderContext::Document;
          doc_type = t.value;
          section.clear();
        } else if (t.kind == TokenKind::Attribute && state == ReaderContext::Header) {
          m.header.insert(t.key, t.value);
        } else if (t.kind == TokenKind::FileEnd && state == ReaderContext::ReadNextSection) {
          state = ReaderContext::Finished;
        } else if (t.kind == TokenKind::Attribute) {
          bad = unexpected_attribute(t);
        } else {
          bad = unexpected_section(t, state);
        }
        break;
      case ReaderContext::Account:
      case ReaderContext::Document: {
        const TokenKind end =
            state == ReaderContext::Account ? TokenKind::AccountEnd : TokenKind::DocumentEnd;
        if (t.kind == end) {
          m.closings.push_back(Closing{
              t.lineno,
              state == ReaderContext::Account ? SectionType::Account : SectionType::Document,
              state == ReaderContext::Document ? doc_type : "", std::move(section)});
          section.clear();
          state = ReaderContext::ReadNextSection;
        } else if (t.kind == TokenKind::Attribute) {
          section.insert(t.key, t.value);
        } else {
          bad = unexpected_section(t, state);
        }
        break;
      }
      case ReaderContext::Finished:
        if (t.kind == TokenKind::Attribute) {
          bad = unexpected_attribute(t);
        } else {
          bad = unexpected_section(t, state);
        }
        break;
    }
    if (bad) {
      m.structural = std::move(bad);
      return m;
    }
  }
  m.finished = state == ReaderContext::Finished;
  return m;
}

// What the hooks of one parse did, call by call.
struct HookLog {
  std::vector<SectionType> types;
  std::vector<HookOutcome::Kind> outcomes;        // of the chain, per call
  std::vector<std::vector<AttrMap::Entry>> seen;  // the section as the builder gets it
};

class NoOpHook final : public MapHook {
 public:
  explicit NoOpHook(HookLog& log) : log_(log) {}
  HookOutcome call(SectionType type, AttrMap& attrs, const AttrMap&) override {
    log_.types.push_back(type);
    log_.outcomes.push_back(HookOutcome::Kind::Continue);
    log_.seen.push_back(attrs.entries());
    return HookOutcome::proceed();
  }

 private:
  HookLog& log_;
};

constexpr std::string_view kKeys[] = {
    "ДатаНачала",
    "ДатаКонца",
    "РасчСчет",
    "НачальныйОстаток",
    "КонечныйОстаток",
    "ВсегоПоступило",
    "ВсегоСписано",
    "Номер",
    "Дата",
    "Сумма",
    "ПлательщикСчет",
    "ПлательщикИНН",
    "ПлательщикБИК",
    "ПлательщикБанк1",
    "ПолучательСчет",
    "ПолучательИНН",
    "ПолучательБИК",
    "ПолучательБанк1",
    "НазначениеПлатежа",
    "ДатаСписано",
    "ДатаПоступило",
    "ВидОплаты",
    "Очередность",
    "СекцияДокумент",
    "",
    "Прочее",
    "РасчСчет ",
    "Плательщик",
    "ПолучательКПП",
    "Дата\r",
};

constexpr std::string_view kValues[] = {
    "",
    " ",
    "05.03.2024",
    "29.02.2023",
    "1.2.24",
    "1500.00",
    "-0.00",
    "1e28",
    "1e29",
    "7922816251426433759354395033.55",
    "abc",
    "31.12.9999",
    "01.01.+262142",
    "40702810000000000001",
    "1_000.5",
    "\xC2\xA0",
    "01.03.2024",
    "100",
    "-1.5E-2",
    "\r",
};

std::uint64_t mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

void rewrite(AttrMap& attrs, std::vector<AttrMap::Entry> entries) {
  attrs.clear();
  for (const auto& e : entries) {
    attrs.insert(e.key, e.value);
  }
}

// Edits each section by a program drawn from the seed and the call's number.
class EditingHook final : public MapHook {
 public:
  EditingHook(std::uint64_t seed, const AttrMap& header, HookLog* log)
      : seed_(seed), header_(header), log_(log) {}

  HookOutcome call(SectionType type, AttrMap& attrs, const AttrMap& header) override {
    // The header is the one read before the first section, and the hook cannot change it.
    TARVIK_FUZZ_CHECK(header == header_);
    std::uint64_t r = mix(seed_ ^ (calls_++ * 0x100000001B3ULL));
    HookOutcome outcome;
    const unsigned edits = 1 + static_cast<unsigned>(r % 3);
    r /= 3;
    for (unsigned k = 0; k < edits; ++k) {
      const std::size_t key = r % std::size(kKeys);
      r /= std::size(kKeys);
      const std::size_t value = r % std::size(kValues);
      r /= std::size(kValues);
      const unsigned action = static_cast<unsigned>(r % 16);
      r /= 16;
      std::vector<AttrMap::Entry> entries = attrs.entries();
      const std::size_t at = entries.empty() ? 0 : static_cast<std::size_t>(r % entries.size());
      switch (action) {
        case 0:
        case 1:
        case 2:
          if (!entries.empty()) {
            entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(at));
            rewrite(attrs, std::move(entries));
          }
          break;
        case 3:
        case 4:
        case 5:
          attrs.insert(kKeys[key], kValues[value]);
          break;
        case 6:
        case 7:
          if (!entries.empty()) {
            entries[at].key = std::string(kKeys[key]);
            rewrite(attrs, std::move(entries));
          }
          break;
        case 8:
        case 9:
        case 10:
          if (!entries.empty()) {
            entries[at].value = std::string(kValues[value]);
            rewrite(attrs, std::move(entries));
          }
          break;
        case 11:
          attrs.clear();
          break;
        case 12:
          outcome = HookOutcome::warn(std::string(kHookWarning));
          break;
        case 13:
          if (r % 4 == 0) {
            outcome = HookOutcome::fail(std::string(kHookFailure));
          }
          break;
        default:
          break;
      }
      if (outcome.kind != HookOutcome::Kind::Continue) {
        break;
      }
    }
    if (log_ != nullptr) {
      log_->types.push_back(type);
      log_->outcomes.push_back(outcome.kind);
      log_->seen.push_back(attrs.entries());
    }
    last_ = attrs.entries();
    return outcome;
  }

  const std::vector<AttrMap::Entry>& last() const { return last_; }

 private:
  std::uint64_t seed_;
  const AttrMap& header_;
  HookLog* log_;
  std::uint64_t calls_ = 0;
  std::vector<AttrMap::Entry> last_;
};

// Second in the chain: sees what the editing hook left, and logs the chain's outcome.
class WitnessHook final : public MapHook {
 public:
  WitnessHook(const EditingHook& first, HookLog& log) : first_(first), log_(log) {}
  HookOutcome call(SectionType type, AttrMap& attrs, const AttrMap&) override {
    TARVIK_FUZZ_CHECK(attrs.entries() == first_.last());
    log_.types.push_back(type);
    log_.outcomes.push_back(HookOutcome::Kind::Continue);
    log_.seen.push_back(attrs.entries());
    return HookOutcome::proceed();
  }

 private:
  const EditingHook& first_;
  HookLog& log_;
};

std::optional<std::size_t> closing_at(const Model& m, std::uint64_t lineno) {
  for (std::size_t k = 0; k < m.closings.size(); ++k) {
    if (m.closings[k].lineno == lineno) {
      return k;
    }
  }
  return std::nullopt;
}

// How many hook calls the outcome implies; checks the outcome against the model on the way.
std::size_t check_outcome(const Outcome& r, const Model& m, tarvik::Encoding encoding,
                          std::uint64_t lines, bool with_hooks) {
  if (m.unrecognized) {
    TARVIK_FUZZ_CHECK(!r && r.error() == ParseFailure{SyntaxDetail{*m.unrecognized}});
    TARVIK_FUZZ_CHECK(m.unrecognized->lineno >= 1 && m.unrecognized->lineno <= lines);
    return 0;
  }
  if (r) {
    TARVIK_FUZZ_CHECK(!m.structural && m.finished);
    TARVIK_FUZZ_CHECK(r->encoding == encoding);
    TARVIK_FUZZ_CHECK(r->header == m.header);
    std::size_t document_sections = 0;
    std::size_t account_sections = 0;
    for (const Closing& c : m.closings) {
      (c.type == SectionType::Document ? document_sections : account_sections) += 1;
    }
    // Dropped by a hook or by the builder: either way one warning each, at its closing line.
    std::size_t hook_warnings = 0;
    std::uint64_t previous = 0;
    for (const auto& w : r->warnings) {
      TARVIK_FUZZ_CHECK(w.lineno > previous && w.lineno <= lines);
      previous = w.lineno;
      const auto k = closing_at(m, w.lineno);
      TARVIK_FUZZ_CHECK(k.has_value());
      if (w.message == kHookWarning) {
        TARVIK_FUZZ_CHECK(with_hooks);
        if (m.closings[*k].type == SectionType::Account) {
          ++hook_warnings;
        }
      } else {
        TARVIK_FUZZ_CHECK(m.closings[*k].type == SectionType::Document);
      }
    }
    TARVIK_FUZZ_CHECK(r->documents.size() + r->warnings.size() ==
                      document_sections + hook_warnings);
    TARVIK_FUZZ_CHECK(r->accounts.size() <= account_sections);
    for (const auto& a : r->accounts) {
      TARVIK_FUZZ_CHECK(!a.intervals.empty());
      for (std::size_t i = 1; i < a.intervals.size(); ++i) {
        TARVIK_FUZZ_CHECK(!(a.intervals[i].date_start < a.intervals[i - 1].date_start));
      }
    }
    return m.closings.size();
  }
  const ParseFailure& f = r.error();
  TARVIK_FUZZ_CHECK(!std::holds_alternative<tarvik::NotStatement>(f));
  TARVIK_FUZZ_CHECK(!tarvik::message(f).empty());
  if (std::holds_alternative<tarvik::Unfinished>(f)) {
    TARVIK_FUZZ_CHECK(!m.structural && !m.finished);
    return m.closings.size();
  }
  const SyntaxDetail& d = std::get<SyntaxDetail>(f);
  const std::uint64_t at = tarvik::lineno(d);
  TARVIK_FUZZ_CHECK(at >= 1 && at <= lines);
  if (std::holds_alternative<tarvik::UnexpectedSection>(d) ||
      std::holds_alternative<tarvik::UnexpectedAttribute>(d)) {
    TARVIK_FUZZ_CHECK(m.structural && *m.structural == d);
    return m.closings.size();
  }
  TARVIK_FUZZ_CHECK(!std::holds_alternative<tarvik::UnrecognizedLine>(d));
  // The rest are found where a section closes, before any line out of order.
  const auto k = closing_at(m, at);
  TARVIK_FUZZ_CHECK(k.has_value());
  if (const auto* missing = std::get_if<tarvik::MissingField>(&d)) {
    TARVIK_FUZZ_CHECK(missing->context == tarvik::ReaderContext::Account);
  }
  if (std::holds_alternative<tarvik::HookError>(d)) {
    TARVIK_FUZZ_CHECK(with_hooks);
  } else {
    TARVIK_FUZZ_CHECK(m.closings[*k].type == SectionType::Account);
  }
  return *k + 1;
}

void check_hook_log(const HookLog& log, const Model& m, std::size_t calls) {
  TARVIK_FUZZ_CHECK(log.types.size() == calls);
  for (std::size_t k = 0; k < calls; ++k) {
    TARVIK_FUZZ_CHECK(log.types[k] == m.closings[k].type);
  }
}

void append_line(std::string& out, std::string_view a, std::string_view b = {}) {
  out.append(a).append(b).append("\r\n");
}

// The statement the builders would have seen had the hooks' edits been written in the file.
std::optional<std::string> rewritten(const Model& m, const HookLog& log) {
  std::string out;
  append_line(out, "1CClientBankExchange");
  for (const auto& e : m.header) {
    append_line(out, e.key, "=" + e.value);
  }
  bool written = false;
  for (std::size_t k = 0; k < log.types.size(); ++k) {
    if (log.outcomes[k] == HookOutcome::Kind::Warn) {
      continue;
    }
    if (log.outcomes[k] == HookOutcome::Kind::Fail) {
      return std::nullopt;
    }
    written = true;
    const bool account = log.types[k] == SectionType::Account;
    if (account) {
      append_line(out, "СекцияРасчСчет");
    } else {
      append_line(out, "СекцияДокумент=", m.closings[k].doc_type);
    }
    for (const auto& e : log.seen[k]) {
      // A key that would read as another kind of line cannot be written out.
      if (e.key == "СекцияДокумент" || e.key.find_first_of("=\n") != std::string::npos ||
          e.value.find('\n') != std::string::npos) {
        return std::nullopt;
      }
      append_line(out, e.key, "=" + e.value);
    }
    append_line(out, account ? "КонецРасчСчет" : "КонецДокумента");
  }
  if (!written) {
    return std::nullopt;  // "КонецФайла" right after the header is out of order
  }
  append_line(out, "КонецФайла");
  return out;
}

void clear_lineno(ParseFailure& f) {
  if (auto* d = std::get_if<SyntaxDetail>(&f)) {
    std::visit([](auto& v) { v.lineno = 0; }, *d);
  }
}

// The hooked parse against the same sections written out and read with no hooks at all.
void check_against_rewritten(const Outcome& r, const Model& m, const HookLog& log,
                             tarvik::Encoding encoding) {
  if (!r) {
    const auto* d = std::get_if<SyntaxDetail>(&r.error());
    if (d == nullptr || !(std::holds_alternative<tarvik::MissingField>(*d) ||
                          std::holds_alternative<tarvik::AccountParseError>(*d))) {
      return;
    }
  }
  const auto text = rewritten(m, log);
  if (!text) {
    return;
  }
  const tarvik::fuzz::ExactCopy copy(reinterpret_cast<const std::uint8_t*>(text->data()),
                                     text->size());
  const Outcome plain = tarvik::testing::read_decoded(copy.view(), encoding, {});
  if (!r) {
    TARVIK_FUZZ_CHECK(!plain);
    ParseFailure want = r.error();
    ParseFailure got = plain.error();
    clear_lineno(want);
    clear_lineno(got);
    TARVIK_FUZZ_CHECK(want == got);
    return;
  }
  TARVIK_FUZZ_CHECK(plain.has_value());
  TARVIK_FUZZ_CHECK(plain->header == r->header);
  TARVIK_FUZZ_CHECK(plain->accounts == r->accounts);
  TARVIK_FUZZ_CHECK(plain->documents == r->documents);
  std::vector<std::string_view> want;
  for (const auto& w : r->warnings) {
    if (w.message != kHookWarning) {
      want.push_back(w.message);
    }
  }
  TARVIK_FUZZ_CHECK(plain->warnings.size() == want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    TARVIK_FUZZ_CHECK(plain->warnings[i].message == want[i]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::uint8_t control = data[0];
  const tarvik::fuzz::ExactCopy input(data + 1, size - 1);
  const std::string_view bytes = input.view();

  const Outcome plain = tarvik::parse(bytes, {});
  std::string storage;
  const auto decoded = tarvik::testing::decode_input(bytes, storage);
  if (!decoded) {
    TARVIK_FUZZ_CHECK(!plain && std::holds_alternative<tarvik::NotStatement>(plain.error()));
    return 0;
  }
  const std::string_view text = decoded->text;
  const std::uint64_t lines = tarvik::fuzz::line_count(text);
  const Model model = model_of(text);
  check_outcome(plain, model, decoded->encoding, lines, false);
  // parse() may decode windows-1251 as it reads, a stretch of lines at a time; the text decoded
  // whole up front must read the same.
  TARVIK_FUZZ_CHECK(tarvik::testing::read_decoded(text, decoded->encoding, {}) == plain);

  HookLog log;
  switch (control % 3) {
    case 0: {
      NoOpHook hook(log);
      SectionHook* const hooks[] = {&hook};
      const Outcome hooked = tarvik::parse(bytes, hooks);
      TARVIK_FUZZ_CHECK(hooked == plain);
      const std::size_t calls = check_outcome(hooked, model, decoded->encoding, lines, true);
      check_hook_log(log, model, calls);
      // A hook is handed the section as written: every key once, at its first place, with its
      // last value.
      for (std::size_t k = 0; k < calls; ++k) {
        TARVIK_FUZZ_CHECK(log.seen[k] == model.closings[k].attrs.entries());
      }
      break;
    }
    case 1: {
      EditingHook hook(control / 3, model.header, &log);
      SectionHook* const hooks[] = {&hook};
      const Outcome hooked = tarvik::parse(bytes, hooks);
      check_hook_log(log, model, check_outcome(hooked, model, decoded->encoding, lines, true));
      check_against_rewritten(hooked, model, log, decoded->encoding);
      break;
    }
    case 2: {
      HookLog first;
      EditingHook editing(control / 3, model.header, &first);
      WitnessHook witness(editing, log);
      SectionHook* const hooks[] = {&editing, &witness};
      const Outcome hooked = tarvik::parse(bytes, hooks);
      const std::size_t calls = check_outcome(hooked, model, decoded->encoding, lines, true);
      check_hook_log(first, model, calls);
      // The second hook runs only where the first let the section pass.
      std::size_t passed = 0;
      for (const auto kind : first.outcomes) {
        passed += kind == HookOutcome::Kind::Continue ? 1U : 0U;
      }
      TARVIK_FUZZ_CHECK(log.types.size() == passed);
      check_against_rewritten(hooked, model, first, decoded->encoding);
      break;
    }
  }
  return 0;
}
