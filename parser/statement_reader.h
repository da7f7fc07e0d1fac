#pragma once

#include <cstdint>
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

}  // namespace tarvik
