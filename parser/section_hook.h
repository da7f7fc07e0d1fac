#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "attr_map.h"
#include "native_hook.h"
#include "statement.h"

namespace tarvik {

struct HookOutcome {
  enum class Kind : std::uint8_t { Continue, Warn, Fail };
  Kind kind = Kind::Continue;
  std::string message;  // Warn: the warning; Fail: the text of the HookError

  static HookOutcome proceed() { return {}; }
  static HookOutcome warn(std::string m) { return {Kind::Warn, std::move(m)}; }
  static HookOutcome fail(std::string m) { return {Kind::Fail, std::move(m)}; }
};

// One attribute line of a section as the reader gathers it: views into the text being read, or
// into the section's own storage, and the line of the file it stands on (0 for one a hook made).
// It is the line native hooks see, so it is the C structure they share.
using SectionLine = tarvik_line;

constexpr std::string_view view(tarvik_text text) noexcept { return {text.data, text.size}; }
constexpr tarvik_text text_of(std::string_view text) noexcept { return {text.data(), text.size()}; }
constexpr SectionLine attribute(std::string_view key, std::string_view value,
                                std::uint64_t lineno = 0) noexcept {
  return SectionLine{text_of(key), text_of(value), lineno};
}

// The section that is closing, as the hooks see and change it: its kind, where it stands, and
// its lines in the bytes of its encoding, which is the text's until a hook changes the lines.
// A hook may work on the lines, or ask for the section as a map of UTF-8 texts; after map(), the
// lines follow the map.
class Section {
 public:
  Section() = default;
  Section(const Section&) = delete;
  Section& operator=(const Section&) = delete;

  // Starts a new section of the text, read in `encoding`; what the last one kept is let go.
  void open(SectionType type, std::uint64_t opening_line, Encoding encoding);
  // An attribute line of the open section.
  void add(SectionLine line) { lines_.push_back(line); }
  void close(std::uint64_t closing_line) noexcept { closing_line_ = closing_line; }

  SectionType type() const noexcept { return type_; }
  std::uint64_t opening_line() const noexcept { return opening_line_; }
  std::uint64_t closing_line() const noexcept { return closing_line_; }
  // How many times the lines have changed since the section was read.
  std::uint64_t changes() const noexcept { return changes_; }
  // Of the lines' texts: the text's own (Cp1251 or Utf8; Utf16 input is read as UTF-8 text) until
  // a hook has given UTF-8 ones.
  Encoding encoding() const noexcept { return in_map_ ? Encoding::Utf8 : encoding_; }

  // The lines as they stand, in file order, a repeated key on each of its lines.
  std::span<const SectionLine> lines();

  // A copy of `text` that lives until the next section opens.
  std::string_view keep(std::string_view text);
  // Changes of the lines as they stand; the texts given are the section's, the text's, kept
  // copies or constants, in the section's encoding. An append may move the lines.
  void set_key(std::size_t index, std::string_view key);
  void set_value(std::size_t index, std::string_view value);
  void append(SectionLine line);
  // The lines become `lines`, whose texts are as above, in `encoding`.
  void replace(std::span<const SectionLine> lines, Encoding encoding);

  // The section as a map, UTF-8: a repeated key at its first place with its last value. Changes
  // to it are what the section is built from.
  AttrMap& map();

  // The line of the file that `key` (UTF-8) last stands on in the section's lines (those a map
  // was made from, while there is one), or 0 where it does not.
  std::uint64_t line_of(std::string_view key) const;

 private:
  // The lines made again from the map, each with the line its key came from.
  void lines_from_map();

  SectionType type_ = SectionType::Document;
  std::uint64_t opening_line_ = 0;
  std::uint64_t closing_line_ = 0;
  Encoding encoding_ = Encoding::Utf8;
  std::vector<SectionLine> lines_;
  std::uint64_t changes_ = 0;
  // The map, which the lines follow while `in_map_`, and the lines it was made from, for
  // line_of(); `lines_view_map_` while the lines' texts are the map's own.
  AttrMap map_;
  std::vector<SectionLine> mapped_lines_;
  Encoding mapped_encoding_ = Encoding::Utf8;
  bool in_map_ = false;
  bool lines_view_map_ = false;
  // Kept texts: blocks that the next section reuses, filled in order up to `block_` (of which
  // `block_used_` bytes), and a text larger than a block on its own.
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t block_ = 0;
  std::size_t block_used_ = 0;
  std::vector<std::unique_ptr<char[]>> large_;
};

// What a lenient reading did with a line the strict reader refuses: damage a person recognises
// around intact records, each read in the obvious way or skipped.
enum class DamageKind : std::uint8_t {
  NotKeyValue,  // a line that fits no line form: skipped
  UnmatchedEnd,  // КонецДокумента or КонецРасчСчет where no section is open: skipped
  RepeatedMarker,  // the marker line again, after the first line: skipped
  AfterEnd,        // any line after КонецФайла: skipped
  LateHeader,      // key=value between sections: kept in the header
  BareSection,     // СекцияДокумент without "=": opens a document
  MisspeltMarker,  // a first line that is the marker but for a letter or two: read as the marker
  NoMarker,        // a first line that opens a section: read as a statement without its marker
  AccountSkipped,  // an account section that does not build: left out with a warning
  LateRepeat,      // key=value between sections whose key the header holds with another value:
                   // kept among the header's lines, the header's value stays
  KeywordEncoding,  // a keyword line in the other encoding (КонецФайла in UTF-8 in a Windows-1251
                    // file): read as that keyword
};

// One damaged line, as the reader meets it. `line` is the line as written, in the bytes of
// `encoding`; `message` (AccountSkipped) the failure that section would have ended the parse with.
struct Damage {
  DamageKind kind;
  std::uint64_t lineno;
  std::string_view line;
  Encoding encoding;
  std::string_view message;
};

// Sees each section when it closes, before it is built, and may change its lines.
class SectionHook {
 public:
  virtual ~SectionHook() = default;
  virtual HookOutcome on_section(Section& section, const AttrMap& header) = 0;
  // Whether a call can be seen outside the parse, as a call into a caller's code is: such hooks
  // run only for a text whose every line is known to be readable, so that none sees a section of
  // a statement that then fails for a line further on.
  virtual bool observable() const noexcept { return true; }
  // The whole text, as it is read (`encoding` as Section::encoding() says), once before each
  // reading of it.
  virtual void begin(std::string_view /*text*/, Encoding /*encoding*/) {}
  // The header's lines as read, repeats included (in the text's bytes), once, when the first
  // section opens. Most hooks need nothing but the header map they get with each section.
  virtual void header(std::span<const SectionLine> /*lines*/, Encoding /*encoding*/) {}
  // Each damaged line of a lenient reading, as it is met.
  virtual void damage(const Damage& /*damage*/) {}
  // Whether the text is to be read leniently: a hook that reports damage asks for it.
  virtual bool lenient() const noexcept { return false; }
};

// A hook that sees each section as a map of UTF-8 texts, as Python callables do.
class MapHook : public SectionHook {
 public:
  virtual HookOutcome call(SectionType type, AttrMap& attrs, const AttrMap& header) = 0;
  HookOutcome on_section(Section& section, const AttrMap& header) final {
    return call(section.type(), section.map(), header);
  }
};

}  // namespace tarvik
