#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "arrow_tables.h"

namespace tarvik::columns {

// The kinds of column a table of given values has.
enum class ColumnType : std::uint8_t { Int64, String, Date32, Decimal, Bool };

// One column of values, row by row; `valid[r]` false is a null, whose value is ignored.
// Int64, Date32 (days since 1970-01-01) and Bool take `ints`, String `texts`, Decimal
// `decimals`: each the value in units of 10^-scale, as little-endian two's complement words.
struct ColumnValues {
  std::string_view name;
  ColumnType type = ColumnType::Int64;
  bool nullable = true;
  std::uint8_t scale = 0;  // of a Decimal column, at most 76
  std::vector<bool> valid;
  std::vector<std::int64_t> ints;
  std::vector<std::string_view> texts;  // views of the caller's texts, which outlive the call
  std::vector<std::array<std::uint64_t, 4>> decimals;
};

// The table of `columns`, built as the statements' tables are: a Decimal column is
// decimal128(38, scale), or decimal256(76, scale) where some value has more than 38 digits.
// Throws std::invalid_argument where the columns differ in length, a column that takes no null
// has one, a Date32 day or a scale is out of range, or a decimal has more than 76 digits.
SharedTable built_table(const std::vector<ColumnValues>& columns, TableFree free = nullptr);

}  // namespace tarvik::columns
