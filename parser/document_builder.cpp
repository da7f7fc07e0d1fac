#include "document_builder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include "amount.h"
#include "date.h"
#include "failure.h"

namespace tarvik {

namespace {

constexpr std::string_view key_of_rank(std::size_t rank) noexcept {
  return kDocFields[std::size_t(kDocFieldByRank[rank])].key;
}

constexpr std::array<DocField, required_count(kDocFields)> kRequired =
    required_order<required_count(kDocFields)>(kDocFields);

// A document's one amount is required; the builder holds no optional one.
constexpr bool has_optional_amount() {
  for (const auto& row : kDocFields) {
    if (row.kind == FieldKind::OptionalAmount) {
      return true;
    }
  }
  return false;
}
static_assert(!has_optional_amount());

// Every line of a section is looked up, known key or not, so the keys are hashed perfectly: by
// their size and first and last four bytes (the payer's and the payee's keys differ only in the
// first) into a table in which each has a slot of its own, so that a lookup is one probe and one
// comparison.
constexpr std::size_t kMinKeySize = 4;  // for the last four bytes
constexpr std::size_t kMaxKeySize = [] {
  std::size_t most = 0;
  for (const auto& row : kDocFields) {
    most = std::max(most, row.key.size());
  }
  return most;
}();

// Four bytes from `at` as one number, the same on any byte order; compilers make it one load.
constexpr std::uint32_t word4(std::string_view s, std::size_t at) noexcept {
  const auto byte = [&](std::size_t i) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + i]));
  };
  return byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
}
constexpr std::uint32_t first4(std::string_view s) noexcept { return word4(s, 0); }
constexpr std::uint32_t last4(std::string_view s) noexcept { return word4(s, s.size() - 4); }

constexpr unsigned kSlotBits = 7;

constexpr std::size_t slot_of(std::string_view key, std::uint32_t seed) noexcept {
  const std::uint32_t mixed =
      (first4(key) * 0x85EBCA6BU) ^ last4(key) ^ static_cast<std::uint32_t>(key.size());
  return (mixed * seed) >> (32 - kSlotBits);
}

struct KeyTable {
  std::uint32_t seed = 0;
  std::array<std::int8_t, std::size_t{1} << kSlotBits> ranks{};
};

// The first odd multiplier under which no two keys share a slot; a key set that finds none within
// the tries fails to compile.
constexpr KeyTable make_key_table() {
  for (std::uint32_t seed = 0x9E3779B1U; seed < 0x9E3779B1U + 20000; seed += 2) {
    KeyTable table{seed, {}};
    table.ranks.fill(-1);
    bool clash = false;
    for (std::size_t r = 0; r < kDocumentKeyCount && !clash; ++r) {
      const std::string_view key = key_of_rank(r);
      std::int8_t& slot = table.ranks[slot_of(key, seed)];
      clash = slot != -1;
      slot = static_cast<std::int8_t>(r);
    }
    if (!clash) {
      return table;
    }
  }
  throw "no perfect hash for the document keys";
}
constexpr KeyTable kKeyTable = make_key_table();

constexpr bool keys_fit() {
  for (const auto& row : kDocFields) {
    if (row.key.size() < kMinKeySize) {
      return false;
    }
  }
  return true;
}
static_assert(keys_fit());

template <class Word>
Word load(const char* p) noexcept {
  Word v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Whether two keys of the same size, at least 4 bytes, agree. Words compared in place cost less
// than a call for keys this short; the last word may overlap the one before it.
bool same_key(const char* a, const char* b, std::size_t size) noexcept {
  if (size < 8) {
    return load<std::uint32_t>(a) == load<std::uint32_t>(b) &&
           load<std::uint32_t>(a + size - 4) == load<std::uint32_t>(b + size - 4);
  }
  for (std::size_t i = 0; i + 8 < size; i += 8) {
    if (load<std::uint64_t>(a + i) != load<std::uint64_t>(b + i)) {
      return false;
    }
  }
  return load<std::uint64_t>(a + size - 8) == load<std::uint64_t>(b + size - 8);
}

}  // namespace

int document_key_rank(std::string_view key) noexcept {
  if (key.size() > kMaxKeySize || key.size() < kMinKeySize) {
    return -1;
  }
  const std::int8_t r = kKeyTable.ranks[slot_of(key, kKeyTable.seed)];
  if (r < 0) {
    return -1;
  }
  const std::string_view candidate = key_of_rank(static_cast<std::size_t>(r));
  if (candidate.size() == key.size() && same_key(candidate.data(), key.data(), key.size())) {
    return r;
  }
  return -1;
}

std::string_view document_key(std::size_t rank) noexcept { return key_of_rank(rank); }

Result<Document, std::string> build_document(const DocumentValues& given,
                                             std::string_view doc_type) {
  Document doc;
  std::size_t text_size = 0;
  for (std::size_t r = 0; r < kDocumentKeyCount; ++r) {
    const std::optional<std::string_view> value = r == kDocTypeRank ? doc_type : given[r];
    if (!value) {
      continue;
    }
    const DocField field = kDocFieldByRank[r];
    switch (kind_of(field)) {
      case FieldKind::Text:
      case FieldKind::OptionalText:
        text_size += value->size();
        break;
      case FieldKind::Date: {
        auto date = parse_date(*value);
        if (!date) {
          return Err{std::string(message(date.error()))};
        }
        doc.doc_date = *date;
        break;
      }
      case FieldKind::OptionalDate: {
        auto date = parse_optional_date(*value);
        if (!date) {
          return Err{std::string(message(date.error()))};
        }
        if (!*date) {
          // A blank date reads as no date at all, so it must not mark the field present:
          // documents compare by their present fields.
          continue;
        }
        (field == DocField::OutcomeDate ? doc.outcome_date : doc.income_date) = *date;
        break;
      }
      case FieldKind::Amount:
      case FieldKind::OptionalAmount: {
        auto amount = parse_amount(*value);
        if (!amount) {
          return Err{invalid_amount_message(*value)};
        }
        doc.amount = *amount;
        break;
      }
    }
    doc.present |= 1U << unsigned(field);
  }
  for (const DocField f : kRequired) {
    if (!doc.has(f)) {
      return Err{missing_field_message(kDocFields[std::size_t(f)].key)};
    }
  }
  if (text_size > std::numeric_limits<std::uint32_t>::max()) {
    // Sizes count in 32 bits; four gigabytes of text in one document cannot be held as one.
    throw std::bad_alloc();
  }
  doc.texts.reserve(text_size);
  for (std::size_t f = 0; f < kDocFieldCount; ++f) {
    const auto field = static_cast<DocField>(f);
    if (is_text(kind_of(field)) && doc.has(field)) {
      const std::size_t r = kDocRankOf[f];
      const std::string_view value = r == kDocTypeRank ? doc_type : *given[r];
      doc.text_sizes[f] = static_cast<std::uint32_t>(value.size());
      doc.texts.append(value);
    }
  }
  return doc;
}

}  // namespace tarvik
