// The line lexer over any text. Each line is classified again here by the format's own rule and
// compared with what the lexer returned: token kinds, keys and values as views into the line,
// line numbers, the blank lines left out, and the first unrecognized line. The one-step walk
// and the whole-text lex() must agree, and so must the lexer that decodes windows-1251 as it goes
// with the one that is handed the text decoded whole.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_util.h"
#include "input_decoding.h"
#include "line_lexer.h"
#include "tests/whole_text.h"

namespace {

using tarvik::LineToken;
using tarvik::TokenKind;

std::optional<TokenKind> keyword(std::string_view line) {
  if (line == "1CClientBankExchange") {
    return TokenKind::FileStart;
  }
  if (line == "СекцияРасчСчет") {
    return TokenKind::AccountStart;
  }
  if (line == "КонецРасчСчет") {
    return TokenKind::AccountEnd;
  }
  if (line == "КонецДокумента") {
    return TokenKind::DocumentEnd;
  }
  if (line == "КонецФайла") {
    return TokenKind::FileEnd;
  }
  return std::nullopt;
}

bool inside(std::string_view part, std::string_view whole) {
  return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const tarvik::fuzz::ExactCopy input(data, size);
  const std::string_view text = input.view();
  const std::uint64_t lines = tarvik::fuzz::line_count(text);

  // The lexer's output, step by step.
  std::vector<LineToken> tokens;
  std::optional<tarvik::UnrecognizedLine> bad;
  tarvik::LineLexer lexer(text);
  LineToken token;
  for (bool more = true; more;) {
    switch (lexer.next(token)) {
      case tarvik::LexStep::Token:
        tokens.push_back(token);
        break;
      case tarvik::LexStep::End:
        more = false;
        break;
      case tarvik::LexStep::Unrecognized:
        bad = tarvik::UnrecognizedLine{token.lineno, std::string(token.value)};
        more = false;
        break;
    }
  }

  const auto whole = tarvik::testing::lex(text);
  if (bad) {
    TARVIK_FUZZ_CHECK(!whole && whole.error() == *bad);
  } else {
    TARVIK_FUZZ_CHECK(whole && *whole == tokens);
  }

  // The same lines read here, up to the last line the lexer reached.
  const std::uint64_t reached = bad ? bad->lineno : lines;
  TARVIK_FUZZ_CHECK(reached <= lines);
  std::size_t next = 0;
  std::size_t start = 0;
  for (std::uint64_t n = 1; n <= reached; ++n) {
    const std::size_t nl = text.find('\n', start);
    std::string_view line = text.substr(start, nl == std::string_view::npos ? nl : nl - start);
    if (nl != std::string_view::npos && !line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    start = nl == std::string_view::npos ? text.size() : nl + 1;
    if (line.empty() || tarvik::fuzz::is_blank(line)) {
      TARVIK_FUZZ_CHECK(next == tokens.size() || tokens[next].lineno != n);
      continue;
    }
    if (bad && n == bad->lineno) {
      TARVIK_FUZZ_CHECK(next == tokens.size());
      TARVIK_FUZZ_CHECK(bad->line == line);
      TARVIK_FUZZ_CHECK(line.find('=') == std::string_view::npos && !keyword(line));
      break;
    }
    TARVIK_FUZZ_CHECK(next < tokens.size());
    const LineToken& t = tokens[next++];
    TARVIK_FUZZ_CHECK(t.lineno == n);
    const std::size_t eq = line.find('=');
    if (eq != std::string_view::npos) {
      const std::string_view key = line.substr(0, eq);
      const std::string_view value = line.substr(eq + 1);
      TARVIK_FUZZ_CHECK(t.value == value && inside(t.value, text));
      if (key == "СекцияДокумент") {
        TARVIK_FUZZ_CHECK(t.kind == TokenKind::DocumentStart);
        TARVIK_FUZZ_CHECK(tarvik::keyword_text(t) == line);
      } else {
        TARVIK_FUZZ_CHECK(t.kind == TokenKind::Attribute);
        TARVIK_FUZZ_CHECK(t.key == key && inside(t.key, text));
        TARVIK_FUZZ_CHECK(t.key.data() == line.data() && t.value.data() == line.data() + eq + 1);
      }
    } else {
      const auto kind = keyword(line);
      TARVIK_FUZZ_CHECK(kind && t.kind == *kind);
      TARVIK_FUZZ_CHECK(tarvik::keyword_text(t) == line);
    }
  }
  TARVIK_FUZZ_CHECK(next == tokens.size());

  // The same bytes read as windows-1251: lexed in their own bytes, they must give the tokens of
  // the text decoded whole, once the tokens' texts are decoded.
  const auto room = std::make_unique<char[]>(tarvik::cp1251_room(text.size()));
  const char* const end = tarvik::decode_cp1251(text, room.get());
  const std::string_view utf8(room.get(), static_cast<std::size_t>(end - room.get()));
  tarvik::LineLexer whole_text(utf8);
  tarvik::LineLexer undecoded(text, tarvik::Encoding::Cp1251);
  for (;;) {
    LineToken a;
    LineToken b;
    const tarvik::LexStep sa = whole_text.next(a);
    const tarvik::LexStep sb = undecoded.next(b);
    TARVIK_FUZZ_CHECK(sa == sb);
    if (sa == tarvik::LexStep::End) {
      break;
    }
    TARVIK_FUZZ_CHECK(a.lineno == b.lineno && a.kind == b.kind);
    TARVIK_FUZZ_CHECK(a.key == tarvik::utf8_text(b.key, tarvik::Encoding::Cp1251));
    TARVIK_FUZZ_CHECK(a.value == tarvik::utf8_text(b.value, tarvik::Encoding::Cp1251));
    TARVIK_FUZZ_CHECK((b.key.empty() || inside(b.key, text)) &&
                      (b.value.empty() || inside(b.value, text)));
    if (sa == tarvik::LexStep::Unrecognized) {
      break;
    }
    TARVIK_FUZZ_CHECK(tarvik::keyword_text(a) == tarvik::keyword_text(b, tarvik::Encoding::Cp1251));
  }
  return 0;
}
