#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "failure.h"
#include "result.h"
#include "statement.h"

namespace tarvik {

inline constexpr std::string_view kStatementMarker = "1CClientBankExchange";

struct ClassifiedInput {
  // Utf8 and Cp1251: the input itself, windows-1251 still undecoded. Utf16: its UTF-8 form, in the
  // caller's storage.
  std::string_view text;
  Encoding encoding;
};

// Classifies raw bytes as UTF-8 or windows-1251 and checks that they look like a statement.
// Well-formed UTF-8 and windows-1251 are used in place (windows-1251 is only checked: a reader
// decodes it line by line, which keeps no second copy of the whole text in memory); UTF-16 is
// decoded into `storage`, which must outlive the result. Bad input gives NotStatement and never
// throws (bar std::bad_alloc).
Result<ClassifiedInput, NotStatement> classify_input(std::string_view input, std::string& storage);

// Room that decode_cp1251 needs at `out` for `size` input bytes: the UTF-8 form of a byte takes
// up to three bytes, and each is stored with a four-byte copy.
constexpr std::size_t cp1251_room(std::size_t size) noexcept { return 3 * size + 1; }

// Writes the UTF-8 form of windows-1251 `input` at `out`, which has cp1251_room(input.size())
// bytes; returns the end of what was written.
char* decode_cp1251(std::string_view input, char* out) noexcept;

// windows-1251 input decoded a stretch of whole lines at a time, as a reader reaches it: the lines
// are still in cache when they are read, the decoding runs over more than one short line at once,
// and no second copy of the whole text is kept.
class Cp1251Stretches {
 public:
  explicit Cp1251Stretches(std::string_view raw = {}) noexcept : raw_(raw) {}

  // The UTF-8 form of the next stretch, which ends after a line feed (or at the input's end);
  // empty when the input is used up. With `keep`, the text of the stretches before stays where it
  // is until release(), as views into it are still looked at; without, it may be written over.
  std::string_view next(bool keep);

  // The text kept for earlier stretches is no longer looked at.
  void release() noexcept { retired_.clear(); }

 private:
  std::string_view raw_;  // not yet decoded
  std::unique_ptr<char[]> block_;
  std::size_t capacity_ = 0;
  std::vector<std::unique_ptr<char[]>> retired_;  // kept blocks, no longer written to
};

}  // namespace tarvik
