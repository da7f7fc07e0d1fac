#include "parse.h"

#include "input_decoding.h"

namespace tarvik {

Result<Statement, ParseFailure> parse(std::string_view input, std::span<SectionHook* const> hooks) {
  std::string storage;
  auto decoded = decode_input(input, storage);
  if (!decoded) {
    return Err{ParseFailure{NotStatement{}}};
  }
  return read(decoded->text, decoded->utf8, hooks);
}

}  // namespace tarvik
