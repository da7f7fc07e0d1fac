#pragma once

#include <string>
#include <string_view>

#include "failure.h"
#include "result.h"

namespace tarvik {

inline constexpr std::string_view kStatementMarker = "1CClientBankExchange";

struct DecodedInput {
  std::string_view text;  // UTF-8; into the input itself, or into the caller's storage
  bool utf8;              // read as UTF-8 (else as windows-1251 or after a byte-order mark)
};

// Classifies raw bytes as UTF-8 or windows-1251 and checks that they look like a statement.
// Well-formed UTF-8 is used in place; any other decoding is written to `storage`, which must
// outlive the result. Bad input gives NotStatement and never throws (bar std::bad_alloc).
Result<DecodedInput, NotStatement> decode_input(std::string_view input, std::string& storage);

}  // namespace tarvik
