#include "parse.h"

#include "input_decoding.h"
#include "statement_reader.h"

namespace tarvik {

Result<Statement, ParseFailure> parse(std::string_view input, std::span<SectionHook* const> hooks) {
  // Most statements are UTF-8 with the marker first; those are checked as they are read. With
  // hooks the text is checked whole first, as no hook may run for input that is not a statement.
  if (hooks.empty() && starts_with_marker_line(input)) {
    if (auto read = read_if_utf8(input)) {
      return std::move(*read);
    }
  }
  std::string storage;
  auto classified = classify_input(input, storage);
  if (!classified) {
    return Err{ParseFailure{NotStatement{}}};
  }
  return read(classified->text, classified->encoding, hooks);
}

}  // namespace tarvik
