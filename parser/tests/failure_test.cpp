#include "failure.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace tarvik {
namespace {

constexpr ReaderContext kAllContexts[] = {
    ReaderContext::Header,   ReaderContext::Document, ReaderContext::Account,
    ReaderContext::Finished, ReaderContext::Init,     ReaderContext::ReadNextSection,
};

TEST(ReaderContextName, IsTheFixedLowerCaseName) {
  const struct {
    ReaderContext context;
    std::string_view want;
  } cases[] = {
      {ReaderContext::Header, "header"},   {ReaderContext::Document, "document"},
      {ReaderContext::Account, "account"}, {ReaderContext::Finished, "finished"},
      {ReaderContext::Init, "init"},       {ReaderContext::ReadNextSection, "read_next_section"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.want);
    EXPECT_EQ(name(c.context), c.want);
  }
}

TEST(SyntaxDetailMessage, ConcatenatesFixedPiecesAndFieldsVerbatim) {
  const struct {
    std::string_view what;
    SyntaxDetail detail;
    std::string_view want;
  } cases[] = {
      {"keyword after the header", UnexpectedSection{3, "КонецФайла", ReaderContext::Header},
       "Unexpected section 'КонецФайла' in context 'header'"},
      {"document opening keeps its type",
       UnexpectedSection{9, "СекцияДокумент=Платежное поручение", ReaderContext::Finished},
       "Unexpected section 'СекцияДокумент=Платежное поручение' in context 'finished'"},
      {"document opening with an empty type",
       UnexpectedSection{9, "СекцияДокумент=", ReaderContext::Account},
       "Unexpected section 'СекцияДокумент=' in context 'account'"},
      {"attribute", UnexpectedAttribute{4, "Номер", "12"}, "Unexpected attribute 'Номер' = '12'"},
      {"attribute with empty key and value", UnexpectedAttribute{4, "", ""},
       "Unexpected attribute '' = ''"},
      {"attribute with apostrophes and spaces", UnexpectedAttribute{4, " it's ", "'a' = 'b'"},
       "Unexpected attribute ' it's ' = ''a' = 'b''"},
      {"attribute value holding an equals sign", UnexpectedAttribute{4, "k", "a=b"},
       "Unexpected attribute 'k' = 'a=b'"},
      {"unrecognized line", UnrecognizedLine{7, "СекцияДокумент"},
       "Unrecognized line: 'СекцияДокумент'"},
      {"unrecognized line with apostrophes", UnrecognizedLine{7, "don't 'quote' ''"},
       "Unrecognized line: 'don't 'quote' '''"},
      {"unrecognized line keeps a stray carriage return", UnrecognizedLine{7, "КонецФайла\r"},
       "Unrecognized line: 'КонецФайла\r'"},
      {"unrecognized empty-looking line", UnrecognizedLine{7, "\xE2\x80\x8B"},
       "Unrecognized line: '\xE2\x80\x8B'"},
      {"missing account number", MissingField{12, "РасчСчет", ReaderContext::Account},
       "Missing field 'РасчСчет' in context 'account'"},
      {"missing field with empty name", MissingField{12, "", ReaderContext::Document},
       "Missing field '' in context 'document'"},
      {"account parse error", AccountParseError{12, "input contains invalid characters"},
       "Account parse error: input contains invalid characters"},
      {"account parse error for a missing key", AccountParseError{12, "missing field `ДатаНачала`"},
       "Account parse error: missing field `ДатаНачала`"},
      {"account parse error with an amount text",
       AccountParseError{12,
                         "invalid value: string \"\", expected a Decimal type representing a "
                         "fixed-point number"},
       "Account parse error: invalid value: string \"\", expected a Decimal type representing a "
       "fixed-point number"},
      {"hook error", HookError{30, "ValueError: it's 'bad'"}, "Hook error: ValueError: it's 'bad'"},
      {"hook error with empty message", HookError{30, ""}, "Hook error: "},
      {"hook error keeps line breaks", HookError{30, "a\nb\r\n"}, "Hook error: a\nb\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(message(c.detail), c.want);
    // The same text whether the detail stands alone or inside a failure.
    EXPECT_EQ(message(ParseFailure{c.detail}), c.want);
  }
}

TEST(SyntaxDetailMessage, NamesEveryContextNeverAKeyword) {
  const std::string_view names[] = {"header",   "document", "account",
                                    "finished", "init",     "read_next_section"};
  for (std::size_t i = 0; i < std::size(kAllContexts); ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(message(SyntaxDetail{UnexpectedSection{1, "КонецРасчСчет", kAllContexts[i]}}),
              "Unexpected section 'КонецРасчСчет' in context '" + std::string(names[i]) + "'");
    EXPECT_EQ(message(SyntaxDetail{MissingField{1, "РасчСчет", kAllContexts[i]}}),
              "Missing field 'РасчСчет' in context '" + std::string(names[i]) + "'");
  }
}

TEST(ParseFailureMessage, DatalessKindsHaveFixedTexts) {
  const struct {
    std::string_view what;
    ParseFailure failure;
    std::string_view want;
  } cases[] = {
      {"not a statement", NotStatement{}, "Input is not a 1C statement"},
      {"unfinished", Unfinished{}, "Statement is not finished"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(message(c.failure), c.want);
  }
}

TEST(SyntaxDetailLineno, IsTheLineOfEveryVariant) {
  const struct {
    std::string_view what;
    SyntaxDetail detail;
    std::uint64_t want;
  } cases[] = {
      {"unexpected section", UnexpectedSection{1, "x", ReaderContext::Init}, 1},
      {"unexpected attribute", UnexpectedAttribute{2, "k", "v"}, 2},
      {"unrecognized line", UnrecognizedLine{3, "x"}, 3},
      {"missing field", MissingField{4, "x", ReaderContext::Account}, 4},
      {"account parse error", AccountParseError{5, "x"}, 5},
      {"hook error", HookError{6, "x"}, 6},
      {"beyond 32 bits", HookError{std::uint64_t{1} << 40, "x"}, std::uint64_t{1} << 40},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(lineno(c.detail), c.want);
  }
}

TEST(MissingFieldMessage, WrapsTheKeyInBackquotes) {
  const struct {
    std::string_view key;
    std::string_view want;
  } cases[] = {
      {"Номер", "missing field `Номер`"},
      {"ПлательщикБИК", "missing field `ПлательщикБИК`"},
      {"", "missing field ``"},
      {"a b'", "missing field `a b'`"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(missing_field_message(c.key), c.want);
  }
}

}  // namespace
}  // namespace tarvik
