#include "built_tables.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarvik::columns {
namespace {

using Words = std::array<std::uint64_t, 4>;

ColumnValues decimals(std::vector<Words> values, std::uint8_t scale = 2) {
  ColumnValues c;
  c.name = "amount";
  c.type = ColumnType::Decimal;
  c.scale = scale;
  c.valid.assign(values.size(), true);
  c.decimals = std::move(values);
  return c;
}

std::string format_of(const SharedTable& table, std::size_t column) {
  return table->schema->children[column]->format;
}

TEST(BuiltTable, WidensADecimalColumnPast38Digits) {
  const Words ten_to_38 = {0x98a224000000000ULL, 0x4b3b4ca85a86c47aULL, 0, 0};
  const Words below = {ten_to_38[0] - 1, ten_to_38[1], 0, 0};
  const Words minus_one = {~0ULL, ~0ULL, ~0ULL, ~0ULL};
  const struct {
    std::vector<Words> values;
    std::string format;
  } cases[] = {
      {{}, "d:38,2"},
      {{below, minus_one}, "d:38,2"},
      {{ten_to_38}, "d:76,2,256"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(format_of(built_table({decimals(c.values)}), 0), c.format);
  }
}

TEST(BuiltTable, RefusesWhatNoColumnHolds) {
  ColumnValues texts;
  texts.name = "account";
  texts.type = ColumnType::String;
  texts.nullable = false;
  texts.valid = {true, false};
  texts.texts = {"40702810900000012345", ""};
  ColumnValues days;
  days.name = "day";
  days.type = ColumnType::Date32;
  days.valid = {true};
  days.ints = {std::int64_t{1} << 40};
  const Words past_76_digits = {0, 0, 0, std::uint64_t{1} << 62};
  const struct {
    const char* what;
    std::vector<ColumnValues> columns;
  } cases[] = {
      {"a null where none is taken", {texts}},
      {"a day past int32", {days}},
      {"more than 76 digits", {decimals({past_76_digits})}},
      {"columns of two lengths", {decimals({}), days}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_THROW(built_table(c.columns), std::invalid_argument);
  }
}

}  // namespace
}  // namespace tarvik::columns
