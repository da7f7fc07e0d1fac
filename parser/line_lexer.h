#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "failure.h"
#include "input_decoding.h"
#include "result.h"
#include "statement.h"

namespace tarvik {

enum class TokenKind : std::uint8_t {
  FileStart,
  AccountStart,
  AccountEnd,
  DocumentStart,
  DocumentEnd,
  FileEnd,
  Attribute,
};

// One non-blank line. `key` and `value` point into the lexed text.
struct LineToken {
  std::uint64_t lineno = 0;
  TokenKind kind = TokenKind::Attribute;
  std::string_view key;    // Attribute: before the first "="
  std::string_view value;  // Attribute: after the first "="; DocumentStart: the document type
  friend bool operator==(const LineToken&, const LineToken&) = default;
};

// Where the line that starts at `p` ends (its line feed, or `end`) and its first "=" (or
// nullptr), found together in one walk over the line: statement lines are short, so one walk of
// a few sixteen-byte blocks costs less than a library search for each. The bytes are compared as
// they are, so windows-1251 lines are split the same way as their decoded text.
struct LineEnds {
  const char* lf;
  const char* eq;
};
LineEnds scan_line(const char* p, const char* end) noexcept;

// Whether a UTF-8 line, without its line end, fits one of the forms: blank, key "=" value, or a
// keyword line.
bool is_recognized(std::string_view line) noexcept;

// The text a reader reports for a token it did not expect: the keyword, or for a document
// opening "СекцияДокумент=" and the type.
std::string keyword_text(const LineToken& token);

enum class LexStep : std::uint8_t { Token, End, Unrecognized };

// Walks a text line by line, once. Blank lines are skipped but counted. A windows-1251 text is
// decoded a stretch of whole lines at a time as it is reached; tokens always hold UTF-8.
class LineLexer {
 public:
  // `text` as classify_input() gives it: undecoded for Cp1251, UTF-8 for the others.
  explicit LineLexer(std::string_view text, Encoding encoding = Encoding::Utf8) noexcept {
    if (encoding == Encoding::Cp1251) {
      stretches_ = Cp1251Stretches(text);
    } else {
      rest_ = text;
    }
  }

  // Token: `token` holds the next line. End: nothing is left. Unrecognized: `token.lineno` and
  // `token.value` hold the line that fits no form; lexing may go on after it.
  LexStep next(LineToken& token);

  // The tokens handed out so far are no longer looked at, so the text decoded for them may be
  // written over. Until then it stays where it is.
  void release() noexcept {
    stretches_.release();
    handed_out_ = false;
  }

 private:
  // Takes the next decoded stretch of windows-1251 into `rest_`; false when nothing is left.
  bool refill();

  std::string_view rest_;  // UTF-8 not yet lexed
  Cp1251Stretches stretches_;
  std::uint64_t lineno_ = 0;
  bool handed_out_ = false;  // tokens since the last release() view the current stretch
};

}  // namespace tarvik
