#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "attr_map.h"
#include "failure.h"
#include "result.h"
#include "statement.h"

namespace tarvik {

// The keys an account section is read from, by rank (ascending UTF-8 bytes).
inline constexpr std::size_t kAccountKeyCount = 7;
int account_key_rank(std::string_view key) noexcept;
std::string_view account_key(std::size_t rank) noexcept;
inline constexpr std::size_t kAccountNumberRank = 6;  // "РасчСчет"

using AccountValues = std::array<std::optional<std::string_view>, kAccountKeyCount>;

// The statement's accounts in order of first appearance, with a lookup by number.
class AccountBook {
 public:
  Account& find_or_add(std::string_view number);
  std::vector<Account> release() && { return std::move(accounts_); }
  const std::vector<Account>& accounts() const noexcept { return accounts_; }

 private:
  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept;
  };
  std::vector<Account> accounts_;
  std::unordered_map<std::string, std::size_t, KeyHash, std::equal_to<>> index_;
};

// Equal figures: dates as dates, amounts by value (1000 equals 1000.00).
bool same_figures(const Interval& a, const Interval& b) noexcept;

// Builds the section's interval and files it under its account number: in date order, unless
// the account already holds the same figures. On failure the book is unchanged.
Result<Ok, SyntaxDetail> record_interval(const AccountValues& values, AccountBook& book,
                                         std::uint64_t lineno);
Result<Ok, SyntaxDetail> record_interval(const AttrMap& section, AccountBook& book,
                                         std::uint64_t lineno);

}  // namespace tarvik
