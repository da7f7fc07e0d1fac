#include "parse.h"

#include <algorithm>

#include "input_decoding.h"
#include "statement_reader.h"

namespace tarvik {

Result<Statement, ParseFailure> parse(std::string_view input, std::span<SectionHook* const> hooks) {
  // Checking the whole input before reading it would read it from memory twice. Without hooks a
  // read shows nothing until it ends, so input that starts with the marker line (the only input
  // UTF-8 classification lets through) is read as UTF-8 for as long as it proves to be, and
  // classified and read again only when it proves not to be.
  if (hooks.empty() && first_line_is_marker(input)) {
    if (auto read_as_utf8 = read_checking_utf8(input)) {
      return std::move(*read_as_utf8);
    }
  }
  // A hook that reports damage asks for a lenient reading, which takes a damaged first line too.
  const bool lenient =
      std::any_of(hooks.begin(), hooks.end(), [](const SectionHook* h) { return h->lenient(); });
  std::string storage;
  auto classified = classify_input(input, storage, lenient);
  if (!classified) {
    return Err{ParseFailure{NotStatement{}}};
  }
  return read(classified->text, classified->encoding, hooks);
}

}  // namespace tarvik
