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
  switch (classified->form) {
    case InputForm::Utf8:
      return read(classified->text, true, hooks);
    case InputForm::Cp1251:
      return read_cp1251(classified->text, hooks);
    case InputForm::Decoded:
      break;
  }
  return read(classified->text, false, hooks);
}

}  // namespace tarvik
