#include "statement.h"

#include "fields.h"

namespace tarvik {

bool operator==(const Document& a, const Document& b) noexcept {
  if (a.present != b.present || a.doc_date != b.doc_date || a.outcome_date != b.outcome_date ||
      a.income_date != b.income_date || a.amount != b.amount) {
    return false;
  }
  for (std::size_t i = 0; i < kDocFieldCount; ++i) {
    const auto f = static_cast<DocField>(i);
    if (is_text(kind_of(f)) && a.text(f) != b.text(f)) {
      return false;
    }
  }
  return true;
}

}  // namespace tarvik
