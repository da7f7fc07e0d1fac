#pragma once

// The native hooks the package hands a reader: each shipped repair alone, and a recording of one
// reading, which runs the repairs and keeps what the reader says of the statement.

#include <cstdint>
#include <string>
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
  // The closing line of each account section a lenient reading left out with a warning.
  const std::vector<std::uint64_t>& skipped_accounts() const noexcept { return skipped_accounts_; }

 private:
  static int on_begin(void* state, tarvik_text text, int encoding) noexcept;
  static int on_section(void* state, const tarvik_section_view* view, tarvik_section* section,
                        const tarvik_section_api* api, tarvik_text* message) noexcept;
  static int on_header(void* state, const tarvik_line* lines, std::size_t count,
                       int encoding) noexcept;
  static int on_records(void* state, const tarvik_record_lines* lines) noexcept;
  static int on_damage(void* state, const tarvik_damage* damage) noexcept;

  tarvik_native_hook hook_{};
  bool repairs_;
  TextFacts facts_;  // of the text being read
  ChangeLog changes_;
  std::vector<HeaderLine> header_;
  std::vector<std::uint64_t> documents_;
  std::vector<std::uint64_t> intervals_;
  std::vector<std::size_t> accounts_;
  std::vector<std::uint64_t> skipped_accounts_;
  bool read_whole_ = false;
};

}  // namespace tarvik::columns
