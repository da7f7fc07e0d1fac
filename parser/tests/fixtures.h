#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "amount.h"
#include "date.h"
#include "failure.h"
#include "fields.h"
#include "statement.h"

namespace tarvik::testing {

// Joins lines with CR LF, each line ended, as bank exports write them.
inline std::string statement(std::initializer_list<std::string_view> lines) {
  std::string out;
  for (std::string_view line : lines) {
    out += line;
    out += "\r\n";
  }
  return out;
}

// Re-encodes UTF-8 text made of ASCII, Cyrillic letters (U+0410..U+044F, Ё, ё), the numero sign,
// guillemets, the no-break space and the em dash into windows-1251 bytes; anything else becomes
// '?'.
inline std::string to_cp1251(std::string_view utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b0 = static_cast<unsigned char>(utf8[i]);
    if (b0 < 0x80) {
      out += static_cast<char>(b0);
      ++i;
      continue;
    }
    char32_t c;
    if ((b0 & 0xE0) == 0xC0) {
      c = char32_t(((b0 & 0x1FU) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3FU));
      i += 2;
    } else {
      c = char32_t(((b0 & 0x0FU) << 12) | ((static_cast<unsigned char>(utf8[i + 1]) & 0x3FU) << 6) |
                   (static_cast<unsigned char>(utf8[i + 2]) & 0x3FU));
      i += 3;
    }
    if (c >= 0x410 && c <= 0x44F) {
      out += static_cast<char>(c - 0x410 + 0xC0);
    } else if (c == 0x401) {
      out += '\xA8';
    } else if (c == 0x451) {
      out += '\xB8';
    } else if (c == 0x2116) {
      out += '\xB9';
    } else if (c == 0xAB || c == 0xBB || c == 0xA0) {
      out += static_cast<char>(c);
    } else if (c == 0x2014) {
      out += '\x97';
    } else {
      out += '?';
    }
  }
  return out;
}

// Statement lines built from reusable groups: a test splices standard sections between its own
// lines and still names each line it cares about by its number.
using Lines = std::vector<std::string>;

inline Lines concat(std::initializer_list<Lines> groups) {
  Lines out;
  for (const Lines& group : groups) {
    out.insert(out.end(), group.begin(), group.end());
  }
  return out;
}

// As statement(), for lines assembled with concat().
inline std::string statement_text(const Lines& lines) {
  std::string out;
  for (const std::string& line : lines) {
    out += line;
    out += "\r\n";
  }
  return out;
}

// A document section that builds: its opening line, the twelve required attribute keys and its
// closing line (14 lines). `number` fills "Номер".
inline Lines document_section(std::string_view number,
                              std::string_view type = "Платежное поручение") {
  return {
      "СекцияДокумент=" + std::string(type),
      "Номер=" + std::string(number),
      "Дата=05.03.2024",
      "Сумма=1500.00",
      "ПлательщикСчет=40702810000000000001",
      "ПлательщикИНН=7700000001",
      "ПлательщикБИК=044525001",
      "ПлательщикБанк1=Банк плательщика",
      "ПолучательСчет=40702810000000000002",
      "ПолучательИНН=7700000002",
      "ПолучательБИК=044525002",
      "ПолучательБанк1=Банк получателя",
      "НазначениеПлатежа=Оплата по счету " + std::string(number),
      "КонецДокумента",
  };
}

// An account section that builds (5 lines).
inline Lines account_section(std::string_view number, std::string_view date_start = "01.03.2024",
                             std::string_view start_amount = "100.00") {
  return {
      "СекцияРасчСчет",
      "ДатаНачала=" + std::string(date_start),
      "РасчСчет=" + std::string(number),
      "НачальныйОстаток=" + std::string(start_amount),
      "КонецРасчСчет",
  };
}

// The written forms below are the tests' own, so a fault in the production formatting does not
// hide behind a test that uses it.

// Plain digits with exactly `scale` fraction digits.
inline std::string written(const Amount& a) {
  std::string digits;
  U128 m = a.magnitude;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(m % 10)));
    m /= 10;
  } while (m != 0);
  while (digits.size() < std::size_t{a.scale} + 1) {
    digits.insert(digits.begin(), '0');
  }
  if (a.scale > 0) {
    digits.insert(digits.end() - a.scale, '.');
  }
  return (a.negative ? "-" : "") + digits;
}

inline std::string written(Date d) {
  auto padded = [](long value, std::size_t width) {
    std::string s = std::to_string(value < 0 ? -value : value);
    while (s.size() < width) {
      s.insert(s.begin(), '0');
    }
    return (value < 0 ? "-" : "") + s;
  };
  return padded(d.year, 4) + "-" + padded(d.month, 2) + "-" + padded(d.day, 2);
}

template <class T>
std::string written(const std::optional<T>& value) {
  return value ? written(*value) : "-";
}

inline Amount amount(U128 magnitude, std::uint8_t scale, bool negative = false) {
  return Amount{magnitude, scale, negative};
}

// One line per field, "name=value", with "-" for an absent optional field; texts in brackets so
// that an empty text differs from an absent one.
inline std::string describe(const Document& doc) {
  std::string out;
  for (std::size_t i = 0; i < kDocFieldCount; ++i) {
    const auto f = static_cast<DocField>(i);
    out += kDocFields[i].py_name;
    out += '=';
    switch (kind_of(f)) {
      case FieldKind::Text:
        out += "[" + std::string(doc.text(f)) + "]";
        break;
      case FieldKind::OptionalText:
        out += doc.has(f) ? "[" + std::string(doc.text(f)) + "]" : "-";
        break;
      case FieldKind::Date:
        out += written(doc.doc_date);
        break;
      case FieldKind::OptionalDate:
        out += written(f == DocField::OutcomeDate ? doc.outcome_date : doc.income_date);
        break;
      case FieldKind::Amount:
      case FieldKind::OptionalAmount:
        out += written(doc.amount);
        break;
    }
    out += '\n';
  }
  return out;
}

inline std::string describe(const Interval& i) {
  return written(i.date_start) + ".." + written(i.date_end) + " start=" + written(i.start_amount) +
         " end=" + written(i.end_amount) + " in=" + written(i.total_income) +
         " out=" + written(i.total_expense);
}

inline std::vector<std::string> describe(const std::vector<Interval>& intervals) {
  std::vector<std::string> out;
  for (const Interval& i : intervals) {
    out.push_back(describe(i));
  }
  return out;
}

// "{key=value, ...}" in map order.
inline std::string describe(const AttrMap& map) {
  std::string out = "{";
  for (const auto& e : map) {
    out += (out.size() > 1 ? ", " : "") + e.key + "=" + e.value;
  }
  return out + "}";
}

inline std::vector<std::string> doc_numbers(const Statement& s) {
  std::vector<std::string> out;
  for (const Document& d : s.documents) {
    out.emplace_back(d.text(DocField::DocNumber));
  }
  return out;
}

// "lineno: message" per warning.
inline std::vector<std::string> warnings(const Statement& s) {
  std::vector<std::string> out;
  for (const ParseWarning& w : s.warnings) {
    out.push_back(std::to_string(w.lineno) + ": " + w.message);
  }
  return out;
}

// A failure with every field, the context by our own spelling, so a comparison shows what differs.
inline std::string describe(const SyntaxDetail& detail) {
  constexpr std::string_view kContexts[] = {"Header",   "Document", "Account",
                                            "Finished", "Init",     "ReadNextSection"};
  auto context = [&](ReaderContext c) { return std::string(kContexts[std::size_t(c)]); };
  auto line = [](std::uint64_t n) { return std::to_string(n); };
  return std::visit(
      [&](const auto& d) -> std::string {
        using T = std::decay_t<decltype(d)>;
        if constexpr (std::is_same_v<T, UnexpectedSection>) {
          return "UnexpectedSection(" + line(d.lineno) + ", [" + d.found + "], " +
                 context(d.context) + ")";
        } else if constexpr (std::is_same_v<T, UnexpectedAttribute>) {
          return "UnexpectedAttribute(" + line(d.lineno) + ", [" + d.key + "], [" + d.value + "])";
        } else if constexpr (std::is_same_v<T, UnrecognizedLine>) {
          return "UnrecognizedLine(" + line(d.lineno) + ", [" + d.line + "])";
        } else if constexpr (std::is_same_v<T, MissingField>) {
          return "MissingField(" + line(d.lineno) + ", [" + d.field + "], " + context(d.context) +
                 ")";
        } else if constexpr (std::is_same_v<T, AccountParseError>) {
          return "AccountParseError(" + line(d.lineno) + ", [" + d.message + "])";
        } else {
          static_assert(std::is_same_v<T, HookError>);
          return "HookError(" + line(d.lineno) + ", [" + d.message + "])";
        }
      },
      detail);
}

inline std::string describe(const ParseFailure& failure) {
  if (std::holds_alternative<NotStatement>(failure)) {
    return "NotStatement";
  }
  if (std::holds_alternative<Unfinished>(failure)) {
    return "Unfinished";
  }
  return describe(std::get<SyntaxDetail>(failure));
}

// "statement" for a success, else the failure described.
template <class Outcome>
std::string outcome(const Outcome& result) {
  return result.has_value() ? std::string("statement") : describe(result.error());
}

}  // namespace tarvik::testing
