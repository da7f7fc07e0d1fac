#pragma once

#include <optional>
#include <string_view>

#include "failure.h"
#include "statement.h"

namespace tarvik {

// The rule that an unrecognized line anywhere wins over whatever the reader finds, as a stage of
// its own: the first line of `text` (as classify_input() gives it) that fits no line form, with
// its number, or nullopt. Lines holding an "=" fit the attribute form whatever else they hold, so
// only the others are looked at, in the bytes of the input; no token is made.
// Bad input does not throw.
std::optional<UnrecognizedLine> first_unrecognized_line(std::string_view text, Encoding encoding);

}  // namespace tarvik
