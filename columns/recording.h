#pragma once

// The native hooks the package hands a reader: each shipped repair alone, and a recording of one
// reading, which runs the repairs and keeps what the reader says of the statement.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "native_hook.h"
#include "repairs.h"

namespace tarvik::columns {

// A repair alone, as a hook that logs nothing: what tarvik.hooks hands out. Lives as long as the
// program.
const tarvik_native_hook& repair_hook(Repair repair) noexcept;

// A header line as read, its texts UTF-8.
struct HeaderLine {
  std::string key;
  std::string value;
  std::uint64_t lineno = 0;
  friend bool operator==(const HeaderLine&, const HeaderLine&) = default;
};

// A key of a section that its record has no field for, with its text, as the section was built
// (after every hook): the texts lie in the text read, which the owner keeps, or in the recording's
// own copies.
struct Extra {
  std::string_view key;
  std::string_view value;
};

// A section as a recording observed it: where it opens, and where its extras are. A section no
// hook changed a key of has its extras as the file has them, so only its lines' place in the text
// is kept, and they are looked for there when asked for; the others' are kept apart.
struct Observed {
  std::uint64_t opening_line;
  bool document;
  Encoding encoding;  // of its extras' texts
  bool as_written;    // [begin, end): its lines' bytes in the text; else its extras
  std::size_t begin, end;
};

// One reading: with `repairs`, the repairs run over every section and each change is logged, and
// the text is read leniently, each damaged line logged as a change too (an account section that
// does not build becomes a warning, and its closing line is kept); and whatever the repairs do,
// the header's lines and the line of every record are kept.
class Recording {
 public:
  explicit Recording(bool repairs);
  Recording(const Recording&) = delete;
  Recording& operator=(const Recording&) = delete;

  // Valid while the recording lives.
  const tarvik_native_hook& hook() const noexcept { return hook_; }
  // A second hook over the same recording that only looks at each section, for the end of a
  // chain where other hooks stand after the first: the sections' extras are then taken from it.
  const tarvik_native_hook& observer() noexcept;

  // The bytes the reading reads, which the owner keeps for as long as the recording: an extra
  // whose texts lie in them is kept as it lies. Any other text (a UTF-16 file's, made into UTF-8
  // for the reading only) is copied.
  void keep_texts_in(std::string_view input) noexcept { input_ = input; }

  // Of a statement read whole: each document's extras, and each interval's (by its place among
  // all intervals, account by account), in the section's order, a repeated key once, where it
  // first stands, with its last text; texts UTF-8.
  std::vector<std::pair<std::string, std::string>> document_extra(std::size_t document) const;
  std::vector<std::pair<std::string, std::string>> interval_extra(std::size_t interval) const;
  // The same as views in the bytes of the encoding given back, into `out`, for building tables
  // while the text is kept.
  Encoding document_extras(std::size_t document, std::vector<Extra>& out) const;

  bool repairs() const noexcept { return repairs_; }
  const ChangeLog& changes() const noexcept { return changes_; }
  ChangeLog take_changes() && noexcept { return std::move(changes_); }
  const std::vector<HeaderLine>& header_lines() const noexcept { return header_; }
  // Of a statement read whole: where each document's section opens, in the statement's order;
  // and each interval's, account by account, with the number each account has.
  const std::vector<std::uint64_t>& document_lines() const noexcept { return documents_; }
  const std::vector<std::uint64_t>& interval_lines() const noexcept { return intervals_; }
  const std::vector<std::size_t>& account_sizes() const noexcept { return accounts_; }
  bool read_whole() const noexcept { return read_whole_; }
  // The closing line of each account section read, before any hook: a warning on one of these
  // lines is an account section's (a document's is on its own closing line).
  const std::vector<std::uint64_t>& account_closing_lines() const noexcept {
    return account_closings_;
  }

 private:
  static int on_begin(void* state, tarvik_text text, int encoding) noexcept;
  static int on_section(void* state, const tarvik_section_view* view, tarvik_section* section,
                        const tarvik_section_api* api, tarvik_text* message) noexcept;
  static int on_header(void* state, const tarvik_line* lines, std::size_t count,
                       int encoding) noexcept;
  static int on_records(void* state, const tarvik_record_lines* lines) noexcept;
  static int on_damage(void* state, const tarvik_damage* damage) noexcept;
  static int on_observe(void* state, const tarvik_section_view* view, tarvik_section* section,
                        const tarvik_section_api* api, tarvik_text* message) noexcept;

  // Where lines as read lie in the input, from the first key to the last value: (begin, end).
  std::optional<std::pair<std::size_t, std::size_t>> span_as_read(const tarvik_line* lines,
                                                                  std::size_t count) const noexcept;
  // Notes where the section's extras are: in `as_read`, the span of its lines as read, where
  // they stand there still; else as the section stands now.
  void observe(const tarvik_section_view& view, tarvik_section* section,
               const tarvik_section_api& api,
               std::optional<std::pair<std::size_t, std::size_t>> as_read);
  std::string_view kept(std::string_view text);
  bool lies_in_input(std::string_view text) const noexcept;
  // The observed section a record's section opened on; null where none was.
  const Observed* observed_at(std::uint64_t opening_line, bool document) const;
  // Its extras, as a map, into `out`.
  void extras_of(const Observed& section, std::vector<Extra>& out) const;
  void keep_last_of_repeated(std::vector<Extra>& extras) const;

  tarvik_native_hook hook_{};
  tarvik_native_hook observer_{};
  bool observed_apart_ = false;  // the observer stands at the end of the chain
  bool repairs_;
  TextFacts facts_;  // of the text being read
  ChangeLog changes_;
  std::vector<HeaderLine> header_;
  std::vector<std::uint64_t> documents_;
  std::vector<std::uint64_t> intervals_;
  std::vector<std::size_t> accounts_;
  std::vector<std::uint64_t> account_closings_;
  bool read_whole_ = false;
  // The sections as observed, in file order, and their extras.
  std::string_view input_;
  std::string_view text_;  // being read; kept as it lies where it lies in `input_`
  std::vector<Observed> observed_;
  std::vector<Extra> extras_;                    // of the sections not as written
  mutable std::vector<std::uint32_t> first_at_;  // keep_last_of_repeated's table, reused
  TextArena copies_;                             // of texts that do not lie in the input
};

}  // namespace tarvik::columns
