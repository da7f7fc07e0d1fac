// The quoted-text writer over any bytes. Properties: the output is well-formed UTF-8 between
// double quotes; every character written as itself is one that prints and is not a combining
// mark; the escapes read back to the input exactly when the input is well-formed UTF-8, and to
// well-formed text when it is not; appending adds to what is there.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_util.h"
#include "quoted_text.h"
#include "unicode.h"

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return -1;  // upper case is not what the writer produces
}

// Undoes the escapes of a quoted body, checking each character that stands for itself.
std::string unquote(std::string_view body) {
  std::string out;
  std::size_t i = 0;
  while (i < body.size()) {
    if (body[i] != '\\') {
      const tarvik::Utf8Char ch = tarvik::decode_utf8(body.substr(i));
      TARVIK_FUZZ_CHECK(ch.code != tarvik::kInvalidUtf8);
      TARVIK_FUZZ_CHECK(ch.code != U'"' && ch.code != U'\0' && ch.code != U'\t' &&
                        ch.code != U'\r' && ch.code != U'\n');
      TARVIK_FUZZ_CHECK(tarvik::is_printable(ch.code) && !tarvik::is_grapheme_extend(ch.code));
      out.append(body, i, ch.length);
      i += ch.length;
      continue;
    }
    TARVIK_FUZZ_CHECK(i + 1 < body.size());
    const char e = body[i + 1];
    i += 2;
    switch (e) {
      case '0':
        out += '\0';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case '\\':
        out += '\\';
        break;
      case '"':
        out += '"';
        break;
      case 'u': {
        TARVIK_FUZZ_CHECK(i < body.size() && body[i] == '{');
        ++i;
        char32_t code = 0;
        std::size_t digits = 0;
        while (i < body.size() && body[i] != '}') {
          const int v = hex_value(body[i]);
          TARVIK_FUZZ_CHECK(v >= 0);
          TARVIK_FUZZ_CHECK(digits < 6);
          code = code * 16 + static_cast<char32_t>(v);
          ++digits;
          ++i;
        }
        TARVIK_FUZZ_CHECK(i < body.size() && digits > 0);
        ++i;
        // No leading zeros, and only what could not have been written as itself.
        TARVIK_FUZZ_CHECK(digits == 1 || body[i - 1 - digits] != '0');
        TARVIK_FUZZ_CHECK(code <= 0x10FFFF);
        TARVIK_FUZZ_CHECK(code == 0xFFFD || tarvik::is_grapheme_extend(code) ||
                          !tarvik::is_printable(code));
        TARVIK_FUZZ_CHECK(code < 0xD800 || code > 0xDFFF);
        tarvik::fuzz::append_utf8(out, code);
        break;
      }
      default:
        tarvik::fuzz::fail("an escape the writer does not produce", __FILE__, __LINE__);
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const tarvik::fuzz::ExactCopy input(data, size);
  const std::string_view text = input.view();

  const std::string quoted = tarvik::quote(text);
  TARVIK_FUZZ_CHECK(quoted.size() >= 2 && quoted.front() == '"' && quoted.back() == '"');
  TARVIK_FUZZ_CHECK(tarvik::fuzz::is_valid_utf8(quoted));
  const std::string back = unquote(std::string_view(quoted).substr(1, quoted.size() - 2));
  TARVIK_FUZZ_CHECK(tarvik::fuzz::is_valid_utf8(back));
  if (tarvik::fuzz::is_valid_utf8(text)) {
    TARVIK_FUZZ_CHECK(back == text);
  } else {
    TARVIK_FUZZ_CHECK(back.find("\xEF\xBF\xBD") != std::string::npos);
  }

  std::string appended = "prefix";
  tarvik::append_quoted(appended, text);
  TARVIK_FUZZ_CHECK(appended == "prefix" + quoted);
  return 0;
}
