#pragma once

// The fields a record is read from, one row each: the statement's key, the Python attribute,
// how the value is read, whether it is required, and where tarvik.write puts its line. Every
// other table over the fields (ranks by key, kinds, the order in which a missing field is
// reported, the module's getters, and tarvik's own table, tarvik/_fields.py, which
// tools/gen_fields.py writes from these rows) is derived from them, so adding a field is adding a
// row.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "statement.h"

namespace tarvik {

enum class FieldKind : std::uint8_t {
  Text,
  OptionalText,
  Date,
  OptionalDate,
  Amount,
  OptionalAmount
};

// Order among required fields in which a missing one is reported; kOptional for the others.
inline constexpr std::int8_t kOptional = -1;

template <class Field>
struct FieldRow {
  Field field;
  std::string_view key;
  const char* py_name;  // the attribute of the module's record
  FieldKind kind;
  std::int8_t required;
  // The line's place in its section as tarvik.write writes it, 0 first: the order 1C writes.
  std::int8_t written;
};

// In DocField order, which is the order Python lists them in.
inline constexpr std::array<FieldRow<DocField>, kDocFieldCount> kDocFields = {{
    {DocField::DocNumber, "Номер", "doc_number", FieldKind::Text, 0, 1},
    {DocField::DocType, "СекцияДокумент", "doc_type", FieldKind::Text, 1, 0},
    {DocField::DocDate, "Дата", "doc_date", FieldKind::Date, 2, 2},
    {DocField::Amount, "Сумма", "amount", FieldKind::Amount, 4, 3},
    {DocField::Purpose, "НазначениеПлатежа", "purpose", FieldKind::Text, 3, 4},
    {DocField::PaymentType, "ВидОплаты", "payment_type", FieldKind::OptionalText, kOptional, 5},
    {DocField::Ordering, "Очередность", "ordering", FieldKind::OptionalText, kOptional, 6},
    {DocField::CounterpartyInn, "ПлательщикИНН", "counterparty_inn", FieldKind::Text, 5, 7},
    {DocField::CounterpartyKpp, "ПлательщикКПП", "counterparty_kpp", FieldKind::OptionalText,
     kOptional, 8},
    {DocField::CounterpartyBic, "ПлательщикБИК", "counterparty_bic", FieldKind::Text, 6, 9},
    {DocField::CounterpartyBank1, "ПлательщикБанк1", "counterparty_bank1", FieldKind::Text, 7, 10},
    {DocField::CounterpartyAccount, "ПлательщикСчет", "counterparty_account", FieldKind::Text, 8,
     11},
    {DocField::Counterparty, "Плательщик", "counterparty", FieldKind::OptionalText, kOptional, 12},
    {DocField::Counterparty1, "Плательщик1", "counterparty_1", FieldKind::OptionalText, kOptional,
     13},
    {DocField::CounterpartyRasAccount, "ПлательщикРасчСчет", "counterparty_ras_account",
     FieldKind::OptionalText, kOptional, 14},
    {DocField::CounterpartyCorAccount, "ПлательщикКорсчет", "counterparty_cor_account",
     FieldKind::OptionalText, kOptional, 15},
    {DocField::OutcomeDate, "ДатаСписано", "outcome_date", FieldKind::OptionalDate, kOptional, 16},
    {DocField::PayeeInn, "ПолучательИНН", "payee_inn", FieldKind::Text, 9, 17},
    {DocField::Payee, "Получатель", "payee", FieldKind::OptionalText, kOptional, 18},
    {DocField::PayeeAccount, "ПолучательСчет", "payee_account", FieldKind::Text, 10, 19},
    {DocField::PayeeKpp, "ПолучательКПП", "payee_kpp", FieldKind::OptionalText, kOptional, 20},
    {DocField::PayeeBic, "ПолучательБИК", "payee_bic", FieldKind::Text, 11, 21},
    {DocField::PayeeBank1, "ПолучательБанк1", "payee_bank1", FieldKind::Text, 12, 22},
    {DocField::PayeeRasAccount, "ПолучательРасчСчет", "payee_ras_account", FieldKind::OptionalText,
     kOptional, 23},
    {DocField::PayeeCorAccount, "ПолучательКорсчет", "payee_cor_account", FieldKind::OptionalText,
     kOptional, 24},
    {DocField::IncomeDate, "ДатаПоступило", "income_date", FieldKind::OptionalDate, kOptional, 25},
}};

// The fields of an account section: the interval's figures, in the order of Interval's members
// and of the module's getters, then the number the interval is filed under.
enum class IntervalField : std::uint8_t {
  DateStart,
  DateEnd,
  StartAmount,
  EndAmount,
  TotalIncome,
  TotalExpense,
  Number,
};
inline constexpr std::size_t kIntervalFieldCount = 7;

inline constexpr std::array<FieldRow<IntervalField>, kIntervalFieldCount> kIntervalFields = {{
    {IntervalField::DateStart, "ДатаНачала", "date_start", FieldKind::Date, 0, 0},
    {IntervalField::DateEnd, "ДатаКонца", "date_end", FieldKind::OptionalDate, kOptional, 1},
    {IntervalField::StartAmount, "НачальныйОстаток", "start_amount", FieldKind::Amount, 1, 3},
    {IntervalField::EndAmount, "КонечныйОстаток", "end_amount", FieldKind::OptionalAmount,
     kOptional, 6},
    {IntervalField::TotalIncome, "ВсегоПоступило", "total_income", FieldKind::OptionalAmount,
     kOptional, 4},
    {IntervalField::TotalExpense, "ВсегоСписано", "total_expense", FieldKind::OptionalAmount,
     kOptional, 5},
    {IntervalField::Number, "РасчСчет", "number", FieldKind::Text, 2, 2},
}};

constexpr FieldKind kind_of(DocField f) noexcept { return kDocFields[std::size_t(f)].kind; }

constexpr bool is_text(FieldKind kind) noexcept {
  return kind == FieldKind::Text || kind == FieldKind::OptionalText;
}

// The rows' fields by rank: ascending by the UTF-8 bytes of their keys, which is the order in
// which values are checked, so that of two bad values the one reported does not depend on where
// the lines stand.
template <class Field, std::size_t N>
constexpr std::array<Field, N> by_key_bytes(const std::array<FieldRow<Field>, N>& rows) {
  std::array<Field, N> out{};
  for (std::size_t i = 0; i < N; ++i) {
    std::size_t j = i;
    for (; j > 0 && rows[i].key < rows[std::size_t(out[j - 1])].key; --j) {
      out[j] = out[j - 1];
    }
    out[j] = rows[i].field;
  }
  return out;
}

template <class Field, std::size_t N>
constexpr std::array<std::uint8_t, N> ranks_of(const std::array<Field, N>& by_rank) {
  std::array<std::uint8_t, N> out{};
  for (std::size_t r = 0; r < N; ++r) {
    out[std::size_t(by_rank[r])] = static_cast<std::uint8_t>(r);
  }
  return out;
}

template <class Field, std::size_t N>
constexpr std::size_t required_count(const std::array<FieldRow<Field>, N>& rows) {
  std::size_t n = 0;
  for (const auto& row : rows) {
    n += row.required != kOptional ? 1 : 0;
  }
  return n;
}

// The required fields in the order in which a missing one is reported.
template <std::size_t M, class Field, std::size_t N>
constexpr std::array<Field, M> required_order(const std::array<FieldRow<Field>, N>& rows) {
  std::array<Field, M> out{};
  for (const auto& row : rows) {
    if (row.required != kOptional) {
      out[std::size_t(row.required)] = row.field;
    }
  }
  return out;
}

// Rows in enumerator order, keys distinct, required places 0..M-1 each taken once, written
// places 0..N-1 each taken once, and a field is required exactly when its kind has no absent
// form.
template <class Field, std::size_t N>
constexpr bool well_formed(const std::array<FieldRow<Field>, N>& rows) {
  std::array<bool, N> place_taken{};
  std::array<bool, N> written_taken{};
  for (std::size_t i = 0; i < N; ++i) {
    const auto written = std::size_t(rows[i].written);
    if (rows[i].written < 0 || written >= N || written_taken[written]) {
      return false;
    }
    written_taken[written] = true;
    if (std::size_t(rows[i].field) != i) {
      return false;
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (rows[j].key == rows[i].key) {
        return false;
      }
    }
    const FieldKind k = rows[i].kind;
    const bool has_absent_form = k == FieldKind::OptionalText || k == FieldKind::OptionalDate ||
                                 k == FieldKind::OptionalAmount;
    if ((rows[i].required == kOptional) != has_absent_form) {
      return false;
    }
    if (rows[i].required != kOptional) {
      const auto place = std::size_t(rows[i].required);
      if (place >= required_count(rows) || place_taken[place]) {
        return false;
      }
      place_taken[place] = true;
    }
  }
  return true;
}
static_assert(well_formed(kDocFields));
static_assert(well_formed(kIntervalFields));

inline constexpr std::array<DocField, kDocFieldCount> kDocFieldByRank = by_key_bytes(kDocFields);
inline constexpr std::array<std::uint8_t, kDocFieldCount> kDocRankOf = ranks_of(kDocFieldByRank);
inline constexpr std::array<IntervalField, kIntervalFieldCount> kIntervalFieldByRank =
    by_key_bytes(kIntervalFields);
inline constexpr std::array<std::uint8_t, kIntervalFieldCount> kIntervalRankOf =
    ranks_of(kIntervalFieldByRank);

}  // namespace tarvik
