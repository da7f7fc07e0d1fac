#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "nanoarrow/nanoarrow.hpp"
#include "recording.h"
#include "repairs.h"
#include "statement.h"

namespace tarvik::columns {

// One table: a struct schema of its columns and one batch of rows. Shared, so that every stream
// exported from it hands out the same buffers without a copy and keeps them alive.
struct Table {
  nanoarrow::UniqueSchema schema;
  nanoarrow::UniqueArray batch;
};
using SharedTable = std::shared_ptr<const Table>;

// What frees a table when its last holder lets go of it, whichever thread that is; nullptr frees
// it at once. The module's frees the buffers with the interpreter lock released, as the last
// holder is often a consumer's object dying with the lock held. Each table owns its own.
using TableFree = void (*)(const Table* table) noexcept;

// The keys each document's section held that its record has no field for, by the document's
// place: views in the bytes of an encoding, valid while the table is built.
struct DocumentExtras {
  struct Pairs {
    std::span<const Extra> extras;
    Encoding encoding = Encoding::Utf8;
  };
  std::function<Pairs(std::size_t document)> of;
  explicit operator bool() const noexcept { return static_cast<bool>(of); }
  Pairs operator()(std::size_t document) const { return of(document); }
};

// The documents: `line`, then the fields in DocField order, then `extra`, a map of the keys of
// `extras` (empty where it is not given). The documents' texts are released as
// they are copied, so the statement and the table do not both hold them at their largest.
SharedTable document_table(std::vector<Document>& documents, const DocumentExtras& extras = {},
                           TableFree free = nullptr);

// The intervals, account by account: `line`, `account`, then the fields in Interval's order.
SharedTable interval_table(const std::vector<Account>& accounts, TableFree free = nullptr);

// `line`, `message`, and the `section` left out: "document", or "account" for a warning on one of
// `account_lines` (the closing lines of the account sections read, in file order).
SharedTable warning_table(const std::vector<ParseWarning>& warnings,
                          std::span<const std::uint64_t> account_lines = {},
                          TableFree free = nullptr);

// `line`, `repair`, `key`, `old`, `new` and `message`: the changes of `log`; nullopt where a
// message quotes a character only Python's repr() knows how to show. Then with the messages
// given, one per change.
std::optional<SharedTable> change_table(const ChangeLog& log, TableFree free = nullptr);
SharedTable change_table(const ChangeLog& log, std::span<const std::string> messages,
                         TableFree free = nullptr);

// A table of a `line` column (int64, never null) and text columns, for the small tables: the
// warnings and the changes.
struct LinedTexts {
  std::vector<std::string_view> names;  // of the text columns
  std::vector<bool> nullable;           // of the text columns
  std::vector<std::int64_t> lines;      // one per row
  // Column by column, one entry per row; nullopt is null.
  std::vector<std::vector<std::optional<std::string_view>>> texts;
};
SharedTable lined_table(const LinedTexts& rows, TableFree free = nullptr);

// A stream of the table's one batch; the table stays alive while the stream does.
void export_stream(const SharedTable& table, ArrowArrayStream* out);
// A copy of the table's schema.
void export_schema(const Table& table, ArrowSchema* out);

// Days since 1970-01-01 of a day of the proleptic Gregorian calendar.
std::int32_t epoch_days(const Date& date) noexcept;

// The decimal type a column of amounts takes: the largest scale among them, and whether some
// value rescaled to it needs more than 38 digits (decimal256) or not (decimal128).
struct DecimalShape {
  std::uint8_t scale = 0;
  bool wide = false;
  friend bool operator==(const DecimalShape&, const DecimalShape&) = default;
};
DecimalShape decimal_shape(std::span<const Amount* const> amounts) noexcept;

// The little-endian two's complement words of `amount` rescaled to `scale` (not below its own).
std::array<std::uint64_t, 4> rescaled_words(const Amount& amount, std::uint8_t scale) noexcept;

// Whether a magnitude (little-endian words) has at most 38 digits, as decimal128 holds.
bool fits_decimal128(const std::array<std::uint64_t, 4>& words) noexcept;

// A struct schema of named columns, then one batch built row by row into its children: every
// table of this library is built by one.
class Builder {
 public:
  explicit Builder(std::size_t columns);

  // Column `i`; a decimal column (NANOARROW_TYPE_DECIMAL128) takes its type from `shape`.
  void define(std::size_t i, std::string_view name, ArrowType type, bool nullable,
              DecimalShape shape = {});
  // After every column is defined, with room for `rows`.
  void start(std::size_t rows);
  // Room for `bytes` of text in a string column, so that it grows once.
  void reserve_text(std::size_t i, std::size_t bytes);

  void append_int(std::size_t i, std::int64_t value);  // int64, date32 (days), bool
  void append_text(std::size_t i, std::string_view text);
  // A map of texts to texts, its pairs in `encoding`'s bytes. Its keys are a dictionary (of the
  // table's one map column): the same few dozen keys stand in every row. The pairs' texts must
  // stay where they are until the table is finished.
  void append_map(std::size_t i, std::span<const Extra> pairs, Encoding encoding);
  void append_date(std::size_t i, const Date& date);
  void append_amount(std::size_t i, const Amount& amount);
  // A decimal already at the column's scale: little-endian two's complement words.
  void append_decimal(std::size_t i, const std::array<std::uint64_t, 4>& words);
  void append_null(std::size_t i);

  // After a value for every column.
  void end_row();

  SharedTable finish(TableFree free);

 private:
  ArrowArray* column(std::size_t i) noexcept;
  // Where the room was reserved (start(), reserve_text()), the text goes straight into its
  // buffers: a table of documents appends some twenty texts a row, and nanoarrow's own append
  // looks again at the column's type and every buffer's room for each.
  static void append_string(ArrowArray* array, std::string_view text);
  // A text in `encoding`'s bytes, written in UTF-8 straight into the column's buffer.
  static void append_encoded(ArrowArray* array, std::string_view bytes, Encoding encoding);

  // The index in the map column's key dictionary of `key`, the `place`-th of its row; new keys
  // are added to `dictionary`.
  std::int32_t key_index(ArrowArray* dictionary, std::string_view key, Encoding encoding,
                         std::size_t place);

  Table table_;
  std::vector<DecimalShape> shapes_;
  // The map's keys as written, by encoding, with their index; and the previous row's, place by
  // place, which the next row's mostly repeat in order.
  struct PlacedKey {
    std::string_view key;
    Encoding encoding;
    std::int32_t index;
  };
  std::array<std::unordered_map<std::string_view, std::int32_t>, 2> key_indexes_;
  std::vector<PlacedKey> last_keys_;
};

}  // namespace tarvik::columns
