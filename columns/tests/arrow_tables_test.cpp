#include "arrow_tables.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace tarvik::columns {
namespace {

TEST(EpochDays, CountsTheProlepticGregorianCalendar) {
  const struct {
    Date date;
    std::int32_t days;
  } cases[] = {
      {{1970, 1, 1}, 0},
      {{1969, 12, 31}, -1},
      {{2000, 3, 1}, 11017},
      {{2024, 2, 29}, 19782},
      {{1, 1, 1}, -719162},
      {{0, 12, 31}, -719163},
      {{0, 2, 29}, -719469},
      {{-1, 1, 1}, -719893},
      {{262142, 12, 31}, 95026236},
      {{-262143, 1, 1}, -96465292},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.date.year);
    EXPECT_EQ(epoch_days(c.date), c.days);
  }
}

Amount amount(U128 magnitude, std::uint8_t scale, bool negative = false) {
  return Amount{magnitude, scale, negative};
}

TEST(DecimalShape, TakesTheLargestScaleAndWidensPast38Digits) {
  const U128 max96 = kMagnitudeLimit - 1;  // 29 digits
  const Amount small = amount(150, 2);
  const Amount three = amount(5, 3);
  const Amount big = amount(max96, 0);
  const Amount tiny_scale28 = amount(1, 28);
  const Amount nine = amount(9, 9);
  const struct {
    std::vector<const Amount*> amounts;
    DecimalShape shape;
  } cases[] = {
      {{}, {0, false}},
      {{nullptr}, {0, false}},
      {{&small, &three}, {3, false}},
      {{&big, &nine}, {9, false}},  // 29 + 9 = 38 digits still fit
      {{&big, &tiny_scale28}, {28, true}},
      {{&big, nullptr, &small}, {2, false}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(decimal_shape(c.amounts), c.shape);
  }
}

TEST(RescaledWords, AreTwosComplementLittleEndian) {
  EXPECT_EQ(rescaled_words(amount(15, 1), 3), (std::array<std::uint64_t, 4>{1500, 0, 0, 0}));
  EXPECT_EQ(rescaled_words(amount(1, 0, true), 0),
            (std::array<std::uint64_t, 4>{~0ULL, ~0ULL, ~0ULL, ~0ULL}));
  // 2^64 * 10 = 10 * 2^64.
  EXPECT_EQ(rescaled_words(amount(U128{1} << 64, 0), 1),
            (std::array<std::uint64_t, 4>{0, 10, 0, 0}));
  // (2^96 - 1) * 10^28 needs three words; negated, its top word is all ones.
  const auto wide = rescaled_words(amount(kMagnitudeLimit - 1, 0, true), 28);
  EXPECT_EQ(wide[3], ~0ULL);
  EXPECT_NE(wide[2], ~0ULL);
}

TEST(Tables, ExportStreamsThatShareTheBatch) {
  std::vector<ParseWarning> warnings = {{7, "первое"}, {9, "second"}};
  const SharedTable table = warning_table(warnings);
  ASSERT_EQ(table->batch->length, 2);
  for (int round = 0; round < 2; ++round) {
    nanoarrow::UniqueArrayStream stream;
    export_stream(table, stream.get());
    nanoarrow::UniqueSchema schema;
    ASSERT_EQ(stream->get_schema(stream.get(), schema.get()), 0);
    EXPECT_STREQ(schema->children[0]->name, "line");
    EXPECT_EQ(schema->children[0]->flags & ARROW_FLAG_NULLABLE, 0);
    nanoarrow::UniqueArray batch;
    ASSERT_EQ(stream->get_next(stream.get(), batch.get()), 0);
    ASSERT_EQ(batch->n_children, 3);  // line, message, section
    // The same buffers as the table's: nothing was copied.
    EXPECT_EQ(batch->children[1]->buffers[2], table->batch->children[1]->buffers[2]);
    nanoarrow::UniqueArray end;
    ASSERT_EQ(stream->get_next(stream.get(), end.get()), 0);
    EXPECT_EQ(end->release, nullptr);
  }
  EXPECT_EQ(table.use_count(), 1);
}

}  // namespace
}  // namespace tarvik::columns
