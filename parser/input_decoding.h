#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "failure.h"
#include "result.h"
#include "statement.h"

namespace tarvik {

inline constexpr std::string_view kStatementMarker = "1CClientBankExchange";

struct ClassifiedInput {
  // Utf8 and Cp1251: the input itself, windows-1251 undecoded. Utf16: its UTF-8 form, in the
  // caller's storage.
  std::string_view text;
  Encoding encoding;
};

// Classifies raw bytes as UTF-8 or windows-1251 and checks that they look like a statement.
// Well-formed UTF-8 and windows-1251 are used in place (windows-1251 is only checked: it is read
// in its own bytes, so no second copy of the whole text is made); UTF-16 is decoded into
// `storage`, which must outlive the result. Bad input gives NotStatement and never
// throws (bar std::bad_alloc). `lenient` takes a text whose first line is a misspelt marker or a
// section's opening too, as a damaged statement (line_lexer.h, first_line()).
Result<ClassifiedInput, NotStatement> classify_input(std::string_view input, std::string& storage,
                                                     bool lenient = false);

// Whether `bytes` are well-formed UTF-8 (RFC 3629). Bytes cut after a line feed are cut between
// two sequences, so stretches of whole lines can be checked one by one.
bool is_utf8(std::string_view bytes) noexcept;

// Whether the first line (up to a line feed, less a carriage return before it) is the marker.
// The marker is ASCII, so this holds for the bytes as for any decoding of them that agrees with
// ASCII.
bool first_line_is_marker(std::string_view text) noexcept;

// decode_cp1251 stores whole words, so it may write up to this many bytes past the end of the
// UTF-8 form it returns; that room must be there.
inline constexpr std::size_t kCp1251Spill = 16;

// Room that decode_cp1251 needs at `out` for `size` input bytes: the UTF-8 form of a byte takes
// up to three bytes, and the stores spill past it.
constexpr std::size_t cp1251_room(std::size_t size) noexcept { return 3 * size + kCp1251Spill; }

// Writes the UTF-8 form of windows-1251 `input` at `out`, which has cp1251_room(input.size())
// bytes, or the form's size and kCp1251Spill; returns the end of what was written.
char* decode_cp1251(std::string_view input, char* out) noexcept;

// Text is read in the bytes of its input, and made UTF-8 only where it becomes a record's or a
// message's text. `bytes` are UTF-8 for every encoding but Cp1251 (UTF-16 is converted whole).
//
// The UTF-8 form of `bytes`: themselves when they are UTF-8 or ASCII, else decoded into `scratch`
// (which keeps its room for the next value, so the view is of its first bytes only).
std::string_view as_utf8(std::string_view bytes, Encoding encoding, std::string& scratch);
// A new text of the UTF-8 form of `bytes`.
std::string utf8_text(std::string_view bytes, Encoding encoding);
// Writes the UTF-8 form of `bytes` at `out`, which has room for it and kCp1251Spill bytes more
// (cp1251_room(bytes.size()) is enough); returns the end of the form.
char* write_utf8(std::string_view bytes, Encoding encoding, char* out) noexcept;

}  // namespace tarvik
