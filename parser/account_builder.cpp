#include "account_builder.h"

#include <algorithm>

#include "amount.h"
#include "date.h"

namespace tarvik {

namespace {

// Ascending by UTF-8 bytes, the order in which the values are checked.
constexpr std::array<std::string_view, kAccountKeyCount> kKeys = {
    "ВсегоПоступило",  "ВсегоСписано",     "ДатаКонца", "ДатаНачала",
    "КонечныйОстаток", "НачальныйОстаток", "РасчСчет",
};
enum Rank : std::size_t {
  kTotalIncome,
  kTotalExpense,
  kDateEnd,
  kDateStart,
  kEndAmount,
  kStartAmount,
};

constexpr bool sorted_by_bytes() {
  for (std::size_t i = 1; i < kKeys.size(); ++i) {
    if (!(kKeys[i - 1] < kKeys[i])) {
      return false;
    }
  }
  return kKeys[kAccountNumberRank] == "РасчСчет";
}
static_assert(sorted_by_bytes());

bool same_amount(const std::optional<Amount>& a, const std::optional<Amount>& b) noexcept {
  return a.has_value() == b.has_value() && (!a || equal_value(*a, *b));
}

// Where the search over start dates puts a new interval. Among equal start dates the result is
// whatever this exact halving yields, and earlier files were read that way, so it stays.
std::size_t insert_position(const std::vector<Interval>& list, Date start) noexcept {
  std::size_t size = list.size();
  if (size == 0) {
    return 0;
  }
  std::size_t base = 0;
  while (size > 1) {
    const std::size_t half = size / 2;
    const std::size_t mid = base + half;
    if (!(start < list[mid].date_start)) {
      base = mid;
    }
    size -= half;
  }
  const Date at = list[base].date_start;
  if (at == start) {
    return base;
  }
  return at < start ? base + 1 : base;
}

}  // namespace

int account_key_rank(std::string_view key) noexcept {
  for (std::size_t r = 0; r < kKeys.size(); ++r) {
    if (kKeys[r] == key) {
      return static_cast<int>(r);
    }
  }
  return -1;
}

std::string_view account_key(std::size_t rank) noexcept { return kKeys[rank]; }

std::size_t AccountBook::KeyHash::operator()(std::string_view s) const noexcept {
  return std::hash<std::string_view>{}(s);
}

Account& AccountBook::find_or_add(std::string_view number) {
  if (auto it = index_.find(number); it != index_.end()) {
    return accounts_[it->second];
  }
  accounts_.push_back(Account{std::string(number), {}});
  index_.emplace(std::string(number), accounts_.size() - 1);
  return accounts_.back();
}

bool same_figures(const Interval& a, const Interval& b) noexcept {
  return a.date_start == b.date_start && a.date_end == b.date_end &&
         equal_value(a.start_amount, b.start_amount) && same_amount(a.end_amount, b.end_amount) &&
         same_amount(a.total_income, b.total_income) &&
         same_amount(a.total_expense, b.total_expense);
}

Result<Ok, SyntaxDetail> record_interval(const AccountValues& values, AccountBook& book,
                                         std::uint64_t lineno) {
  Interval interval;
  const auto fail = [lineno](std::string message) -> Result<Ok, SyntaxDetail> {
    return Err{SyntaxDetail{AccountParseError{lineno, std::move(message)}}};
  };
  const auto amount = [&](std::size_t rank, std::optional<Amount>& out) {
    auto parsed = parse_amount(*values[rank]);
    if (parsed) {
      out = *parsed;
    }
    return parsed.has_value();
  };
  std::optional<Amount> start_amount;
  for (std::size_t r = 0; r < kAccountNumberRank; ++r) {
    if (!values[r]) {
      continue;
    }
    const std::string_view value = *values[r];
    switch (static_cast<Rank>(r)) {
      case kTotalIncome:
        if (!amount(r, interval.total_income)) {
          return fail(invalid_amount_message(value));
        }
        break;
      case kTotalExpense:
        if (!amount(r, interval.total_expense)) {
          return fail(invalid_amount_message(value));
        }
        break;
      case kEndAmount:
        if (!amount(r, interval.end_amount)) {
          return fail(invalid_amount_message(value));
        }
        break;
      case kStartAmount:
        if (!amount(r, start_amount)) {
          return fail(invalid_amount_message(value));
        }
        break;
      case kDateEnd: {
        auto date = parse_optional_date(value);
        if (!date) {
          return fail(std::string(message(date.error())));
        }
        interval.date_end = *date;
        break;
      }
      case kDateStart: {
        auto date = parse_date(value);
        if (!date) {
          return fail(std::string(message(date.error())));
        }
        interval.date_start = *date;
        break;
      }
    }
  }
  if (!values[kDateStart]) {
    return fail(missing_field_message(kKeys[kDateStart]));
  }
  if (!start_amount) {
    return fail(missing_field_message(kKeys[kStartAmount]));
  }
  interval.start_amount = *start_amount;
  const std::optional<std::string_view> number = values[kAccountNumberRank];
  if (!number) {
    return Err{SyntaxDetail{
        MissingField{lineno, std::string(kKeys[kAccountNumberRank]), ReaderContext::Account}}};
  }

  std::vector<Interval>& list = book.find_or_add(*number).intervals;
  // Equal figures imply equal start dates, which the ordering keeps side by side.
  const auto same_start = std::equal_range(
      list.begin(), list.end(), interval,
      [](const Interval& a, const Interval& b) { return a.date_start < b.date_start; });
  for (auto it = same_start.first; it != same_start.second; ++it) {
    if (same_figures(*it, interval)) {
      return Ok{};
    }
  }
  list.insert(
      list.begin() + static_cast<std::ptrdiff_t>(insert_position(list, interval.date_start)),
      interval);
  return Ok{};
}

Result<Ok, SyntaxDetail> record_interval(const AttrMap& section, AccountBook& book,
                                         std::uint64_t lineno) {
  AccountValues values;
  for (const AttrMap::Entry& e : section) {
    if (const int r = account_key_rank(e.key); r >= 0) {
      values[static_cast<std::size_t>(r)] = e.value;
    }
  }
  return record_interval(values, book, lineno);
}

}  // namespace tarvik
