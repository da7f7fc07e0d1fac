#include "statement_reader.h"

#include <algorithm>
#include <optional>

#include "account_builder.h"
#include "document_builder.h"
#include "input_decoding.h"
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
// text, in its bytes, and nothing is copied or decoded until a record is built; hooks see and
// change the section through its Section, in its lines or as a map, and the records are built
// from what they left.
class Reader {
 public:
  Reader(Encoding encoding, std::span<SectionHook* const> hooks)
      : hooks_(hooks), encoding_(encoding), values_encoding_(encoding) {
    statement_.encoding = encoding;
    lenient_ =
        std::any_of(hooks.begin(), hooks.end(), [](const SectionHook* h) { return h->lenient(); });
  }

  bool lenient() const noexcept { return lenient_; }

  // A line that fits no line form; only a lenient reading goes on after one.
  std::optional<ParseFailure> unrecognized(const LineToken& token) {
    const std::string_view line = token.value;
    if (state_ == ReaderState::Init && is_misspelt_marker(line)) {
      report(DamageKind::MisspeltMarker, token.lineno, line);
      state_ = ReaderState::Header;
      return std::nullopt;
    }
    if (is_bare_document_opening(line, encoding_)) {
      report(DamageKind::BareSection, token.lineno, line);
      // Taken as the opening line with nothing after its "=", from its end.
      const LineToken opening{token.lineno, TokenKind::DocumentStart, {}, line.substr(line.size())};
      bare_line_ = line;
      auto failure = step(opening);
      bare_line_ = {};
      return failure;
    }
    TokenKind kind = TokenKind::Attribute;
    if (state_ != ReaderState::Finished && is_keyword_in_other_encoding(line, encoding_, kind)) {
      report(DamageKind::KeywordEncoding, token.lineno, line);
      bare_line_ = line;
      auto failure = step(LineToken{token.lineno, kind, {}, line.substr(line.size())});
      bare_line_ = {};
      return failure;
    }
    report(state_ == ReaderState::Finished ? DamageKind::AfterEnd : DamageKind::NotKeyValue,
           token.lineno, line);
    return std::nullopt;
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
            if (lenient_ && is_misspelt_marker(line_of(token))) {
              report(DamageKind::MisspeltMarker, token.lineno, line_of(token));
              state_ = ReaderState::Header;
              return std::nullopt;
            }
            return unexpected_attribute(token);
          case TokenKind::AccountStart:
          case TokenKind::DocumentStart:
            // A fragment cut from a statement: its sections read as if the marker stood before.
            if (lenient_) {
              report(DamageKind::NoMarker, token.lineno, line_of(token));
              state_ = ReaderState::Header;
              return step(token);
            }
            return unexpected_section(token);
          case TokenKind::AccountEnd:
          case TokenKind::DocumentEnd:
          case TokenKind::FileEnd:
            return unexpected_section(token);
        }
        break;
      case ReaderState::Header:
        switch (token.kind) {
          case TokenKind::AccountStart:
            end_header();
            open_account(token);
            return std::nullopt;
          case TokenKind::DocumentStart:
            end_header();
            open_document(token);
            return std::nullopt;
          case TokenKind::Attribute:
            statement_.header.insert(as_utf8(token.key, encoding_, key_text_),
                                     as_utf8(token.value, encoding_, value_text_));
            if (!hooks_.empty()) {
              header_lines_.push_back(attribute(token.key, token.value, token.lineno));
            }
            return std::nullopt;
          case TokenKind::FileStart:
          case TokenKind::AccountEnd:
          case TokenKind::DocumentEnd:
          case TokenKind::FileEnd:
            return refused(token);
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
          case TokenKind::DocumentEnd:
            return refused(token);  // a stray marker or end, where a lenient reading skips it
          case TokenKind::AccountStart:
          case TokenKind::DocumentStart:
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
          case TokenKind::AccountEnd:
            return refused(token);  // a stray marker or end, where a lenient reading skips it
          case TokenKind::AccountStart:
          case TokenKind::DocumentStart:
          case TokenKind::FileEnd:
            return unexpected_section(token);
        }
        break;
      case ReaderState::ReadNextSection:
        switch (token.kind) {
          case TokenKind::AccountStart:
            open_account(token);
            return std::nullopt;
          case TokenKind::DocumentStart:
            open_document(token);
            return std::nullopt;
          case TokenKind::FileEnd:
            state_ = ReaderState::Finished;
            return std::nullopt;
          case TokenKind::Attribute:
            if (lenient_) {
              late_header(token);
              return std::nullopt;
            }
            return unexpected_attribute(token);
          case TokenKind::FileStart:
          case TokenKind::AccountEnd:
          case TokenKind::DocumentEnd:
            return refused(token);
        }
        break;
      case ReaderState::Finished:
        switch (token.kind) {
          case TokenKind::Attribute:
          case TokenKind::FileStart:
          case TokenKind::AccountStart:
          case TokenKind::AccountEnd:
          case TokenKind::DocumentStart:
          case TokenKind::DocumentEnd:
          case TokenKind::FileEnd:
            return refused(token);
        }
        break;
    }
    return std::nullopt;
  }

  Result<Statement, ParseFailure> finish() && {
    if (state_ != ReaderState::Finished) {
      return Err{ParseFailure{Unfinished{}}};
    }
    statement_.accounts = std::move(book_).release();
    return std::move(statement_);
  }

 private:
  // The line the token stands for, as written: an opening line without its "=" where it was one.
  std::string_view line_of(const LineToken& token) const noexcept {
    return bare_line_.data() != nullptr ? bare_line_ : line_text(token, encoding_);
  }

  void report(DamageKind kind, std::uint64_t lineno, std::string_view line,
              std::string_view message = {}) {
    const Damage damage{kind, lineno, line, encoding_, message};
    for (SectionHook* hook : hooks_) {
      hook->damage(damage);
    }
  }

  // A token that the state does not take: a failure, or in a lenient reading, where a person
  // would see damage around intact records, a line skipped.
  std::optional<ParseFailure> refused(const LineToken& token) {
    if (lenient_) {
      std::optional<DamageKind> skipped;
      if (state_ == ReaderState::Finished) {
        skipped = DamageKind::AfterEnd;
      } else if (token.kind == TokenKind::FileStart) {
        skipped = DamageKind::RepeatedMarker;
      } else if (token.kind == TokenKind::AccountEnd || token.kind == TokenKind::DocumentEnd) {
        skipped = DamageKind::UnmatchedEnd;
      }
      if (skipped) {
        report(*skipped, token.lineno, line_of(token));
        return std::nullopt;
      }
    }
    return token.kind == TokenKind::Attribute ? unexpected_attribute(token)
                                              : unexpected_section(token);
  }

  // A key=value line between sections, taken into the header where the header lacks its key:
  // a late line adds to the header and never changes a value the header gave.
  void late_header(const LineToken& token) {
    const std::string_view key = as_utf8(token.key, encoding_, key_text_);
    const std::string_view value = as_utf8(token.value, encoding_, value_text_);
    const auto* given = statement_.header.find(key);
    if (given == nullptr) {
      statement_.header.insert(key, value);
    }
    const bool repeat = given != nullptr && std::string_view(*given) != value;
    report(repeat ? DamageKind::LateRepeat : DamageKind::LateHeader, token.lineno, line_of(token));
  }

  ParseFailure unexpected_section(const LineToken& token) const {
    return SyntaxDetail{
        UnexpectedSection{token.lineno, keyword_text(token, encoding_), context_of(state_)}};
  }

  ParseFailure unexpected_attribute(const LineToken& token) const {
    return SyntaxDetail{UnexpectedAttribute{token.lineno, utf8_text(token.key, encoding_),
                                            utf8_text(token.value, encoding_)}};
  }

  // The hooks learn the header's lines as read once it is complete, when the first section opens.
  void end_header() {
    for (SectionHook* hook : hooks_) {
      hook->header(header_lines_, encoding_);
    }
    header_lines_ = {};
  }

  void open_account(const LineToken& token) {
    state_ = ReaderState::Account;
    section_.open(SectionType::Account, token.lineno, encoding_);
  }

  void open_document(const LineToken& token) {
    state_ = ReaderState::Document;
    document_type_ = token.value;
    section_.open(SectionType::Document, token.lineno, encoding_);
  }

  // An attribute line of the open section.
  void collect(const LineToken& token) {
    section_.add(attribute(token.key, token.value, token.lineno));
  }

  // Runs the hooks over the closing section, through the adapter. Returns the failure that ends
  // the parse, if a hook failed; otherwise `build` tells whether the section is built (a hook's
  // warning drops it). `values_encoding_` says what the section's values are in from then on.
  std::optional<ParseFailure> hooks_say(SectionType type, std::uint64_t lineno, bool& build) {
    build = true;
    values_encoding_ = encoding_;
    section_.close(lineno);
    if (hooks_.empty()) {
      return std::nullopt;
    }
    HookOutcome outcome = run_hooks(section_, statement_.header);
    switch (outcome.kind) {
      case HookOutcome::Kind::Continue:
        values_encoding_ = section_.encoding();
        if (type == SectionType::Document && values_encoding_ != encoding_) {
          // The type goes with the values into one builder, so it is made UTF-8 like them.
          document_type_ = as_utf8(document_type_, encoding_, value_text_);
        }
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
  template <class Values, int (*kRank)(std::string_view, Encoding) noexcept>
  Values values_by_rank() {
    Values values;
    for (const SectionLine& line : section_.lines()) {
      if (const int r = kRank(view(line.key), values_encoding_); r >= 0) {
        values[static_cast<std::size_t>(r)] = view(line.value);
      }
    }
    return values;
  }

  // Runs the hooks in order until one does not let the section pass.
  HookOutcome run_hooks(Section& section, const AttrMap& header) {
    for (SectionHook* hook : hooks_) {
      HookOutcome outcome = hook->on_section(section, header);
      if (outcome.kind != HookOutcome::Kind::Continue) {
        return outcome;
      }
    }
    return HookOutcome::proceed();
  }

  std::optional<ParseFailure> close_account(std::uint64_t lineno) {
    state_ = ReaderState::ReadNextSection;
    bool build = true;
    if (auto failure = hooks_say(SectionType::Account, lineno, build); failure || !build) {
      return failure;
    }
    auto recorded = record_interval(values_by_rank<AccountValues, account_key_rank>(), book_,
                                    lineno, values_encoding_, section_.opening_line());
    if (!recorded) {
      ParseFailure failure{std::move(recorded).error()};
      if (!lenient_) {
        return failure;
      }
      // Left out with a warning, as a document that does not build is.
      std::string text = message(failure);
      report(DamageKind::AccountSkipped, lineno,
             line_text(LineToken{lineno, TokenKind::AccountEnd, {}, {}}, encoding_), text);
      statement_.warnings.push_back(ParseWarning{lineno, std::move(text)});
    }
    return std::nullopt;
  }

  std::optional<ParseFailure> close_document(std::uint64_t lineno) {
    state_ = ReaderState::ReadNextSection;
    bool build = true;
    if (auto failure = hooks_say(SectionType::Document, lineno, build); failure || !build) {
      return failure;
    }
    auto built = build_document(values_by_rank<DocumentValues, document_key_rank>(), document_type_,
                                values_encoding_);
    if (built) {
      built.value().lineno = section_.opening_line();
      statement_.documents.push_back(std::move(built).value());
    } else {
      statement_.warnings.push_back(ParseWarning{lineno, std::move(built).error()});
    }
    return std::nullopt;
  }

  ReaderState state_ = ReaderState::Init;
  std::span<SectionHook* const> hooks_;
  Encoding encoding_;         // of the text's bytes, which the tokens view
  Encoding values_encoding_;  // of the closing section's values: UTF-8 once hooks have run
  Statement statement_;
  AccountBook book_;
  bool lenient_ = false;                   // damage around intact records is read (DamageKind)
  std::string_view bare_line_;             // while an opening line without its "=" is taken for one
  Section section_;                        // the open section
  std::vector<SectionLine> header_lines_;  // with hooks, until the first section opens
  std::string_view document_type_;
  std::string key_text_;  // room for decoded texts, reused
  std::string value_text_;
};

ParseFailure unrecognized(const LineToken& token, Encoding encoding) {
  return SyntaxDetail{UnrecognizedLine{token.lineno, utf8_text(token.value, encoding)}};
}

using Outcome = Result<Statement, ParseFailure>;

// Reads what `lexer` hands out of `text`; nullopt when the lexer's text proves not to be UTF-8,
// which is looked at before any outcome is given.
std::optional<Outcome> read_tokens(std::string_view text, Encoding encoding,
                                   std::span<SectionHook* const> hooks, LineLexer& lexer) {
  Reader reader(encoding, hooks);
  LineToken token;
  for (;;) {
    switch (lexer.next(token)) {
      case LexStep::End:
        if (lexer.not_utf8()) {
          return std::nullopt;
        }
        return std::move(reader).finish();
      case LexStep::Unrecognized:
        if (reader.lenient()) {
          if (auto failure = reader.unrecognized(token)) {
            return Outcome(Err{std::move(*failure)});
          }
          break;
        }
        if (!lexer.rest_is_utf8()) {
          return std::nullopt;
        }
        return Outcome(Err{unrecognized(token, encoding)});
      case LexStep::Token:
        if (auto failure = reader.step(token)) {
          if (!lexer.rest_is_utf8()) {
            return std::nullopt;
          }
          // An unreadable line further on wins; every line before this one was read. A lenient
          // reading skips such lines, so its failure is the one it met.
          if (auto bad =
                  reader.lenient() ? std::nullopt : first_unrecognized_line(text, encoding)) {
            return Outcome(Err{ParseFailure{SyntaxDetail{std::move(*bad)}}});
          }
          return Outcome(Err{std::move(*failure)});
        }
        break;
    }
  }
}

}  // namespace

Result<Statement, ParseFailure> read(std::string_view text, Encoding encoding,
                                     std::span<SectionHook* const> hooks) {
  // Hooks are calls out to the caller, so they must not run for a text that a later line makes
  // unreadable; without such hooks the reader has no visible effects and the check can wait
  // until it is needed.
  const bool lenient =
      std::any_of(hooks.begin(), hooks.end(), [](const SectionHook* h) { return h->lenient(); });
  if (!lenient && std::any_of(hooks.begin(), hooks.end(),
                              [](const SectionHook* h) { return h->observable(); })) {
    if (auto bad = first_unrecognized_line(text, encoding)) {
      return Err{ParseFailure{SyntaxDetail{std::move(*bad)}}};
    }
  }
  for (SectionHook* hook : hooks) {
    hook->begin(text, encoding);
  }
  LineLexer lexer(text, encoding);
  return *read_tokens(text, encoding, hooks, lexer);
}

std::optional<Result<Statement, ParseFailure>> read_checking_utf8(std::string_view text) {
  LineLexer lexer = LineLexer::checking_utf8(text);
  return read_tokens(text, Encoding::Utf8, {}, lexer);
}

}  // namespace tarvik
