#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace tarvik {

// Where the reader was when a line did not fit; the names are what users see.
enum class ReaderContext : std::uint8_t {
  Header,
  Document,
  Account,
  Finished,
  Init,
  ReadNextSection,
};

// "header", "document", "account", "finished", "init" or "read_next_section".
std::string_view name(ReaderContext context) noexcept;

// Line numbers are 1-based over every physical line of the decoded text, blank ones included.
// For a problem found when a section closes, the line is the section's closing line.
struct UnexpectedSection {
  std::uint64_t lineno = 0;
  std::string found;  // the keyword line as written; for a document opening, with its type
  ReaderContext context = ReaderContext::Init;
  friend bool operator==(const UnexpectedSection&, const UnexpectedSection&) = default;
};

struct UnexpectedAttribute {
  std::uint64_t lineno = 0;
  std::string key;
  std::string value;
  friend bool operator==(const UnexpectedAttribute&, const UnexpectedAttribute&) = default;
};

struct UnrecognizedLine {
  std::uint64_t lineno = 0;
  std::string line;  // without its line terminator
  friend bool operator==(const UnrecognizedLine&, const UnrecognizedLine&) = default;
};

struct MissingField {
  std::uint64_t lineno = 0;
  std::string field;
  ReaderContext context = ReaderContext::Account;
  friend bool operator==(const MissingField&, const MissingField&) = default;
};

struct AccountParseError {
  std::uint64_t lineno = 0;
  std::string message;
  friend bool operator==(const AccountParseError&, const AccountParseError&) = default;
};

struct HookError {
  std::uint64_t lineno = 0;
  std::string message;
  friend bool operator==(const HookError&, const HookError&) = default;
};

using SyntaxDetail = std::variant<UnexpectedSection, UnexpectedAttribute, UnrecognizedLine,
                                  MissingField, AccountParseError, HookError>;

// The input is not a statement at all (empty input included).
struct NotStatement {
  friend bool operator==(NotStatement, NotStatement) = default;
};

// The input ended before "КонецФайла".
struct Unfinished {
  friend bool operator==(Unfinished, Unfinished) = default;
};

// The one failure a parse ends with.
using ParseFailure = std::variant<NotStatement, Unfinished, SyntaxDetail>;

// A problem that did not stop the parse: a dropped document or a hook's warning.
struct ParseWarning {
  std::uint64_t lineno = 0;
  std::string message;
  friend bool operator==(const ParseWarning&, const ParseWarning&) = default;
};

// The texts users see, e.g. "Unexpected section 'КонецФайла' in context 'header'".
std::string message(const SyntaxDetail& detail);
std::string message(const ParseFailure& failure);
std::uint64_t lineno(const SyntaxDetail& detail) noexcept;

// "missing field `<key>`", shared by the account and document builders.
std::string missing_field_message(std::string_view key);

}  // namespace tarvik
