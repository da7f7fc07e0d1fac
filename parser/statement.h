#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "amount.h"
#include "attr_map.h"
#include "date.h"
#include "failure.h"

namespace tarvik {

enum class SectionType : std::uint8_t { Document = 0, Account = 1 };

// What the input was read as, from its classification on.
enum class Encoding : std::uint8_t {
  Utf8,
  Cp1251,
  Utf16,  // either byte order, after its byte-order mark
};

// The figures of one account section.
struct Interval {
  Date date_start;
  std::optional<Date> date_end;
  Amount start_amount;
  std::optional<Amount> end_amount;
  std::optional<Amount> total_income;
  std::optional<Amount> total_expense;
  // The line its section opens on. Where a record came from rather than what it holds, so it
  // takes no part in ==.
  std::uint64_t lineno = 0;

  // Field by field as written (amounts by scale too); AccountBook tells repeats by value.
  friend bool operator==(const Interval& a, const Interval& b) noexcept {
    return a.date_start == b.date_start && a.date_end == b.date_end &&
           a.start_amount == b.start_amount && a.end_amount == b.end_amount &&
           a.total_income == b.total_income && a.total_expense == b.total_expense;
  }
};

struct Account {
  std::string number;
  std::vector<Interval> intervals;  // by date_start; equal figures kept once
  friend bool operator==(const Account&, const Account&) = default;
};

// The fields of a payment document, in the order in which Python lists them; their keys, kinds
// and names are in fields.h.
enum class DocField : std::uint8_t {
  DocNumber,
  DocType,
  DocDate,
  Amount,
  Purpose,
  PaymentType,
  Ordering,
  CounterpartyInn,
  CounterpartyKpp,
  CounterpartyBic,
  CounterpartyBank1,
  CounterpartyAccount,
  Counterparty,
  Counterparty1,
  CounterpartyRasAccount,
  CounterpartyCorAccount,
  OutcomeDate,
  PayeeInn,
  Payee,
  PayeeAccount,
  PayeeKpp,
  PayeeBic,
  PayeeBank1,
  PayeeRasAccount,
  PayeeCorAccount,
  IncomeDate,
};
inline constexpr std::size_t kDocFieldCount = 26;

// One payment document. Its text fields share one buffer, so a document costs one allocation
// for all its texts; dates and the amount are held as values.
struct Document {
  std::string texts;  // the values of the text fields, one after the other in DocField order
  // Of each text field's value in `texts`; zero for the other fields. Offsets are left out, as a
  // parse holds every document at once and a field is read far less often than one is built.
  std::array<std::uint32_t, kDocFieldCount> text_sizes{};
  std::uint32_t present = 0;  // bit per DocField: required fields, and optional ones with a value
  Date doc_date;
  std::optional<Date> outcome_date;
  std::optional<Date> income_date;
  Amount amount;
  // The line its section opens on. Where a record came from rather than what it holds, so it
  // takes no part in ==.
  std::uint64_t lineno = 0;

  bool has(DocField f) const noexcept { return (present >> unsigned(f)) & 1U; }
  // Precondition: f is a text field (fields.h). Empty when absent.
  std::string_view text(DocField f) const noexcept {
    std::size_t offset = 0;
    for (std::size_t g = 0; g < std::size_t(f); ++g) {
      offset += text_sizes[g];
    }
    return std::string_view(texts).substr(offset, text_sizes[std::size_t(f)]);
  }
  std::optional<std::string_view> optional_text(DocField f) const noexcept {
    if (!has(f)) {
      return std::nullopt;
    }
    return text(f);
  }

  // Field by field; the layout of `texts` does not take part.
  friend bool operator==(const Document& a, const Document& b) noexcept;
};

// The result of one parse; owns everything below it.
struct Statement {
  Encoding encoding = Encoding::Utf8;
  AttrMap header;
  std::vector<Account> accounts;  // in order of first appearance of the number
  std::vector<Document> documents;
  std::vector<ParseWarning> warnings;
  friend bool operator==(const Statement&, const Statement&) = default;
};

// "utf-8" or "cp1251": a statement read from UTF-16 is labelled "cp1251" too, as every input not
// read as UTF-8 always has been.
constexpr std::string_view encoding_name(Encoding encoding) noexcept {
  switch (encoding) {
    case Encoding::Utf8:
      return "utf-8";
    case Encoding::Cp1251:
    case Encoding::Utf16:
      break;
  }
  return "cp1251";
}

}  // namespace tarvik
