#pragma once

// The core reads its input as a stream: windows-1251 is decoded a stretch at a time and lines are
// lexed one by one. Tests and fuzz targets compare whole texts and token lists, so these give the
// stream's stages in that form, built only from the stages themselves.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "failure.h"
#include "input_decoding.h"
#include "line_lexer.h"
#include "result.h"
#include "statement.h"
#include "statement_reader.h"

namespace tarvik::testing {

struct DecodedInput {
  std::string_view text;  // UTF-8; into the input itself, or into the caller's storage
  Encoding encoding;      // what the input was read as
};

// The whole UTF-8 text that parse() reads from `input`, or NotStatement; windows-1251 and UTF-16
// are decoded into `storage`, which must outlive the result.
inline Result<DecodedInput, NotStatement> decode_input(std::string_view input,
                                                       std::string& storage) {
  auto classified = classify_input(input, storage);
  if (!classified) {
    return Err{NotStatement{}};
  }
  if (classified->encoding == Encoding::Cp1251) {
    storage.resize(cp1251_room(input.size()));
    const char* const end = decode_cp1251(input, storage.data());
    storage.resize(static_cast<std::size_t>(end - storage.data()));
    return DecodedInput{storage, Encoding::Cp1251};
  }
  return DecodedInput{classified->text, classified->encoding};
}

// read() over a text already decoded to UTF-8, with the statement labelled as read from
// `encoding`.
inline Result<Statement, ParseFailure> read_decoded(std::string_view text, Encoding encoding,
                                                    std::span<SectionHook* const> hooks) {
  auto result = read(text, Encoding::Utf8, hooks);
  if (result) {
    result.value().encoding = encoding;
  }
  return result;
}

// Every token of `text`, or the first line that fits no form.
inline Result<std::vector<LineToken>, UnrecognizedLine> lex(std::string_view text) {
  std::vector<LineToken> tokens;
  LineLexer lexer(text);
  LineToken token;
  for (;;) {
    switch (lexer.next(token)) {
      case LexStep::Token:
        tokens.push_back(token);
        continue;
      case LexStep::End:
        return tokens;
      case LexStep::Unrecognized:
        return Err{UnrecognizedLine{token.lineno, std::string(token.value)}};
    }
  }
}

}  // namespace tarvik::testing
