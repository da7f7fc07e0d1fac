#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "attr_map.h"
#include "failure.h"
#include "fields.h"
#include "result.h"
#include "statement.h"

namespace tarvik {

// The keys an account section is read from, by rank (ascending UTF-8 bytes; see fields.h).
inline constexpr std::size_t kAccountKeyCount = kIntervalFieldCount;
// The rank of `key`, given in the bytes of `encoding`, or -1 for a key no field is read from.
int account_key_rank(std::string_view key, Encoding encoding = Encoding::Utf8) noexcept;
std::string_view account_key(std::size_t rank) noexcept;
inline constexpr std::size_t kAccountNumberRank =
    kIntervalRankOf[std::size_t(IntervalField::Number)];

using AccountValues = std::array<std::optional<std::string_view>, kAccountKeyCount>;

// The statement's accounts in order of first appearance, with a lookup by number.
//
// An account's intervals are kept in arrival order and put in date order once, when they are
// read: filing each one at its place as it comes would cost a shift of the list per section,
// quadratic for a file whose sections run backwards in time.
class AccountBook {
 public:
  // Files `interval` under `number`, creating the account on first sight, unless the account
  // already holds the same figures: dates as dates, amounts by value (1000 equals 1000.00).
  // True when it was filed.
  bool add(std::string_view number, const Interval& interval);

  // The accounts with their intervals ordered by start date (see order_intervals()).
  std::vector<Account> release() &&;

 private:
  Account& find_or_add(std::string_view number);

  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept;
  };
  struct FiguresHash {
    std::size_t operator()(const Interval& figures) const noexcept;
  };
  struct SameFigures {
    bool operator()(const Interval& a, const Interval& b) const noexcept;
  };
  std::vector<Account> accounts_;
  std::unordered_map<std::string, std::size_t, KeyHash, std::equal_to<>> index_;
  // Per account, the figures it holds with their amounts reduced to lowest terms, so that
  // equal values compare and hash alike.
  std::vector<std::unordered_set<Interval, FiguresHash, SameFigures>> figures_;
};

// Puts intervals given in arrival order into the order in which a binary search over start
// dates would have filed them one by one: by start date, and among equal start dates each new
// one just before the first that came (so A, B, C, D of one date end as B, C, D, A).
void order_intervals(std::vector<Interval>& intervals);

// Builds the section's interval and files it under its account number: in date order, unless
// the account already holds the same figures. The values are in the bytes of `encoding`; the
// number and the failure's texts are UTF-8. `lineno` is the section's closing line, which a
// failure names, and `opening_line` the line the interval records. On failure the book is
// unchanged.
Result<Ok, SyntaxDetail> record_interval(const AccountValues& values, AccountBook& book,
                                         std::uint64_t lineno, Encoding encoding = Encoding::Utf8,
                                         std::uint64_t opening_line = 0);

}  // namespace tarvik
