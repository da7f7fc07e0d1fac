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

// One non-blank line. `key` and `value` point into the lexed text, in its bytes.
struct LineToken {
  std::uint64_t lineno = 0;
  TokenKind kind = TokenKind::Attribute;
  std::string_view key;    // Attribute: before the first "="
  std::string_view value;  // Attribute: after the first "="; DocumentStart: the document type
  friend bool operator==(const LineToken&, const LineToken&) = default;
};

// Where the line that starts at `p` ends (its line feed, or `end`) and its first "=" (or
// nullptr), found together in one walk over the line: statement lines are short, so one walk of
// a few sixteen-byte blocks costs less than a library search for each.
struct LineEnds {
  const char* lf;
  const char* eq;
};
LineEnds scan_line(const char* p, const char* end) noexcept;

// Whether a line, without its line end, fits one of the forms: blank, key "=" value, or a keyword
// line. `line` is in the bytes of `encoding` (windows-1251 undecoded, else UTF-8).
bool is_recognized(std::string_view line, Encoding encoding = Encoding::Utf8) noexcept;

// Where a damaged text is read leniently, what its first line is: the marker, the marker with up
// to two letters wrong (`1CCliertBankExchange`), the opening line of a section (a fragment cut
// from a statement starts with one), or none of these. In the bytes of `encoding`.
enum class FirstLine : std::uint8_t { Marker, MisspeltMarker, Section, Other };
FirstLine first_line(std::string_view text, Encoding encoding) noexcept;

// Whether `line` (ASCII, any case) is the marker with up to two letters added, dropped or changed.
bool is_misspelt_marker(std::string_view line) noexcept;

// Whether `line` is "СекцияДокумент" alone, without its "=": the opening line some writers give a
// document. In the bytes of `encoding`.
bool is_bare_document_opening(std::string_view line, Encoding encoding) noexcept;

// Whether a line that fits no form in `encoding` is a keyword line (but the marker, which is
// ASCII) written in the other encoding, as a writer that mixes them leaves it: its kind in `kind`.
bool is_keyword_in_other_encoding(std::string_view line, Encoding encoding,
                                  TokenKind& kind) noexcept;

// The line a token was lexed from, as written (without its line end), in the bytes of
// `encoding`.
std::string_view line_text(const LineToken& token, Encoding encoding) noexcept;

// The UTF-8 text a reader reports for a token it did not expect: the keyword, or for a document
// opening "СекцияДокумент=" and the type. The token's texts are in the bytes of `encoding`.
std::string keyword_text(const LineToken& token, Encoding encoding = Encoding::Utf8);

enum class LexStep : std::uint8_t { Token, End, Unrecognized };

struct Lexicon;  // the line forms' words in the bytes of one encoding

// Walks a text line by line, once. Blank lines are skipped but counted. windows-1251 is lexed in
// its own bytes: it agrees with ASCII on line feeds, carriage returns and "=", and each character
// is one byte that decodes to no other, so its lines split and match as their UTF-8 form would.
class LineLexer {
 public:
  // `text` as classify_input() gives it: undecoded for Cp1251, UTF-8 for the others. Tokens view
  // it, in its bytes.
  explicit LineLexer(std::string_view text, Encoding encoding = Encoding::Utf8) noexcept;

  // A lexer of a text taken as UTF-8 for as long as it proves to be: each stretch of whole lines
  // is checked just before its first line is lexed, as it comes into cache, so that the text is
  // read from memory once. A stretch that is not UTF-8 ends the lexing, as if the text ended
  // there, and not_utf8() then tells.
  static LineLexer checking_utf8(std::string_view text) noexcept;

  // Token: `token` holds the next line. End: nothing is left. Unrecognized: `token.lineno` and
  // `token.value` hold the line that fits no form; lexing may go on after it.
  LexStep next(LineToken& token);

  bool not_utf8() const noexcept { return not_utf8_; }
  // Whether the text, from where the checking has reached to its end, is UTF-8 (it is checked
  // now): to be asked before a result that does not come from lexing to the end is given out.
  bool rest_is_utf8() noexcept;

 private:
  // Checks the stretch from `unchecked_`; false when it is not UTF-8.
  bool check_stretch() noexcept;

  std::string_view rest_;  // not yet lexed
  const Lexicon* lexicon_;
  std::uint64_t lineno_ = 0;
  bool checking_ = false;
  bool not_utf8_ = false;
  const char* unchecked_ = nullptr;  // with checking: where the bytes not yet checked begin
  const char* end_ = nullptr;        // of the text
};

}  // namespace tarvik
