#include "account_builder.h"

#include <algorithm>

#include "amount.h"
#include "cp1251.h"
#include "date.h"
#include "input_decoding.h"

namespace tarvik {

namespace {

constexpr std::string_view key_of(IntervalField f) noexcept {
  return kIntervalFields[std::size_t(f)].key;
}

// The one field of each date kind, as record_interval() reads them.
constexpr bool dates_are_start_and_end() {
  for (const auto& row : kIntervalFields) {
    if ((row.kind == FieldKind::Date && row.field != IntervalField::DateStart) ||
        (row.kind == FieldKind::OptionalDate && row.field != IntervalField::DateEnd)) {
      return false;
    }
  }
  return true;
}
static_assert(dates_are_start_and_end());

// Where an amount field's value goes; the start amount is held apart until it is known present.
std::optional<Amount>& amount_of(IntervalField f, Interval& interval,
                                 std::optional<Amount>& start_amount) noexcept {
  switch (f) {
    case IntervalField::EndAmount:
      return interval.end_amount;
    case IntervalField::TotalIncome:
      return interval.total_income;
    case IntervalField::TotalExpense:
      return interval.total_expense;
    case IntervalField::StartAmount:
    case IntervalField::DateStart:
    case IntervalField::DateEnd:
    case IntervalField::Number:
      break;
  }
  return start_amount;
}

constexpr std::array<IntervalField, required_count(kIntervalFields)> kRequired =
    required_order<required_count(kIntervalFields)>(kIntervalFields);
// The number is looked up apart from the figures, and its absence is reported last, as a missing
// field of the section rather than a bad figure.
static_assert(kRequired.back() == IntervalField::Number);

// The same value in lowest terms: no trailing fraction zeros, and zero without sign or scale.
Amount reduced(Amount a) noexcept {
  while (a.scale > 0 && a.magnitude % 10 == 0) {
    a.magnitude /= 10;
    --a.scale;
  }
  if (a.magnitude == 0) {
    a = Amount{};
  }
  return a;
}

std::optional<Amount> reduced(const std::optional<Amount>& a) noexcept {
  if (!a) {
    return std::nullopt;
  }
  return reduced(*a);
}

Interval reduced(const Interval& i) noexcept {
  return Interval{i.date_start,
                  i.date_end,
                  reduced(i.start_amount),
                  reduced(i.end_amount),
                  reduced(i.total_income),
                  reduced(i.total_expense)};
}

void mix(std::size_t& seed, std::size_t value) noexcept {
  seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

void mix(std::size_t& seed, const Date& d) noexcept {
  mix(seed, static_cast<std::size_t>(static_cast<std::uint32_t>(d.year)) << 16 |
                static_cast<std::size_t>(d.month) << 8 | d.day);
}

void mix(std::size_t& seed, const std::optional<Amount>& a) noexcept {
  if (!a) {
    mix(seed, 0x5a5a);
    return;
  }
  mix(seed, static_cast<std::size_t>(static_cast<std::uint64_t>(a->magnitude)));
  mix(seed, static_cast<std::size_t>(static_cast<std::uint64_t>(a->magnitude >> 64)));
  mix(seed, std::size_t{a->scale} << 1 | std::size_t{a->negative});
}

// The keys by rank in the bytes of each encoding, so that a section is matched undecoded.
constexpr std::array<std::string_view, kAccountKeyCount> kUtf8Keys = [] {
  std::array<std::string_view, kAccountKeyCount> out{};
  for (std::size_t r = 0; r < kAccountKeyCount; ++r) {
    out[r] = key_of(kIntervalFieldByRank[r]);
  }
  return out;
}();
constexpr std::array<Cp1251Text, kAccountKeyCount> kCp1251KeyTexts = [] {
  std::array<Cp1251Text, kAccountKeyCount> out{};
  for (std::size_t r = 0; r < kAccountKeyCount; ++r) {
    out[r] = to_cp1251_text(kUtf8Keys[r]);
  }
  return out;
}();
constexpr std::array<std::string_view, kAccountKeyCount> kCp1251Keys = [] {
  std::array<std::string_view, kAccountKeyCount> out{};
  for (std::size_t r = 0; r < kAccountKeyCount; ++r) {
    out[r] = kCp1251KeyTexts[r].view();
  }
  return out;
}();

}  // namespace

int account_key_rank(std::string_view key, Encoding encoding) noexcept {
  const auto& keys = encoding == Encoding::Cp1251 ? kCp1251Keys : kUtf8Keys;
  for (std::size_t r = 0; r < kAccountKeyCount; ++r) {
    if (keys[r] == key) {
      return static_cast<int>(r);
    }
  }
  return -1;
}

std::string_view account_key(std::size_t rank) noexcept {
  return key_of(kIntervalFieldByRank[rank]);
}

std::size_t AccountBook::KeyHash::operator()(std::string_view s) const noexcept {
  return std::hash<std::string_view>{}(s);
}

std::size_t AccountBook::FiguresHash::operator()(const Interval& f) const noexcept {
  std::size_t seed = 0;
  mix(seed, f.date_start);
  mix(seed, f.date_end ? *f.date_end : Date{0, 0, 0});
  mix(seed, std::optional<Amount>(f.start_amount));
  mix(seed, f.end_amount);
  mix(seed, f.total_income);
  mix(seed, f.total_expense);
  return seed;
}

bool AccountBook::SameFigures::operator()(const Interval& a, const Interval& b) const noexcept {
  return a == b;  // both in lowest terms, where equal values are equal fields
}

Account& AccountBook::find_or_add(std::string_view number) {
  if (auto it = index_.find(number); it != index_.end()) {
    return accounts_[it->second];
  }
  accounts_.push_back(Account{std::string(number), {}});
  figures_.emplace_back();
  index_.emplace(std::string(number), accounts_.size() - 1);
  return accounts_.back();
}

bool AccountBook::add(std::string_view number, const Interval& interval) {
  Account& account = find_or_add(number);
  auto& held = figures_[static_cast<std::size_t>(&account - accounts_.data())];
  if (!held.insert(reduced(interval)).second) {
    return false;
  }
  account.intervals.push_back(interval);
  return true;
}

std::vector<Account> AccountBook::release() && {
  for (Account& account : accounts_) {
    order_intervals(account.intervals);
  }
  return std::move(accounts_);
}

void order_intervals(std::vector<Interval>& intervals) {
  if (intervals.size() < 2) {
    return;
  }
  // Under that search a new interval lands right after the last one whose start is not later,
  // or, when that one starts on the same day, right before it. The first of a day therefore
  // stays last among its day, and the later ones keep their arrival order ahead of it.
  struct Keyed {
    Date start;
    bool first_of_day;
    std::size_t arrival;
  };
  std::vector<Keyed> keys;
  keys.reserve(intervals.size());
  std::unordered_set<std::uint64_t> days;
  for (std::size_t i = 0; i < intervals.size(); ++i) {
    const Date d = intervals[i].date_start;
    const auto day = static_cast<std::uint64_t>(static_cast<std::uint32_t>(d.year)) << 16 |
                     std::uint64_t{d.month} << 8 | d.day;
    keys.push_back(Keyed{d, days.insert(day).second, i});
  }
  std::stable_sort(keys.begin(), keys.end(), [](const Keyed& a, const Keyed& b) {
    return a.start < b.start || (a.start == b.start && !a.first_of_day && b.first_of_day);
  });
  std::vector<Interval> ordered;
  ordered.reserve(intervals.size());
  for (const Keyed& k : keys) {
    ordered.push_back(intervals[k.arrival]);
  }
  intervals = std::move(ordered);
}

Result<Ok, SyntaxDetail> record_interval(const AccountValues& values, AccountBook& book,
                                         std::uint64_t lineno, Encoding encoding,
                                         std::uint64_t opening_line) {
  Interval interval;
  interval.lineno = opening_line;
  std::string scratch;  // a figure that is not ASCII, as UTF-8
  const auto fail = [lineno](std::string message) -> Result<Ok, SyntaxDetail> {
    return Err{SyntaxDetail{AccountParseError{lineno, std::move(message)}}};
  };
  std::optional<Amount> start_amount;
  for (std::size_t r = 0; r < kAccountKeyCount; ++r) {
    if (!values[r]) {
      continue;
    }
    const std::string_view value = as_utf8(*values[r], encoding, scratch);
    const IntervalField field = kIntervalFieldByRank[r];
    switch (kIntervalFields[std::size_t(field)].kind) {
      case FieldKind::Amount:
      case FieldKind::OptionalAmount: {
        auto amount = parse_amount(value);
        if (!amount) {
          return fail(invalid_amount_message(value));
        }
        amount_of(field, interval, start_amount) = *amount;
        break;
      }
      case FieldKind::Date: {
        auto date = parse_date(value);
        if (!date) {
          return fail(std::string(message(date.error())));
        }
        interval.date_start = *date;
        break;
      }
      case FieldKind::OptionalDate: {
        auto date = parse_optional_date(value);
        if (!date) {
          return fail(std::string(message(date.error())));
        }
        interval.date_end = *date;
        break;
      }
      case FieldKind::Text:
      case FieldKind::OptionalText:
        break;  // the number, looked up apart
    }
  }
  for (const IntervalField f : kRequired) {
    if (values[kIntervalRankOf[std::size_t(f)]]) {
      continue;
    }
    if (f == IntervalField::Number) {
      return Err{
          SyntaxDetail{MissingField{lineno, std::string(key_of(f)), ReaderContext::Account}}};
    }
    return fail(missing_field_message(key_of(f)));
  }
  interval.start_amount = *start_amount;
  book.add(as_utf8(*values[kAccountNumberRank], encoding, scratch), interval);
  return Ok{};
}

}  // namespace tarvik
