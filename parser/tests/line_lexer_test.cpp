#include "line_lexer.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "fixtures.h"
#include "whole_text.h"

namespace tarvik {
namespace {

using testing::lex;

std::string render(const LineToken& t) {
  std::string out = std::to_string(t.lineno) + " ";
  switch (t.kind) {
    case TokenKind::FileStart:
      return out + "FileStart";
    case TokenKind::AccountStart:
      return out + "AccountStart";
    case TokenKind::AccountEnd:
      return out + "AccountEnd";
    case TokenKind::DocumentStart:
      return out + "DocumentStart [" + std::string(t.value) + "]";
    case TokenKind::DocumentEnd:
      return out + "DocumentEnd";
    case TokenKind::FileEnd:
      return out + "FileEnd";
    case TokenKind::Attribute:
      return out + "Attribute [" + std::string(t.key) + "]=[" + std::string(t.value) + "]";
  }
  return out + "?";
}

// The tokens one per string, or the one unrecognized line.
std::vector<std::string> render(const Result<std::vector<LineToken>, UnrecognizedLine>& r) {
  if (!r) {
    return {"unrecognized " + std::to_string(r.error().lineno) + " [" + r.error().line + "]"};
  }
  std::vector<std::string> out;
  for (const LineToken& t : r.value()) {
    out.push_back(render(t));
  }
  return out;
}

using Want = std::vector<std::string>;

struct Case {
  std::string_view what;
  std::string_view text;
  Want want;
};

void check(const Case& c) {
  SCOPED_TRACE(c.what);
  EXPECT_EQ(render(lex(c.text)), c.want);
}

TEST(Lex, ClassifiesEachKeywordExactly) {
  const Case cases[] = {
      {"empty text", "", {}},
      {"every keyword",
       "1CClientBankExchange\r\nСекцияРасчСчет\r\nКонецРасчСчет\r\n"
       "СекцияДокумент=Платежное поручение\r\nКонецДокумента\r\nКонецФайла\r\n",
       {"1 FileStart", "2 AccountStart", "3 AccountEnd", "4 DocumentStart [Платежное поручение]",
        "5 DocumentEnd", "6 FileEnd"}},
      {"final line without a line feed", "1CClientBankExchange", {"1 FileStart"}},
      {"lower case keyword", "конецфайла", {"unrecognized 1 [конецфайла]"}},
      {"upper case keyword", "КОНЕЦФАЙЛА", {"unrecognized 1 [КОНЕЦФАЙЛА]"}},
      {"lower case marker", "1cclientbankexchange", {"unrecognized 1 [1cclientbankexchange]"}},
      {"leading space", " КонецФайла", {"unrecognized 1 [ КонецФайла]"}},
      {"trailing space", "КонецРасчСчет \r\n", {"unrecognized 1 [КонецРасчСчет ]"}},
      {"trailing tab", "КонецДокумента\t\n", {"unrecognized 1 [КонецДокумента\t]"}},
      {"marker behind a byte-order mark",
       "\xEF\xBB\xBF"
       "1CClientBankExchange",
       {"unrecognized 1 [\xEF\xBB\xBF"
        "1CClientBankExchange]"}},
      {"document keyword without equals sign",
       "СекцияДокумент\r\n",
       {"unrecognized 1 [СекцияДокумент]"}},
      {"free text", "wrong format", {"unrecognized 1 [wrong format]"}},
  };
  for (const Case& c : cases) {
    check(c);
  }
}

TEST(Lex, SplitsAttributesAtTheFirstEqualsSign) {
  const Case cases[] = {
      {"plain", "Номер=12", {"1 Attribute [Номер]=[12]"}},
      {"empty key", "=Значение", {"1 Attribute []=[Значение]"}},
      {"empty value", "Номер=", {"1 Attribute [Номер]=[]"}},
      {"equals sign alone", "=", {"1 Attribute []=[]"}},
      {"second equals sign stays in the value", "k=a=b", {"1 Attribute [k]=[a=b]"}},
      {"two equals signs in a row", "k==", {"1 Attribute [k]=[=]"}},
      {"spaces around the equals sign are kept",
       "РасчСчет = 4070",
       {"1 Attribute [РасчСчет ]=[ 4070]"}},
      {"leading space in a value",
       "ПлательщикБанк1= Банк ГПБ (АО)",
       {"1 Attribute [ПлательщикБанк1]=[ Банк ГПБ (АО)]"}},
      {"white space key", "\t=\t", {"1 Attribute [\t]=[\t]"}},
      {"keyword with an equals sign is an attribute",
       "КонецФайла=",
       {"1 Attribute [КонецФайла]=[]"}},
      {"account keyword with a value is an attribute",
       "СекцияРасчСчет=1",
       {"1 Attribute [СекцияРасчСчет]=[1]"}},
      {"document opening with empty type", "СекцияДокумент=", {"1 DocumentStart []"}},
      {"document opening whose type has an equals sign",
       "СекцияДокумент==x",
       {"1 DocumentStart [=x]"}},
      {"document key with a space before equals is an attribute",
       "СекцияДокумент =x",
       {"1 Attribute [СекцияДокумент ]=[x]"}},
      {"document key with a leading space is an attribute",
       " СекцияДокумент=x",
       {"1 Attribute [ СекцияДокумент]=[x]"}},
      {"document key in lower case is an attribute",
       "секциядокумент=x",
       {"1 Attribute [секциядокумент]=[x]"}},
  };
  for (const Case& c : cases) {
    check(c);
  }
}

TEST(Lex, EndsLinesAtLineFeedsAndOneCarriageReturnBeforeThem) {
  const Case cases[] = {
      {"CR LF and LF mixed",
       "a=1\r\nb=2\nc=3\r\nКонецФайла\n",
       {"1 Attribute [a]=[1]", "2 Attribute [b]=[2]", "3 Attribute [c]=[3]", "4 FileEnd"}},
      {"keyword with two carriage returns keeps one",
       "КонецФайла\r\r\n",
       {"unrecognized 1 [КонецФайла\r]"}},
      {"value with two carriage returns keeps one",
       "a=1\r\r\nb=2\r\n",
       {"1 Attribute [a]=[1\r]", "2 Attribute [b]=[2]"}},
      {"lone carriage return does not end a line",
       "a=1\rb=2\nКонецФайла",
       {"1 Attribute [a]=[1\rb=2]", "2 FileEnd"}},
      {"final keyword with a carriage return and no line feed",
       "КонецФайла\r",
       {"unrecognized 1 [КонецФайла\r]"}},
      {"final attribute with a carriage return and no line feed",
       "a=b\r",
       {"1 Attribute [a]=[b\r]"}},
      {"final line feed adds no line", "a=1\n", {"1 Attribute [a]=[1]"}},
      {"leading empty lines are counted", "\n\r\nКонецФайла", {"3 FileEnd"}},
      {"trailing empty lines are skipped", "КонецФайла\r\n\r\n\n", {"1 FileEnd"}},
  };
  for (const Case& c : cases) {
    check(c);
  }
}

TEST(Lex, SkipsWhiteSpaceLinesButCountsThem) {
  const Case cases[] = {
      {"spaces, tabs, no-break and ideographic spaces",
       "1CClientBankExchange\r\n\r\n   \r\n\t\t\r\n\xC2\xA0\r\n\xE3\x80\x80\r\n"
       " \t\xC2\xA0\xE3\x80\x80 \r\nКонецФайла\r\n",
       {"1 FileStart", "8 FileEnd"}},
      {"a lone carriage return before the line feed", "\r\r\nКонецФайла", {"2 FileEnd"}},
      {"vertical tab and form feed", "\v\f\nКонецФайла", {"2 FileEnd"}},
      {"next line U+0085", "\xC2\x85\nКонецФайла", {"2 FileEnd"}},
      {"ogham space U+1680", "\xE1\x9A\x80\nКонецФайла", {"2 FileEnd"}},
      {"en quad U+2000 to hair space U+200A",
       "\xE2\x80\x80\xE2\x80\x85\xE2\x80\x8A\nКонецФайла",
       {"2 FileEnd"}},
      {"line and paragraph separators", "\xE2\x80\xA8\xE2\x80\xA9\nКонецФайла", {"2 FileEnd"}},
      {"narrow no-break and medium mathematical spaces",
       "\xE2\x80\xAF\xE2\x81\x9F\nКонецФайла",
       {"2 FileEnd"}},
      {"zero width space is not white space",
       "\xE2\x80\x8B\nКонецФайла",
       {"unrecognized 1 [\xE2\x80\x8B]"}},
      {"byte-order mark is not white space",
       "\xEF\xBB\xBF\r\nКонецФайла",
       {"unrecognized 1 [\xEF\xBB\xBF]"}},
      {"white space before a keyword is kept",
       "\xC2\xA0КонецФайла",
       {"unrecognized 1 [\xC2\xA0КонецФайла]"}},
  };
  for (const Case& c : cases) {
    check(c);
  }
}

TEST(Lex, StopsAtTheFirstUnrecognizedLine) {
  const Case cases[] = {
      {"after good lines", "a=1\r\nbad\r\nalso bad\r\n", {"unrecognized 2 [bad]"}},
      {"after the end of file",
       "1CClientBankExchange\r\nКонецФайла\r\n\r\nhello\r\n",
       {"unrecognized 4 [hello]"}},
      {"line number counts blank lines", "\r\n \r\n\t\r\nbad", {"unrecognized 4 [bad]"}},
  };
  for (const Case& c : cases) {
    check(c);
  }
}

TEST(Lex, TokensPointIntoTheText) {
  const std::string text = "k=v\r\nСекцияДокумент=Тип\r\n=\r\n";
  const auto tokens = lex(text);
  ASSERT_TRUE(tokens);
  const auto inside = [&](std::string_view part) {
    return std::less_equal<>()(text.data(), part.data()) &&
           std::less_equal<>()(part.data() + part.size(), text.data() + text.size());
  };
  for (const LineToken& t : tokens.value()) {
    SCOPED_TRACE(render(t));
    if (!t.value.empty()) {
      EXPECT_TRUE(inside(t.value));
    }
    if (t.kind == TokenKind::Attribute && !t.key.empty()) {
      EXPECT_TRUE(inside(t.key));
    }
  }
}

TEST(LineLexerNext, ReportsUnrecognizedLinesAndGoesOn) {
  const std::string text = "a=1\r\nbad one\r\n\r\nКонецФайла\r\nbad two\nb=2";
  LineLexer lexer(text);
  LineToken t;
  ASSERT_EQ(lexer.next(t), LexStep::Token);
  EXPECT_EQ(render(t), "1 Attribute [a]=[1]");
  ASSERT_EQ(lexer.next(t), LexStep::Unrecognized);
  EXPECT_EQ(t.lineno, 2U);
  EXPECT_EQ(t.value, "bad one");
  ASSERT_EQ(lexer.next(t), LexStep::Token);
  EXPECT_EQ(render(t), "4 FileEnd");
  ASSERT_EQ(lexer.next(t), LexStep::Unrecognized);
  EXPECT_EQ(t.lineno, 5U);
  EXPECT_EQ(t.value, "bad two");
  ASSERT_EQ(lexer.next(t), LexStep::Token);
  EXPECT_EQ(render(t), "6 Attribute [b]=[2]");
  EXPECT_EQ(lexer.next(t), LexStep::End);
}

TEST(KeywordText, IsTheKeywordOrTheDocumentOpeningWithItsType) {
  const struct {
    std::string_view line;
    std::string_view want;
  } cases[] = {
      {"1CClientBankExchange", "1CClientBankExchange"},
      {"СекцияРасчСчет", "СекцияРасчСчет"},
      {"КонецРасчСчет", "КонецРасчСчет"},
      {"СекцияДокумент=Платежное поручение", "СекцияДокумент=Платежное поручение"},
      {"СекцияДокумент=", "СекцияДокумент="},
      {"СекцияДокумент= тип = с пробелами ", "СекцияДокумент= тип = с пробелами "},
      {"КонецДокумента", "КонецДокумента"},
      {"КонецФайла", "КонецФайла"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const auto tokens = lex(c.line);
    ASSERT_TRUE(tokens);
    ASSERT_EQ(tokens.value().size(), 1U);
    EXPECT_EQ(keyword_text(tokens.value()[0]), c.want);
  }
}

// windows-1251 is lexed in its own bytes: the same lines, kinds and numbers as its UTF-8 form,
// with the texts still undecoded.
TEST(Lex, ReadsWindows1251InItsOwnBytes) {
  const std::string_view texts[] = {
      "1CClientBankExchange\r\nСекцияДокумент=Платёжное «поручение»\r\nНомер=№ 5\r\n"
      "КонецДокумента\r\nКонецФайла\r\n",
      "\u00a0\u00a0\r\n\t\nСекцияРасчСчет\nКонецРасчСчет\n\u00a0КонецРасчСчет\n",
      "СекцияДокумент\nКонецФайла",
      "Ключ — значение\n",
      "=\n\r\nКонецФайла\r\r\n",
  };
  for (const std::string_view text : texts) {
    SCOPED_TRACE(text);
    const std::string cp1251 = testing::to_cp1251(text);
    LineLexer utf8(text);
    LineLexer undecoded(cp1251, Encoding::Cp1251);
    for (;;) {
      LineToken want;
      LineToken got;
      const LexStep step = utf8.next(want);
      ASSERT_EQ(undecoded.next(got), step);
      if (step == LexStep::End) {
        break;
      }
      EXPECT_EQ(got.lineno, want.lineno);
      EXPECT_EQ(got.kind, want.kind);
      EXPECT_EQ(got.key, testing::to_cp1251(want.key));
      EXPECT_EQ(got.value, testing::to_cp1251(want.value));
      EXPECT_EQ(keyword_text(got, Encoding::Cp1251), keyword_text(want));
      if (step == LexStep::Unrecognized) {
        EXPECT_FALSE(is_recognized(got.value, Encoding::Cp1251));
        break;
      }
    }
  }
}

}  // namespace
}  // namespace tarvik
