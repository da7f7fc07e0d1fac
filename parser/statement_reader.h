#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "attr_map.h"
#include "failure.h"
#include "result.h"
#include "section_hook.h"
#include "statement.h"

namespace tarvik {

// The reader's state; each bears the name of the ReaderContext reported from it.
enum class ReaderState : std::uint8_t {
  Init,
  Header,
  Account,
  Document,
  ReadNextSection,
  Finished,
};

// Reads a decoded statement text (its first line included) into a Statement, or the one failure
// it ends with: an unrecognized line anywhere wins over what the reader found before it, and an
// input that stops before "КонецФайла" is Unfinished. Hooks run in order for every closed
// section; with hooks, every line is checked before the first hook runs. Bad input does not
// throw; a hook's exception passes through.
// `text` is as classify_input() gives it: windows-1251 is read in its own bytes, and decoded
// where a value becomes a record's or a message's text.
Result<Statement, ParseFailure> read(std::string_view text, Encoding encoding,
                                     std::span<SectionHook* const> hooks);

// read() without hooks of a text taken as UTF-8 for as long as it proves to be, checked a
// stretch at a time just before it is read, so that it is read from memory once; nullopt when it
// proves not to be UTF-8 (it must then be classified and read as what it is). Without hooks
// only: nothing is seen of a read that is given up.
std::optional<Result<Statement, ParseFailure>> read_checking_utf8(std::string_view text);

}  // namespace tarvik
