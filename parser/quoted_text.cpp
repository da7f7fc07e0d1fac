#include "quoted_text.h"

#include "unicode.h"

namespace tarvik {
namespace {

void append_code_escape(std::string& out, char32_t code) {
  constexpr char kHex[] = "0123456789abcdef";
  char digits[8];
  int n = 0;
  do {
    digits[n++] = kHex[code & 0xFu];
    code >>= 4;
  } while (code != 0);
  out += "\\u{";
  while (n > 0) {
    out += digits[--n];
  }
  out += '}';
}

// Printable ASCII other than the two characters that need a backslash: copied in runs.
bool is_plain_ascii(unsigned char b) noexcept {
  return b >= 0x20 && b < 0x7F && b != '\\' && b != '"';
}

}  // namespace

void append_quoted(std::string& out, std::string_view text) {
  out += '"';
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t run = i;
    while (run < text.size() && is_plain_ascii(static_cast<unsigned char>(text[run]))) {
      ++run;
    }
    out.append(text, i, run - i);
    i = run;
    if (i == text.size()) {
      break;
    }
    const Utf8Char ch = decode_utf8(text.substr(i));
    switch (ch.code) {
      case U'\0':
        out += "\\0";
        break;
      case U'\t':
        out += "\\t";
        break;
      case U'\r':
        out += "\\r";
        break;
      case U'\n':
        out += "\\n";
        break;
      case U'\\':
        out += "\\\\";
        break;
      case U'"':
        out += "\\\"";
        break;
      case kInvalidUtf8:
        append_code_escape(out, 0xFFFD);
        break;
      default:
        if (is_grapheme_extend(ch.code) || !is_printable(ch.code)) {
          append_code_escape(out, ch.code);
        } else {
          out.append(text, i, ch.length);
        }
        break;
    }
    i += ch.length;
  }
  out += '"';
}

std::string quote(std::string_view text) {
  std::string out;
  append_quoted(out, text);
  return out;
}

}  // namespace tarvik
