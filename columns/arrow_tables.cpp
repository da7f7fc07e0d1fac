#include "arrow_tables.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "fields.h"
#include "input_decoding.h"

namespace tarvik::columns {

namespace {

void check(ArrowErrorCode code) {
  if (code == NANOARROW_OK) {
    return;
  }
  if (code == ENOMEM) {
    throw std::bad_alloc();
  }
  throw std::runtime_error("building an Arrow array failed: error " + std::to_string(code));
}

ArrowStringView view_of(std::string_view text) noexcept {
  return ArrowStringView{text.data(), static_cast<std::int64_t>(text.size())};
}

constexpr U128 kDecimal128Limit = [] {
  U128 limit = 1;
  for (int i = 0; i < 38; ++i) {
    limit *= 10;
  }
  return limit;
}();

U128 power_of_ten(unsigned exponent) noexcept {
  U128 out = 1;
  for (unsigned i = 0; i < exponent; ++i) {
    out *= 10;
  }
  return out;
}

// magnitude * 10^exponent in four little-endian words: at most 2^96 * 10^28, below 2^190.
std::array<std::uint64_t, 4> scaled_magnitude(U128 magnitude, unsigned exponent) noexcept {
  const U128 factor = power_of_ten(exponent);
  const std::uint64_t m[2] = {std::uint64_t(magnitude), std::uint64_t(magnitude >> 64)};
  const std::uint64_t f[2] = {std::uint64_t(factor), std::uint64_t(factor >> 64)};
  std::array<std::uint64_t, 4> out{};
  for (std::size_t i = 0; i < 2; ++i) {
    U128 carry = 0;
    for (std::size_t j = 0; j < 2; ++j) {
      const U128 sum = U128(m[i]) * f[j] + out[i + j] + carry;
      out[i + j] = std::uint64_t(sum);
      carry = sum >> 64;
    }
    out[i + 2] += std::uint64_t(carry);
  }
  return out;
}

}  // namespace

bool fits_decimal128(const std::array<std::uint64_t, 4>& words) noexcept {
  return words[2] == 0 && words[3] == 0 && ((U128(words[1]) << 64) | words[0]) < kDecimal128Limit;
}

Builder::Builder(std::size_t columns) {
  ArrowSchemaInit(table_.schema.get());
  check(ArrowSchemaSetTypeStruct(table_.schema.get(), static_cast<std::int64_t>(columns)));
}

void Builder::define(std::size_t i, std::string_view name, ArrowType type, bool nullable,
                     DecimalShape shape) {
  ArrowSchema* column = table_.schema->children[i];
  if (type == NANOARROW_TYPE_DECIMAL128) {
    check(ArrowSchemaSetTypeDecimal(
        column, shape.wide ? NANOARROW_TYPE_DECIMAL256 : NANOARROW_TYPE_DECIMAL128,
        shape.wide ? 76 : 38, shape.scale));
    shapes_.resize(static_cast<std::size_t>(table_.schema->n_children));
    shapes_[i] = shape;
  } else {
    check(ArrowSchemaSetType(column, type));
  }
  if (type == NANOARROW_TYPE_MAP) {  // of texts, the keys dictionary-encoded, to texts
    ArrowSchema* key = column->children[0]->children[0];
    check(ArrowSchemaSetType(key, NANOARROW_TYPE_INT32));
    check(ArrowSchemaAllocateDictionary(key));
    ArrowSchemaInit(key->dictionary);
    check(ArrowSchemaSetType(key->dictionary, NANOARROW_TYPE_STRING));
    check(ArrowSchemaSetType(column->children[0]->children[1], NANOARROW_TYPE_STRING));
    column->children[0]->children[1]->flags &= ~ARROW_FLAG_NULLABLE;
  }
  check(ArrowSchemaSetName(column, std::string(name).c_str()));
  if (!nullable) {
    column->flags &= ~ARROW_FLAG_NULLABLE;
  }
}

void Builder::start(std::size_t rows) {
  ArrowError error;
  check(ArrowArrayInitFromSchema(table_.batch.get(), table_.schema.get(), &error));
  check(ArrowArrayStartAppending(table_.batch.get()));
  check(ArrowArrayReserve(table_.batch.get(), static_cast<std::int64_t>(rows)));
  shapes_.resize(static_cast<std::size_t>(table_.schema->n_children));
}

void Builder::reserve_text(std::size_t i, std::size_t bytes) {
  check(ArrowBufferReserve(ArrowArrayBuffer(column(i), 2), static_cast<std::int64_t>(bytes)));
}

void Builder::append_int(std::size_t i, std::int64_t value) {
  check(ArrowArrayAppendInt(column(i), value));
}

void Builder::append_text(std::size_t i, std::string_view text) { append_string(column(i), text); }

void Builder::append_string(ArrowArray* array, std::string_view text) {
  ArrowBuffer* offsets = ArrowArrayBuffer(array, 1);
  ArrowBuffer* data = ArrowArrayBuffer(array, 2);
  const std::int64_t end = data->size_bytes + static_cast<std::int64_t>(text.size());
  if (end > std::numeric_limits<std::int32_t>::max() || end > data->capacity_bytes ||
      offsets->capacity_bytes - offsets->size_bytes < std::int64_t{sizeof(std::int32_t)}) {
    check(ArrowArrayAppendString(array, view_of(text)));
    return;
  }
  ArrowBitmap* validity = ArrowArrayValidityBitmap(array);
  if (validity->buffer.data != nullptr) {
    check(ArrowBitmapAppend(validity, 1, 1));  // a column that has had a null keeps a bitmap
  }
  ArrowBufferAppendUnsafe(data, text.data(), static_cast<std::int64_t>(text.size()));
  const auto offset = static_cast<std::int32_t>(end);
  ArrowBufferAppendUnsafe(offsets, &offset, sizeof offset);
  ++array->length;
}

void Builder::append_date(std::size_t i, const Date& date) {
  check(ArrowArrayAppendInt(column(i), epoch_days(date)));
}

void Builder::append_amount(std::size_t i, const Amount& amount) {
  append_decimal(i, rescaled_words(amount, shapes_[i].scale));
}

void Builder::append_decimal(std::size_t i, const std::array<std::uint64_t, 4>& words) {
  const DecimalShape& shape = shapes_[i];
  ArrowDecimal value;
  ArrowDecimalInit(&value, shape.wide ? 256 : 128, shape.wide ? 76 : 38, shape.scale);
  std::uint8_t bytes[32];
  for (std::size_t w = 0; w < 4; ++w) {
    for (std::size_t b = 0; b < 8; ++b) {
      bytes[w * 8 + b] = static_cast<std::uint8_t>(words[w] >> (8 * b));
    }
  }
  ArrowDecimalSetBytes(&value, bytes);
  check(ArrowArrayAppendDecimal(column(i), &value));
}

void Builder::append_null(std::size_t i) { check(ArrowArrayAppendNull(column(i), 1)); }

void Builder::append_encoded(ArrowArray* array, std::string_view bytes, Encoding encoding) {
  if (encoding != Encoding::Cp1251) {
    append_string(array, bytes);
    return;
  }
  ArrowBuffer* offsets = ArrowArrayBuffer(array, 1);
  ArrowBuffer* data = ArrowArrayBuffer(array, 2);
  check(ArrowBufferReserve(data, static_cast<std::int64_t>(cp1251_room(bytes.size()))));
  check(ArrowBufferReserve(offsets, sizeof(std::int32_t)));
  char* const at = reinterpret_cast<char*>(data->data + data->size_bytes);
  const std::int64_t end = data->size_bytes + (write_utf8(bytes, encoding, at) - at);
  if (end > std::numeric_limits<std::int32_t>::max()) {
    check(EOVERFLOW);
  }
  ArrowBitmap* validity = ArrowArrayValidityBitmap(array);
  if (validity->buffer.data != nullptr) {
    check(ArrowBitmapAppend(validity, 1, 1));
  }
  data->size_bytes = end;
  const auto offset = static_cast<std::int32_t>(end);
  ArrowBufferAppendUnsafe(offsets, &offset, sizeof offset);
  ++array->length;
}

std::int32_t Builder::key_index(ArrowArray* dictionary, std::string_view key, Encoding encoding,
                                std::size_t place) {
  if (place < last_keys_.size() && last_keys_[place].encoding == encoding &&
      last_keys_[place].key == key) {
    return last_keys_[place].index;
  }
  auto& indexes = key_indexes_[encoding == Encoding::Cp1251 ? 1 : 0];
  const auto [at, fresh] = indexes.try_emplace(key, static_cast<std::int32_t>(dictionary->length));
  if (fresh) {
    append_encoded(dictionary, key, encoding);
  }
  if (place >= last_keys_.size()) {
    last_keys_.resize(place + 1);
  }
  last_keys_[place] = PlacedKey{key, encoding, at->second};
  return at->second;
}

void Builder::append_map(std::size_t i, std::span<const Extra> pairs, Encoding encoding) {
  ArrowArray* map = column(i);
  ArrowArray* entries = map->children[0];
  ArrowArray* keys = entries->children[0];
  for (std::size_t place = 0; place < pairs.size(); ++place) {
    const Extra& pair = pairs[place];
    check(ArrowArrayAppendInt(keys, key_index(keys->dictionary, pair.key, encoding, place)));
    append_encoded(entries->children[1], pair.value, encoding);
  }
  entries->length += static_cast<std::int64_t>(pairs.size());
  const auto end = static_cast<std::int32_t>(entries->length);
  check(ArrowBufferAppend(ArrowArrayBuffer(map, 1), &end, sizeof end));
  ++map->length;
}

void Builder::end_row() { check(ArrowArrayFinishElement(table_.batch.get())); }

SharedTable Builder::finish(TableFree free) {
  ArrowError error;
  check(ArrowArrayFinishBuildingDefault(table_.batch.get(), &error));
  auto table = std::make_unique<Table>(std::move(table_));
  if (free == nullptr) {
    return SharedTable(std::move(table));
  }
  return SharedTable(table.release(), free);
}

ArrowArray* Builder::column(std::size_t i) noexcept { return table_.batch->children[i]; }

namespace {

template <class T>
void append_optional_date(Builder& b, std::size_t i, const std::optional<T>& date) {
  if (date) {
    b.append_date(i, *date);
  } else {
    b.append_null(i);
  }
}

void append_optional_amount(Builder& b, std::size_t i, const std::optional<Amount>& amount) {
  if (amount) {
    b.append_amount(i, *amount);
  } else {
    b.append_null(i);
  }
}

std::optional<Date> document_date(const Document& doc, DocField f) noexcept {
  switch (f) {
    case DocField::DocDate:
      return doc.doc_date;
    case DocField::OutcomeDate:
      return doc.outcome_date;
    case DocField::IncomeDate:
      return doc.income_date;
    default:
      return std::nullopt;
  }
}

ArrowType arrow_type(FieldKind kind) noexcept {
  switch (kind) {
    case FieldKind::Text:
    case FieldKind::OptionalText:
      return NANOARROW_TYPE_STRING;
    case FieldKind::Date:
    case FieldKind::OptionalDate:
      return NANOARROW_TYPE_DATE32;
    case FieldKind::Amount:
    case FieldKind::OptionalAmount:
      return NANOARROW_TYPE_DECIMAL128;
  }
  return NANOARROW_TYPE_STRING;
}

bool is_optional(FieldKind kind) noexcept {
  return kind == FieldKind::OptionalText || kind == FieldKind::OptionalDate ||
         kind == FieldKind::OptionalAmount;
}

// The record's own name of a document field: the rows of fields.h in DocField order.
constexpr std::size_t kDocColumnOffset = 1;  // after `line`

// The interval columns after `account`, in the order of Interval's members.
constexpr std::array<IntervalField, 6> kIntervalColumns = {
    IntervalField::DateStart, IntervalField::DateEnd,     IntervalField::StartAmount,
    IntervalField::EndAmount, IntervalField::TotalIncome, IntervalField::TotalExpense,
};

std::optional<Amount> interval_amount(const Interval& interval, IntervalField f) {
  switch (f) {
    case IntervalField::StartAmount:
      return interval.start_amount;
    case IntervalField::EndAmount:
      return interval.end_amount;
    case IntervalField::TotalIncome:
      return interval.total_income;
    case IntervalField::TotalExpense:
      return interval.total_expense;
    case IntervalField::DateStart:
    case IntervalField::DateEnd:
    case IntervalField::Number:
      break;
  }
  return std::nullopt;
}

// Releases a view of a shared batch: its own children and dictionary, then its hold on the table.
struct View {
  SharedTable keep;
  std::vector<ArrowArray> children;
  std::vector<ArrowArray*> child_pointers;
  ArrowArray dictionary{};
};

void release_view(ArrowArray* array) {
  auto* view = static_cast<View*>(array->private_data);
  for (ArrowArray& child : view->children) {
    if (child.release != nullptr) {
      child.release(&child);
    }
  }
  if (view->dictionary.release != nullptr) {
    view->dictionary.release(&view->dictionary);
  }
  delete view;
  array->release = nullptr;
}

// `out` shows the buffers of `source`, which `keep` owns, and keeps them alive.
void export_view(const SharedTable& keep, const ArrowArray& source, ArrowArray* out) {
  auto view = std::make_unique<View>();
  view->keep = keep;
  view->children.resize(static_cast<std::size_t>(source.n_children));
  for (std::size_t i = 0; i < view->children.size(); ++i) {
    export_view(keep, *source.children[i], &view->children[i]);
    view->child_pointers.push_back(&view->children[i]);
  }
  out->length = source.length;
  out->null_count = source.null_count;
  out->offset = source.offset;
  out->n_buffers = source.n_buffers;
  out->n_children = source.n_children;
  out->buffers = source.buffers;
  out->children = view->child_pointers.empty() ? nullptr : view->child_pointers.data();
  out->dictionary = nullptr;
  if (source.dictionary != nullptr) {
    export_view(keep, *source.dictionary, &view->dictionary);
    out->dictionary = &view->dictionary;
  }
  out->release = release_view;
  out->private_data = view.release();
}

}  // namespace

std::int32_t epoch_days(const Date& date) noexcept {
  // Days from the civil calendar, over eras of 400 years.
  const std::int64_t year = std::int64_t(date.year) - (date.month <= 2 ? 1 : 0);
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t year_of_era = year - era * 400;
  const std::int64_t month = date.month;
  const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + date.day - 1;
  const std::int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return static_cast<std::int32_t>(era * 146097 + day_of_era - 719468);
}

DecimalShape decimal_shape(std::span<const Amount* const> amounts) noexcept {
  DecimalShape shape;
  for (const Amount* a : amounts) {
    if (a != nullptr && a->scale > shape.scale) {
      shape.scale = a->scale;
    }
  }
  for (const Amount* a : amounts) {
    if (a != nullptr && !fits_decimal128(scaled_magnitude(
                            a->magnitude, unsigned(shape.scale) - unsigned(a->scale)))) {
      shape.wide = true;
      break;
    }
  }
  return shape;
}

std::array<std::uint64_t, 4> rescaled_words(const Amount& amount, std::uint8_t scale) noexcept {
  std::array<std::uint64_t, 4> words =
      scaled_magnitude(amount.magnitude, unsigned(scale) - unsigned(amount.scale));
  if (amount.negative) {
    bool carry = true;
    for (std::uint64_t& w : words) {
      w = ~w + (carry ? 1 : 0);
      carry = carry && w == 0;
    }
  }
  return words;
}

SharedTable document_table(std::vector<Document>& documents, const DocumentExtras& extras,
                           TableFree free) {
  std::vector<const Amount*> amounts;
  amounts.reserve(documents.size());
  std::array<std::size_t, kDocFieldCount> text_bytes{};
  for (const Document& doc : documents) {
    amounts.push_back(&doc.amount);
    for (std::size_t f = 0; f < kDocFieldCount; ++f) {
      text_bytes[f] += doc.text_sizes[f];
    }
  }
  const DecimalShape shape = decimal_shape(amounts);

  // `line`, the fields, then `extra`: the keys a document's record has no field for.
  constexpr std::size_t kExtraColumn = kDocColumnOffset + kDocFieldCount;
  Builder b(kExtraColumn + 1);
  b.define(0, "line", NANOARROW_TYPE_INT64, false);
  for (const auto& row : kDocFields) {
    b.define(kDocColumnOffset + std::size_t(row.field), row.py_name, arrow_type(row.kind),
             is_optional(row.kind), shape);
  }
  b.define(kExtraColumn, "extra", NANOARROW_TYPE_MAP, false);
  b.start(documents.size());
  for (const auto& row : kDocFields) {
    if (is_text(row.kind)) {
      b.reserve_text(kDocColumnOffset + std::size_t(row.field), text_bytes[std::size_t(row.field)]);
    }
  }
  for (std::size_t d = 0; d < documents.size(); ++d) {
    Document& doc = documents[d];
    b.append_int(0, static_cast<std::int64_t>(doc.lineno));
    std::size_t offset = 0;
    for (const auto& row : kDocFields) {
      const std::size_t f = std::size_t(row.field);
      const std::size_t i = kDocColumnOffset + f;
      switch (row.kind) {
        case FieldKind::Text:
        case FieldKind::OptionalText:
          if (doc.has(row.field)) {
            b.append_text(i, std::string_view(doc.texts).substr(offset, doc.text_sizes[f]));
          } else {
            b.append_null(i);
          }
          offset += doc.text_sizes[f];
          break;
        case FieldKind::Date:
        case FieldKind::OptionalDate:
          append_optional_date(b, i, document_date(doc, row.field));
          break;
        case FieldKind::Amount:
        case FieldKind::OptionalAmount:
          b.append_amount(i, doc.amount);
          break;
      }
    }
    const DocumentExtras::Pairs pairs = extras ? extras(d) : DocumentExtras::Pairs{};
    b.append_map(kExtraColumn, pairs.extras, pairs.encoding);
    b.end_row();
    // The table holds the texts now; the statement's copy goes at once.
    std::string().swap(doc.texts);
  }
  return b.finish(free);
}

SharedTable interval_table(const std::vector<Account>& accounts, TableFree free) {
  std::size_t rows = 0;
  for (const Account& account : accounts) {
    rows += account.intervals.size();
  }
  // `line`, `account`, then the figures.
  constexpr std::size_t kFirst = 2;
  Builder b(kFirst + kIntervalColumns.size());
  b.define(0, "line", NANOARROW_TYPE_INT64, false);
  b.define(1, "account", NANOARROW_TYPE_STRING, false);
  for (std::size_t c = 0; c < kIntervalColumns.size(); ++c) {
    const auto& row = kIntervalFields[std::size_t(kIntervalColumns[c])];
    DecimalShape shape;
    if (arrow_type(row.kind) == NANOARROW_TYPE_DECIMAL128) {
      std::vector<std::optional<Amount>> values;
      for (const Account& account : accounts) {
        for (const Interval& interval : account.intervals) {
          values.push_back(interval_amount(interval, row.field));
        }
      }
      std::vector<const Amount*> amounts;
      for (const auto& v : values) {
        amounts.push_back(v ? &*v : nullptr);
      }
      shape = decimal_shape(amounts);
    }
    b.define(kFirst + c, row.py_name, arrow_type(row.kind), is_optional(row.kind), shape);
  }
  b.start(rows);
  for (const Account& account : accounts) {
    for (const Interval& interval : account.intervals) {
      b.append_int(0, static_cast<std::int64_t>(interval.lineno));
      b.append_text(1, account.number);
      for (std::size_t c = 0; c < kIntervalColumns.size(); ++c) {
        const std::size_t i = kFirst + c;
        switch (kIntervalColumns[c]) {
          case IntervalField::DateStart:
            b.append_date(i, interval.date_start);
            break;
          case IntervalField::DateEnd:
            append_optional_date(b, i, interval.date_end);
            break;
          case IntervalField::StartAmount:
          case IntervalField::EndAmount:
          case IntervalField::TotalIncome:
          case IntervalField::TotalExpense:
            append_optional_amount(b, i, interval_amount(interval, kIntervalColumns[c]));
            break;
          case IntervalField::Number:
            break;
        }
      }
      b.end_row();
    }
  }
  return b.finish(free);
}

SharedTable lined_table(const LinedTexts& rows, TableFree free) {
  Builder b(1 + rows.names.size());
  b.define(0, "line", NANOARROW_TYPE_INT64, false);
  for (std::size_t c = 0; c < rows.names.size(); ++c) {
    b.define(1 + c, rows.names[c], NANOARROW_TYPE_STRING, rows.nullable[c]);
  }
  b.start(rows.lines.size());
  for (std::size_t r = 0; r < rows.lines.size(); ++r) {
    b.append_int(0, rows.lines[r]);
    for (std::size_t c = 0; c < rows.names.size(); ++c) {
      if (const auto& text = rows.texts[c][r]) {
        b.append_text(1 + c, *text);
      } else {
        b.append_null(1 + c);
      }
    }
    b.end_row();
  }
  return b.finish(free);
}

SharedTable warning_table(const std::vector<ParseWarning>& warnings,
                          std::span<const std::uint64_t> account_lines, TableFree free) {
  LinedTexts rows;
  rows.names = {"message", "section"};
  rows.nullable = {false, false};
  rows.texts.resize(2);
  for (const ParseWarning& w : warnings) {
    rows.lines.push_back(static_cast<std::int64_t>(w.lineno));
    rows.texts[0].emplace_back(w.message);
    const bool account = std::binary_search(account_lines.begin(), account_lines.end(), w.lineno);
    rows.texts[1].emplace_back(account ? "account" : "document");
  }
  return lined_table(rows, free);
}

namespace {

// The changes' table, each message from `message_of(change, index)`; nullopt where one is not
// given.
// The changes' table, each message appended by `append_message_of(change, index, out)`, which
// may refuse; nullopt then.
template <class AppendMessage>
std::optional<SharedTable> changes(const ChangeLog& log, AppendMessage&& append_message_of,
                                   TableFree free) {
  // The texts of every row, UTF-8, one after the other: key, old, new and message; the rows are
  // appended once they are all there, so that each column's buffer grows once.
  std::string texts;
  std::vector<std::uint32_t> sizes;
  sizes.reserve(4 * log.size());
  std::array<std::size_t, 4> bytes{};
  std::string room;
  for (std::size_t i = 0; i < log.size(); ++i) {
    const Change change = log.at(i, room);
    std::size_t start = texts.size();
    std::size_t column = 0;
    for (const std::string_view text :
         {change.key, change.old.value_or(std::string_view()), change.value}) {
      texts.append(text);
      sizes.push_back(static_cast<std::uint32_t>(text.size()));
      bytes[column++] += text.size();
      start = texts.size();
    }
    if (!append_message_of(change, i, texts)) {
      return std::nullopt;
    }
    sizes.push_back(static_cast<std::uint32_t>(texts.size() - start));
    bytes[3] += texts.size() - start;
  }
  constexpr std::array<std::string_view, 4> kTexts = {"key", "old", "new", "message"};
  Builder b(2 + kTexts.size());
  b.define(0, "line", NANOARROW_TYPE_INT64, false);
  b.define(1, "repair", NANOARROW_TYPE_STRING, false);
  for (std::size_t c = 0; c < kTexts.size(); ++c) {
    b.define(2 + c, kTexts[c], NANOARROW_TYPE_STRING, kTexts[c] == "old");
  }
  b.start(log.size());
  for (std::size_t c = 0; c < kTexts.size(); ++c) {
    b.reserve_text(2 + c, bytes[c]);
  }
  std::size_t at = 0;
  std::size_t next = 0;
  for (std::size_t i = 0; i < log.size(); ++i) {
    const Change change = log.at(i, room);
    b.append_int(0, static_cast<std::int64_t>(change.lineno));
    b.append_text(1, name(change.repair));
    for (std::size_t c = 0; c < kTexts.size(); ++c) {
      const std::string_view text(texts.data() + at, sizes[next]);
      at += sizes[next++];
      if (c == 1 && !change.old) {
        b.append_null(2 + c);
      } else {
        b.append_text(2 + c, text);
      }
    }
    b.end_row();
  }
  return b.finish(free);
}

}  // namespace

std::optional<SharedTable> change_table(const ChangeLog& log, TableFree free) {
  return changes(
      log,
      [](const Change& change, std::size_t, std::string& out) {
        return append_message(change, out);
      },
      free);
}

SharedTable change_table(const ChangeLog& log, std::span<const std::string> messages,
                         TableFree free) {
  return *changes(
      log,
      [messages](const Change&, std::size_t i, std::string& out) {
        out.append(messages[i]);
        return true;
      },
      free);
}

void export_stream(const SharedTable& table, ArrowArrayStream* out) {
  nanoarrow::UniqueSchema schema;
  export_schema(*table, schema.get());
  nanoarrow::UniqueArray batch;
  export_view(table, *table->batch.get(), batch.get());
  check(ArrowBasicArrayStreamInit(out, schema.get(), 1));
  ArrowBasicArrayStreamSetArray(out, 0, batch.get());
}

void export_schema(const Table& table, ArrowSchema* out) {
  check(ArrowSchemaDeepCopy(table.schema.get(), out));
}

}  // namespace tarvik::columns
