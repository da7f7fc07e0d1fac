#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
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

}  // namespace tarvik::columns
