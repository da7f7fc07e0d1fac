#include "line_check.h"

#include <cstdint>
#include <string>

#include "input_decoding.h"
#include "line_lexer.h"

namespace tarvik {

std::optional<UnrecognizedLine> first_unrecognized_line(std::string_view text, Encoding encoding) {
  const char* p = text.data();
  const char* const end = p + text.size();
  std::uint64_t lineno = 0;
  while (p != end) {
    const LineEnds ends = scan_line(p, end);
    ++lineno;
    std::string_view line(p, static_cast<std::size_t>(ends.lf - p));
    p = ends.lf == end ? end : ends.lf + 1;
    if (ends.eq != nullptr) {
      continue;
    }
    // As the lexer splits lines: a carriage return goes only with the line feed after it.
    if (ends.lf != end && !line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (!is_recognized(line, encoding)) {
      return UnrecognizedLine{lineno, utf8_text(line, encoding)};
    }
  }
  return std::nullopt;
}

}  // namespace tarvik
