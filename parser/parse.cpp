#include "parse.h"

#include "input_decoding.h"
#include "statement_reader.h"

namespace tarvik {

Result<Statement, ParseFailure> parse(std::string_view input, std::span<SectionHook* const> hooks) {
  std::string storage;
  auto classified = classify_input(input, storage);
  if (!classified) {
    return Err{ParseFailure{NotStatement{}}};
  }
  return read(classified->text, classified->encoding, hooks);
}

}  // namespace tarvik
