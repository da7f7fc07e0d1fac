#pragma once

#include <string>
#include <string_view>

namespace tarvik {

// Appends `text` (UTF-8) between double quotes, escaping what would not read back as itself:
// \0 \t \r \n \\ \", and \u{hex} for combining marks and characters that do not print.
// Ill-formed UTF-8 is written as \u{fffd}, once per maximal subpart (as decoders replace it).
void append_quoted(std::string& out, std::string_view text);
std::string quote(std::string_view text);

}  // namespace tarvik
