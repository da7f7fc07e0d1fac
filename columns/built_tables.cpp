#include "built_tables.h"

#include <cstddef>
#include <limits>
#include <stdexcept>
#include <string>

namespace tarvik::columns {
namespace {

using Words = std::array<std::uint64_t, 4>;

bool is_negative(const Words& words) noexcept { return (words[3] >> 63) != 0; }

Words magnitude(Words words) noexcept {
  if (is_negative(words)) {
    bool carry = true;
    for (std::uint64_t& w : words) {
      w = ~w + (carry ? 1 : 0);
      carry = carry && w == 0;
    }
  }
  return words;
}

constexpr Words kDecimal256Limit = [] {  // 10^76
  Words out{1, 0, 0, 0};
  for (int n = 0; n < 76; ++n) {
    U128 carry = 0;
    for (std::uint64_t& w : out) {
      const U128 product = static_cast<U128>(w) * 10 + carry;
      w = static_cast<std::uint64_t>(product);
      carry = product >> 64;
    }
  }
  return out;
}();

bool below(const Words& a, const Words& b) noexcept {
  for (std::size_t w = 4; w-- > 0;) {
    if (a[w] != b[w]) {
      return a[w] < b[w];
    }
  }
  return false;
}

ArrowType arrow_type(ColumnType type) noexcept {
  switch (type) {
    case ColumnType::Int64:
      return NANOARROW_TYPE_INT64;
    case ColumnType::String:
      return NANOARROW_TYPE_STRING;
    case ColumnType::Date32:
      return NANOARROW_TYPE_DATE32;
    case ColumnType::Decimal:
      return NANOARROW_TYPE_DECIMAL128;
    case ColumnType::Bool:
      return NANOARROW_TYPE_BOOL;
  }
  return NANOARROW_TYPE_NA;
}

std::size_t length_of(const ColumnValues& c) noexcept {
  switch (c.type) {
    case ColumnType::Int64:
    case ColumnType::Date32:
    case ColumnType::Bool:
      return c.ints.size();
    case ColumnType::String:
      return c.texts.size();
    case ColumnType::Decimal:
      return c.decimals.size();
  }
  return 0;
}

// The column's decimal type; throws where a value has more digits than decimal256 holds.
DecimalShape shape_of(const ColumnValues& c) {
  if (c.scale > 76) {
    throw std::invalid_argument("column " + std::string(c.name) + ": scale above 76");
  }
  DecimalShape shape{c.scale, false};
  for (std::size_t r = 0; r < c.decimals.size(); ++r) {
    if (!c.valid[r]) {
      continue;
    }
    const Words m = magnitude(c.decimals[r]);
    if (!below(m, kDecimal256Limit) || is_negative(m)) {
      throw std::invalid_argument("column " + std::string(c.name) + ": a decimal of more than " +
                                  "76 digits");
    }
    shape.wide = shape.wide || !fits_decimal128(m);
  }
  return shape;
}

void check_column(const ColumnValues& c, std::size_t rows) {
  if (length_of(c) != rows || c.valid.size() != rows) {
    throw std::invalid_argument("column " + std::string(c.name) + ": not as long as the first");
  }
  for (std::size_t r = 0; r < rows; ++r) {
    if (!c.valid[r]) {
      if (!c.nullable) {
        throw std::invalid_argument("column " + std::string(c.name) + ": a null, which it takes " +
                                    "none of");
      }
    } else if (c.type == ColumnType::Date32 &&
               (c.ints[r] < std::numeric_limits<std::int32_t>::min() ||
                c.ints[r] > std::numeric_limits<std::int32_t>::max())) {
      throw std::invalid_argument("column " + std::string(c.name) + ": a day out of range");
    }
  }
}

}  // namespace

SharedTable built_table(const std::vector<ColumnValues>& columns, TableFree free) {
  const std::size_t rows = columns.empty() ? 0 : columns.front().valid.size();
  Builder b(columns.size());
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const ColumnValues& c = columns[i];
    check_column(c, rows);
    const DecimalShape shape = c.type == ColumnType::Decimal ? shape_of(c) : DecimalShape{};
    b.define(i, c.name, arrow_type(c.type), c.nullable, shape);
  }
  b.start(rows);
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].type == ColumnType::String) {
      std::size_t bytes = 0;
      for (const std::string_view text : columns[i].texts) {
        bytes += text.size();
      }
      b.reserve_text(i, bytes);
    }
  }
  for (std::size_t r = 0; r < rows; ++r) {
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const ColumnValues& c = columns[i];
      if (!c.valid[r]) {
        b.append_null(i);
        continue;
      }
      switch (c.type) {
        case ColumnType::Int64:
        case ColumnType::Date32:
        case ColumnType::Bool:
          b.append_int(i, c.ints[r]);
          break;
        case ColumnType::String:
          b.append_text(i, c.texts[r]);
          break;
        case ColumnType::Decimal:
          b.append_decimal(i, c.decimals[r]);
          break;
      }
    }
    b.end_row();
  }
  return b.finish(free);
}

}  // namespace tarvik::columns
