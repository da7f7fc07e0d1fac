#include "document_builder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "amount.h"
#include "cp1251.h"
#include "date.h"
#include "failure.h"
#include "input_decoding.h"

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
// comparison. windows-1251 keys have a table of their own, matched on undecoded bytes.
constexpr std::size_t kMinKeySize = 4;  // for the last four bytes

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

using KeysByRank = std::array<std::string_view, kDocumentKeyCount>;

struct KeyTable {
  std::uint32_t seed = 0;
  std::array<std::int8_t, std::size_t{1} << kSlotBits> ranks{};
  std::size_t max_size = 0;
};

// The first odd multiplier under which no two keys share a slot; a key set that finds none within
// the tries, or holds a key too short to hash, fails to compile.
constexpr KeyTable make_key_table(const KeysByRank& keys) {
  std::size_t max_size = 0;
  for (const std::string_view key : keys) {
    if (key.size() < kMinKeySize) {
      throw "a document key too short to hash";
    }
    max_size = std::max(max_size, key.size());
  }
  for (std::uint32_t seed = 0x9E3779B1U; seed < 0x9E3779B1U + 20000; seed += 2) {
    KeyTable table{seed, {}, max_size};
    table.ranks.fill(-1);
    bool clash = false;
    for (std::size_t r = 0; r < kDocumentKeyCount && !clash; ++r) {
      std::int8_t& slot = table.ranks[slot_of(keys[r], seed)];
      clash = slot != -1;
      slot = static_cast<std::int8_t>(r);
    }
    if (!clash) {
      return table;
    }
  }
  throw "no perfect hash for the document keys";
}

constexpr std::array<Cp1251Text, kDocumentKeyCount> kCp1251Keys = [] {
  std::array<Cp1251Text, kDocumentKeyCount> out{};
  for (std::size_t r = 0; r < kDocumentKeyCount; ++r) {
    out[r] = to_cp1251_text(key_of_rank(r));
  }
  return out;
}();

// The keys by rank and their table, in the bytes of one encoding.
struct KeyForm {
  KeysByRank keys;
  KeyTable table;
};

constexpr KeyForm make_key_form(const KeysByRank& keys) { return {keys, make_key_table(keys)}; }

constexpr KeyForm kUtf8Keys = make_key_form([] {
  KeysByRank out{};
  for (std::size_t r = 0; r < kDocumentKeyCount; ++r) {
    out[r] = key_of_rank(r);
  }
  return out;
}());
constexpr KeyForm kCp1251KeyForm = make_key_form([] {
  KeysByRank out{};
  for (std::size_t r = 0; r < kDocumentKeyCount; ++r) {
    out[r] = kCp1251Keys[r].view();
  }
  return out;
}());

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

int document_key_rank(std::string_view key, Encoding encoding) noexcept {
  const KeyForm& form = encoding == Encoding::Cp1251 ? kCp1251KeyForm : kUtf8Keys;
  if (key.size() > form.table.max_size || key.size() < kMinKeySize) {
    return -1;
  }
  const std::int8_t r = form.table.ranks[slot_of(key, form.table.seed)];
  if (r < 0) {
    return -1;
  }
  const std::string_view candidate = form.keys[static_cast<std::size_t>(r)];
  if (candidate.size() == key.size() && same_key(candidate.data(), key.data(), key.size())) {
    return r;
  }
  return -1;
}

std::string_view document_key(std::size_t rank) noexcept { return key_of_rank(rank); }

Result<Document, std::string> build_document(const DocumentValues& given, std::string_view doc_type,
                                             Encoding encoding) {
  Document doc;
  std::string scratch;  // a date or amount that is not ASCII, as UTF-8
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
        auto date = parse_date(as_utf8(*value, encoding, scratch));
        if (!date) {
          return Err{std::string(message(date.error()))};
        }
        doc.doc_date = *date;
        break;
      }
      case FieldKind::OptionalDate: {
        auto date = parse_optional_date(as_utf8(*value, encoding, scratch));
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
        const std::string_view text = as_utf8(*value, encoding, scratch);
        auto amount = parse_amount(text);
        if (!amount) {
          return Err{invalid_amount_message(text)};
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
  // Each text is made UTF-8 once, where it is stored.
  const auto put_texts = [&](char* out) {
    for (std::size_t f = 0; f < kDocFieldCount; ++f) {
      const auto field = static_cast<DocField>(f);
      if (is_text(kind_of(field)) && doc.has(field)) {
        const std::size_t r = kDocRankOf[f];
        const std::string_view value = r == kDocTypeRank ? doc_type : *given[r];
        char* const end = write_utf8(value, encoding, out);
        doc.text_sizes[f] = static_cast<std::uint32_t>(end - out);
        out = end;
      }
    }
    return out;
  };
  // Sizes count in 32 bits; four gigabytes of text in one document cannot be held as one.
  constexpr std::size_t kMaxTextSize = std::numeric_limits<std::uint32_t>::max();
  if (encoding != Encoding::Cp1251) {
    if (text_size > kMaxTextSize) {
      throw std::bad_alloc();
    }
    doc.texts.resize(text_size);
    put_texts(doc.texts.data());
    return doc;
  }
  // windows-1251 is decoded into room on the stack (on the heap for a document too large for it)
  // and copied once, so that the buffer is allocated at its size without a pass to measure it.
  constexpr std::size_t kStackRoom = 4096;
  char stack_room[kStackRoom];
  std::unique_ptr<char[]> heap_room;
  char* room = stack_room;
  if (cp1251_room(text_size) > kStackRoom) {
    heap_room = std::make_unique_for_overwrite<char[]>(cp1251_room(text_size));
    room = heap_room.get();
  }
  const auto decoded_size = static_cast<std::size_t>(put_texts(room) - room);
  if (decoded_size > kMaxTextSize) {
    throw std::bad_alloc();
  }
  doc.texts.assign(room, decoded_size);
  return doc;
}

}  // namespace tarvik
