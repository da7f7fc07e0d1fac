#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "attr_map.h"
#include "fields.h"
#include "result.h"
#include "statement.h"

namespace tarvik {

// The keys a document is read from, numbered by rank: ascending by their UTF-8 bytes, which is
// also the order in which their values are checked (see fields.h).
inline constexpr std::size_t kDocumentKeyCount = kDocFieldCount;
// The rank of `key`, given in the bytes of `encoding`, or -1 for a key no field is read from.
int document_key_rank(std::string_view key, Encoding encoding = Encoding::Utf8) noexcept;
std::string_view document_key(std::size_t rank) noexcept;
inline constexpr std::size_t kDocTypeRank = kDocRankOf[std::size_t(DocField::DocType)];

// The values of one section by key rank; absent keys stay empty. Views into the caller's text.
using DocumentValues = std::array<std::optional<std::string_view>, kDocumentKeyCount>;

// A Document, or the text of the warning it turns into. The type overrides an attribute of the
// key "СекцияДокумент". The values and the type are in the bytes of `encoding`; the document's
// texts and the warning are UTF-8. Allocates the document's one text buffer.
Result<Document, std::string> build_document(const DocumentValues& values,
                                             std::string_view doc_type,
                                             Encoding encoding = Encoding::Utf8);

}  // namespace tarvik
