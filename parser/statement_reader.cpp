#include "statement_reader.h"

#include <optional>

#include "account_builder.h"
#include "document_builder.h"
#include "hook_adapter.h"
#include "line_check.h"
#include "line_lexer.h"

namespace tarvik {

namespace {

ReaderContext context_of(ReaderState state) noexcept {
  switch (state) {
    case ReaderState::Init:
      return ReaderContext::Init;
    case ReaderState::Header:
      return ReaderContext::Header;
    case ReaderState::Account:
      return ReaderContext::Account;
    case ReaderState::Document:
      return ReaderContext::Document;
    case ReaderState::ReadNextSection:
      return ReaderContext::ReadNextSection;
    case ReaderState::Finished:
      return ReaderContext::Finished;
  }
  return ReaderContext::Init;
}

// One parse's walk through the tokens. A section's attribute lines are gathered as views into the
// text and nothing is copied until a record is built; hooks see and change it through the
// adapter, which hands them an AttrMap and points the lines at what they left.
class Reader {
 public:
  Reader(Encoding encoding, std::span<SectionHook* const> hooks) : hooks_(hooks) {
    statement_.encoding = encoding;
  }

  // A failure ends the walk; the tokens after it are not looked at.
  std::optional<ParseFailure> step(const LineToken& token) {
    switch (state_) {
      case ReaderState::Init:
        switch (token.kind) {
          case TokenKind::FileStart:
            state_ = ReaderState::Header;
            return std::nullopt;
          case TokenKind::Attribute:
            return unexpected_attribute(token);
          case TokenKind::AccountStart:
          case TokenKind::AccountEnd:
          case TokenKind::DocumentStart:
          case TokenKind::DocumentEnd:
          case TokenKind::FileEnd:
            return unexpected_section(token);
        }
        break;
      case ReaderState::Header:
        switch (token.kind) {
          case TokenKind::AccountStart:
            open_account();
            return std::nullopt;
          case TokenKind::DocumentStart:
            open_document(token);
            return std::nullopt;
          case TokenKind::Attribute:
            statement_.header.insert(token.key, token.value);
            return std::nullopt;
          case TokenKind::FileStart:
          case TokenKind::AccountEnd:
          case TokenKind::DocumentEnd:
          case TokenKind::FileEnd:
            return unexpected_section(token);
        }
        break;
      case ReaderState::Account:
        switch (token.kind) {
          case TokenKind::AccountEnd:
            return close_account(token.lineno);
          case TokenKind::Attribute:
            collect(token);
            return std::nullopt;
          case TokenKind::FileStart:
          case TokenKind::AccountStart:
          case TokenKind::DocumentStart:
          case TokenKind::DocumentEnd:
          case TokenKind::FileEnd:
            return unexpected_section(token);
        }
        break;
      case ReaderState::Document:
        switch (token.kind) {
          case TokenKind::DocumentEnd:
            return close_document(token.lineno);
          case TokenKind::Attribute:
            collect(token);
            return std::nullopt;
          case TokenKind::FileStart:
          case TokenKind::AccountStart:
          case TokenKind::AccountEnd:
          case TokenKind::DocumentStart:
          case TokenKind::FileEnd:
            return unexpected_section(token);
        }
        break;
      case ReaderState::ReadNextSection:
        switch (token.kind) {
          case TokenKind::AccountStart:
            open_account();
            return std::nullopt;
          case TokenKind::DocumentStart:
            open_document(token);
            return std::nullopt;
          case TokenKind::FileEnd:
            state_ = ReaderState::Finished;
            return std::nullopt;
          case TokenKind::Attribute:
            return unexpected_attribute(token);
          case TokenKind::FileStart:
          case TokenKind::AccountEnd:
          case TokenKind::DocumentEnd:
            return unexpected_section(token);
        }
        break;
      case ReaderState::Finished:
        switch (token.kind) {
          case TokenKind::Attribute:
            return unexpected_attribute(token);
          case TokenKind::FileStart:
          case TokenKind::AccountStart:
          case TokenKind::AccountEnd:
          case TokenKind::DocumentStart:
          case TokenKind::DocumentEnd:
          case TokenKind::FileEnd:
            return unexpected_section(token);
        }
        break;
    }
    return std::nullopt;
  }

  // Whether tokens seen so far are still looked at: only an open section keeps views of them.
  bool holds_tokens() const noexcept {
    return state_ == ReaderState::Account || state_ == ReaderState::Document;
  }

  Result<Statement, ParseFailure> finish() && {
    if (state_ != ReaderState::Finished) {
      return Err{ParseFailure{Unfinished{}}};
    }
    statement_.accounts = std::move(book_).release();
    return std::move(statement_);
  }

 private:
  ParseFailure unexpected_section(const LineToken& token) const {
    return SyntaxDetail{UnexpectedSection{token.lineno, keyword_text(token), context_of(state_)}};
  }

  static ParseFailure unexpected_attribute(const LineToken& token) {
    return SyntaxDetail{
        UnexpectedAttribute{token.lineno, std::string(token.key), std::string(token.value)}};
  }

  void open_account() {
    state_ = ReaderState::Account;
    lines_.clear();
  }

  void open_document(const LineToken& token) {
    state_ = ReaderState::Document;
    document_type_ = token.value;
    document_line_ = token.lineno;
    lines_.clear();
  }

  // An attribute line of the open section.
  void collect(const LineToken& token) { lines_.push_back(Attribute{token.key, token.value}); }

  // Runs the hooks over the closing section, through the adapter. Returns the failure that ends
  // the parse, if a hook failed; otherwise `build` tells whether the section is built (a hook's
  // warning drops it).
  std::optional<ParseFailure> hooks_say(SectionType type, std::uint64_t lineno, bool& build) {
    build = true;
    if (hooks_.empty()) {
      return std::nullopt;
    }
    HookOutcome outcome = run_hooks(hooks_, type, lines_, statement_.header, hooked_);
    switch (outcome.kind) {
      case HookOutcome::Kind::Continue:
        break;
      case HookOutcome::Kind::Warn:
        statement_.warnings.push_back(ParseWarning{lineno, std::move(outcome.message)});
        build = false;
        break;
      case HookOutcome::Kind::Fail:
        return SyntaxDetail{HookError{lineno, std::move(outcome.message)}};
    }
    return std::nullopt;
  }

  // The section's values by key rank; a key that comes again gives its last value.
  template <class Values, int (*kRank)(std::string_view) noexcept>
  Values values_by_rank() const noexcept {
    Values values;
    for (const Attribute& line : lines_) {
      if (const int r = kRank(line.key); r >= 0) {
        values[static_cast<std::size_t>(r)] = line.value;
      }
    }
    return values;
  }

  std::optional<ParseFailure> close_account(std::uint64_t lineno) {
    state_ = ReaderState::ReadNextSection;
    bool build = true;
    if (auto failure = hooks_say(SectionType::Account, lineno, build); failure || !build) {
      return failure;
    }
    auto recorded =
        record_interval(values_by_rank<AccountValues, account_key_rank>(), book_, lineno);
    if (!recorded) {
      return ParseFailure{std::move(recorded).error()};
    }
    return std::nullopt;
  }

  std::optional<ParseFailure> close_document(std::uint64_t lineno) {
    state_ = ReaderState::ReadNextSection;
    bool build = true;
    if (auto failure = hooks_say(SectionType::Document, lineno, build); failure || !build) {
      return failure;
    }
    auto built =
        build_document(values_by_rank<DocumentValues, document_key_rank>(), document_type_);
    if (built) {
      built.value().lineno = document_line_;
      statement_.documents.push_back(std::move(built).value());
    } else {
      statement_.warnings.push_back(ParseWarning{lineno, std::move(built).error()});
    }
    return std::nullopt;
  }

  ReaderState state_ = ReaderState::Init;
  std::span<SectionHook* const> hooks_;
  Statement statement_;
  AccountBook book_;
  std::vector<Attribute> lines_;  // of the open section
  AttrMap hooked_;                // the open section as the hooks left it; `lines_` may view it
  std::string_view document_type_;
  std::uint64_t document_line_ = 0;
};

ParseFailure unrecognized(const LineToken& token) {
  return SyntaxDetail{UnrecognizedLine{token.lineno, std::string(token.value)}};
}

}  // namespace

Result<Statement, ParseFailure> read(std::string_view text, Encoding encoding,
                                     std::span<SectionHook* const> hooks) {
  // Hooks are calls out to the caller, so they must not run for a text that a later line makes
  // unreadable; without hooks the reader has no visible effects and the check can wait until it
  // is needed.
  if (!hooks.empty()) {
    if (auto bad = first_unrecognized_line(text, encoding)) {
      return Err{ParseFailure{SyntaxDetail{std::move(*bad)}}};
    }
  }
  Reader reader(encoding, hooks);
  LineLexer lexer(text, encoding);
  LineToken token;
  for (;;) {
    switch (lexer.next(token)) {
      case LexStep::End:
        return std::move(reader).finish();
      case LexStep::Unrecognized:
        return Err{unrecognized(token)};
      case LexStep::Token:
        if (auto failure = reader.step(token)) {
          // An unreadable line further on wins; every line before this one was read.
          if (auto bad = first_unrecognized_line(text, encoding)) {
            return Err{ParseFailure{SyntaxDetail{std::move(*bad)}}};
          }
          return Err{std::move(*failure)};
        }
        if (!reader.holds_tokens()) {
          lexer.release();
        }
        break;
    }
  }
}

}  // namespace tarvik
