#pragma once

// The repairs that tarvik applies to the statements banks write, in one implementation: they run
// as native section hooks (native_hook.h) inside whichever reader reads the statement, on the
// section's lines in the text's own bytes, and each value they change is logged with the line its
// new text comes from.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "native_hook.h"
#include "section_hook.h"
#include "statement.h"

namespace tarvik::columns {

// In the order they run: keys first, then values. Then what a lenient reading did with a damaged
// line (section_hook.h, DamageKind), which the changes report with the repairs'.
enum class Repair : std::uint8_t {
  YoInKeys,
  NamesFromNumbered,
  PurposeFromNumbered,
  CommaAmounts,
  SkippedLine,
  LateHeader,
  BareSection,
  MisspeltMarker,
  NoMarker,
  KeywordEncoding,
};
inline constexpr std::array<Repair, 4> kRepairs = {
    Repair::YoInKeys, Repair::NamesFromNumbered, Repair::PurposeFromNumbered, Repair::CommaAmounts};

// The name each repair goes by in tarvik.hooks.
std::string_view name(Repair repair) noexcept;

// One value a repair changed; texts UTF-8.
struct Change {
  Repair repair = Repair::YoInKeys;
  std::uint64_t lineno = 0;  // of the line of the file its new text comes from
  std::string_view key;
  std::optional<std::string_view> old;  // absent: the key was not there
  std::string_view value;
  // The keys the new text comes from: the renamed key, the numbered name, or the numbered
  // purpose lines joined with ", "; for a skipped line, why it was.
  std::string_view sources;
  friend bool operator==(const Change&, const Change&) = default;
};

// The key whose line the change's text comes from.
std::string_view source_key(const Change& change) noexcept;

// The change's message, as tarvik shows it: "Сумма '15 000,00' read as 15000.00", in three
// parts: `head`, the text `quoted` as Python's repr() quotes it (where there is one), `tail`.
struct MessageParts {
  std::string head;
  std::optional<std::string_view> quoted;
  std::string tail;
};
MessageParts message_parts(const Change& change);

// The message whole; nullopt where its quoted text holds a character that this build's Unicode
// tables do not know, which another Python may show either way: Python's repr() then quotes it.
std::optional<std::string> message(const Change& change);
// The message appended to `out`; false, and `out` as it was, where message() gives nullopt.
bool append_message(const Change& change, std::string& out);

// Copies of texts in blocks that never move, so that a view of a copy stays valid as more come.
class TextArena {
 public:
  // A copy of non-empty `text`, valid as long as the arena.
  std::string_view keep(std::string_view text);

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t block_used_ = 0;
  std::size_t block_size_ = 0;
};

// The changes of one reading, compactly: their texts as the section had them, copied into
// blocks, and a small entry per change. Windows-1251 is decoded when a change is looked at.
class ChangeLog {
 public:
  ChangeLog() = default;
  ChangeLog(const ChangeLog&) = delete;
  ChangeLog& operator=(const ChangeLog&) = delete;
  ChangeLog(ChangeLog&&) noexcept = default;
  ChangeLog& operator=(ChangeLog&&) noexcept = default;

  // Logs a change whose texts are in the bytes of `encoding`.
  void add(Repair repair, std::uint64_t lineno, std::string_view key,
           std::optional<std::string_view> old, std::string_view value, std::string_view sources,
           Encoding encoding);
  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  // The change at `i`, its texts UTF-8: the log's own, or decoded into `room`, where they are
  // valid until `room` is used again.
  Change at(std::size_t i, std::string& room) const;
  Repair repair(std::size_t i) const noexcept { return entry(i).repair; }

 private:
  struct Text {
    const char* data = nullptr;
    std::size_t size = 0;
  };
  struct Entry {
    std::uint64_t lineno;
    Text key, old, value, sources;
    Repair repair;
    bool has_old;
    bool cp1251;
  };
  Text put(std::string_view text);

  // Entries in chunks that never move, so that a log of a hundred thousand changes is not
  // copied as it grows.
  static constexpr std::size_t kChunk = 4096;
  const Entry& entry(std::size_t i) const noexcept { return entries_[i / kChunk][i % kChunk]; }

  TextArena texts_;
  std::vector<std::unique_ptr<Entry[]>> entries_;
  std::size_t size_ = 0;
};

// What one look at the whole text tells before its sections are read: where the text lies, and
// whether a key in it holds ё or Ё. A section whose keys all lie in the text needs no look of its
// own for them, where none does.
struct TextFacts {
  const char* begin = nullptr;
  const char* end = nullptr;
  bool yo_in_keys = true;

  // A look at `text`, in the bytes of `encoding`, at the speed of a byte search.
  static TextFacts of(std::string_view text, Encoding encoding) noexcept;
  bool holds(const char* p) const noexcept { return p >= begin && p < end; }
};

// Where the keys the repairs read stand in the last section one of them saw, so that the next
// repair called for the same section, unchanged since, need not look again.
struct RoleMemo;

// Runs `repairs`, in order, over the section a native hook is handed, logging what they change
// where `log` is given. `facts` (of the text being read) and `memo` may be null. Returns a
// TARVIK_* outcome: CONTINUE, or NO_MEMORY.
int repair_section(std::span<const Repair> repairs, const tarvik_section_view& view,
                   tarvik_section* section, const tarvik_section_api& api, ChangeLog* log,
                   const TextFacts* facts = nullptr, RoleMemo* memo = nullptr);

// The memo of the calling thread, forgotten whenever a reading begins on it.
RoleMemo& thread_memo() noexcept;
void forget(RoleMemo& memo) noexcept;

// The plain decimal form of an amount written with grouping spaces (plain, no-break or narrow
// no-break) or a decimal comma, in the bytes of `encoding`; nullopt when `text` is no such amount,
// a plain one included. "1,000.00" is not taken, since its comma may group thousands. Digits are
// those of every script, as Python's \d takes them, and are kept as written.
std::optional<std::string> plain_amount(std::string_view text, Encoding encoding = Encoding::Utf8);

// Python's str.strip(), on text in the bytes of `encoding`.
std::string_view python_strip(std::string_view text, Encoding encoding = Encoding::Utf8) noexcept;

}  // namespace tarvik::columns
