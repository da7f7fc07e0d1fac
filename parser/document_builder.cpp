#include "document_builder.h"

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

// Keys bucketed by byte length; every line of a section is looked up, known key or not.
constexpr std::size_t kMaxKeySize = 36;
struct Buckets {
  std::array<std::array<std::int8_t, 8>, kMaxKeySize + 1> ranks{};
  constexpr Buckets() {
    for (auto& b : ranks) {
      b.fill(-1);
    }
    for (std::size_t r = 0; r < kDocumentKeyCount; ++r) {
      auto& b = ranks[key_of_rank(r).size()];
      std::size_t i = 0;
      while (b[i] != -1) {
        ++i;
      }
      b[i] = static_cast<std::int8_t>(r);
    }
  }
};
constexpr Buckets kBuckets;

template <class Word>
Word load(const char* p) noexcept {
  Word v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

std::uint32_t last4(std::string_view s) noexcept {
  return load<std::uint32_t>(s.data() + s.size() - 4);
}

// Whether two keys of the same size, at least 4 bytes, whose last four bytes agree, agree in
// full. Words compared in place cost less than a call for keys this short; the last word may
// overlap the one before it.
bool same_key(const char* a, const char* b, std::size_t size) noexcept {
  if (size < 8) {
    return load<std::uint32_t>(a) == load<std::uint32_t>(b);
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
  if (key.size() > kMaxKeySize || key.size() < 4) {
    return -1;
  }
  const std::uint32_t tail = last4(key);
  for (const std::int8_t r : kBuckets.ranks[key.size()]) {
    if (r < 0) {
      break;
    }
    const std::string_view candidate = key_of_rank(static_cast<std::size_t>(r));
    if (last4(candidate) == tail && same_key(candidate.data(), key.data(), key.size())) {
      return r;
    }
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
