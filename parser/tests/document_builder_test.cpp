#include "document_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "fixtures.h"

namespace tarvik {
namespace {

using testing::describe;

constexpr std::string_view kAmountMessageTail =
    ", expected a Decimal type representing a fixed-point number";

std::string amount_message(std::string_view quoted) {
  return "invalid value: string " + std::string(quoted) + std::string(kAmountMessageTail);
}

// The twelve required attribute keys ("СекцияДокумент" comes from the opening line), in the
// order in which a missing one is reported.
const std::vector<std::string> kRequiredKeys = {
    "Номер",         "Дата",           "НазначениеПлатежа", "Сумма",
    "ПлательщикИНН", "ПлательщикБИК",  "ПлательщикБанк1",   "ПлательщикСчет",
    "ПолучательИНН", "ПолучательСчет", "ПолучательБИК",     "ПолучательБанк1",
};

AttrMap required_only() {
  return {
      {"Номер", "17"},
      {"Дата", "05.03.2024"},
      {"Сумма", "1500.00"},
      {"НазначениеПлатежа", "Оплата по счету 17"},
      {"ПлательщикИНН", "7700000001"},
      {"ПлательщикБИК", "044525001"},
      {"ПлательщикБанк1", "Банк плательщика"},
      {"ПлательщикСчет", "40702810000000000001"},
      {"ПолучательИНН", "7700000002"},
      {"ПолучательСчет", "40702810000000000002"},
      {"ПолучательБИК", "044525002"},
      {"ПолучательБанк1", "Банк получателя"},
  };
}

constexpr std::string_view kRequiredOnly =
    "doc_number=[17]\n"
    "doc_type=[Платежное поручение]\n"
    "doc_date=2024-03-05\n"
    "amount=1500.00\n"
    "purpose=[Оплата по счету 17]\n"
    "payment_type=-\n"
    "ordering=-\n"
    "counterparty_inn=[7700000001]\n"
    "counterparty_kpp=-\n"
    "counterparty_bic=[044525001]\n"
    "counterparty_bank1=[Банк плательщика]\n"
    "counterparty_account=[40702810000000000001]\n"
    "counterparty=-\n"
    "counterparty_1=-\n"
    "counterparty_ras_account=-\n"
    "counterparty_cor_account=-\n"
    "outcome_date=-\n"
    "payee_inn=[7700000002]\n"
    "payee=-\n"
    "payee_account=[40702810000000000002]\n"
    "payee_kpp=-\n"
    "payee_bic=[044525002]\n"
    "payee_bank1=[Банк получателя]\n"
    "payee_ras_account=-\n"
    "payee_cor_account=-\n"
    "income_date=-\n";

// `base` with some keys set (value given) or removed (nullopt); kept keys keep their place.
AttrMap edited(const AttrMap& base,
               std::vector<std::pair<std::string, std::optional<std::string>>> edits) {
  AttrMap out;
  for (const auto& e : base) {
    bool removed = false;
    for (const auto& [k, v] : edits) {
      removed = removed || (k == e.key && !v);
    }
    if (!removed) {
      out.insert(e.key, e.value);
    }
  }
  for (const auto& [k, v] : edits) {
    if (v) {
      out.insert(k, *v);
    }
  }
  return out;
}

DocumentValues values_of(const AttrMap& attrs) {
  DocumentValues values;
  for (const auto& e : attrs) {
    const int rank = document_key_rank(e.key);
    if (rank >= 0) {
      values[static_cast<std::size_t>(rank)] = e.value;
    }
  }
  return values;
}

// The document described, or the failure message.
std::string built(const AttrMap& attrs, std::string_view doc_type) {
  const auto document = build_document(values_of(attrs), doc_type);
  return document ? describe(document.value()) : "failure: " + document.error();
}

std::string failure(std::string_view message) { return "failure: " + std::string(message); }

// The described required-only document with some lines replaced.
std::string required_only_with(std::vector<std::pair<std::string, std::string>> lines) {
  std::string out(kRequiredOnly);
  for (const auto& [field, text] : lines) {
    const std::string prefix = field + "=";
    const auto at = out.find("\n" + prefix);
    const std::size_t start = out.compare(0, prefix.size(), prefix) == 0 ? 0 : at + 1;
    const std::size_t end = out.find('\n', start);
    out.replace(start, end - start, prefix + text);
  }
  return out;
}

TEST(DocumentKeyRank, NumbersTheKeysByTheirBytes) {
  const std::string_view ordered[] = {
      "ВидОплаты",          "Дата",
      "ДатаПоступило",      "ДатаСписано",
      "НазначениеПлатежа",  "Номер",
      "Очередность",        "Плательщик",
      "Плательщик1",        "ПлательщикБИК",
      "ПлательщикБанк1",    "ПлательщикИНН",
      "ПлательщикКПП",      "ПлательщикКорсчет",
      "ПлательщикРасчСчет", "ПлательщикСчет",
      "Получатель",         "ПолучательБИК",
      "ПолучательБанк1",    "ПолучательИНН",
      "ПолучательКПП",      "ПолучательКорсчет",
      "ПолучательРасчСчет", "ПолучательСчет",
      "СекцияДокумент",     "Сумма",
  };
  static_assert(std::size(ordered) == kDocumentKeyCount);
  for (std::size_t i = 0; i < kDocumentKeyCount; ++i) {
    SCOPED_TRACE(ordered[i]);
    EXPECT_EQ(document_key_rank(ordered[i]), static_cast<int>(i));
    EXPECT_EQ(document_key(i), ordered[i]);
  }
  EXPECT_EQ(document_key(kDocTypeRank), "СекцияДокумент");
}

TEST(DocumentKeyRank, IsMinusOneForOtherKeys) {
  const std::string_view keys[] = {
      "",       "номер",           "НОМЕР",           "Номер ",          " Номер",
      "Номе",   "Плательщик2",     "Получатель1",     "ПлательщикБанк2", "КвитанцияДата",
      "Сумма1", "СекцияДокументы", "ПлательщикКПП\r",
  };
  for (std::string_view key : keys) {
    SCOPED_TRACE(key);
    EXPECT_EQ(document_key_rank(key), -1);
  }
}

TEST(DocumentKeyRank, TellsAKeyFromOneThatDiffersInAnyByte) {
  for (std::size_t r = 0; r < kDocumentKeyCount; ++r) {
    const std::string key(document_key(r));
    for (std::size_t i = 0; i < key.size(); ++i) {
      std::string changed = key;
      changed[i] = static_cast<char>(changed[i] ^ 0x01);
      SCOPED_TRACE(key + " at " + std::to_string(i));
      EXPECT_EQ(document_key_rank(changed), -1);
    }
  }
}

TEST(BuildDocument, FillsEveryFieldFromItsKey) {
  // Distinct values everywhere, so a key that lands in the wrong field shows.
  const AttrMap all = {
      {"Номер", "n"},
      {"Дата", "01.02.2024"},
      {"Сумма", "-7.50"},
      {"НазначениеПлатежа", "purpose"},
      {"ВидОплаты", "01"},
      {"Очередность", "5"},
      {"ПлательщикИНН", "p-inn"},
      {"ПлательщикКПП", "p-kpp"},
      {"ПлательщикБИК", "p-bic"},
      {"ПлательщикБанк1", "p-bank1"},
      {"ПлательщикСчет", "p-account"},
      {"Плательщик", "p"},
      {"Плательщик1", "p-1"},
      {"ПлательщикРасчСчет", "p-ras"},
      {"ПлательщикКорсчет", "p-cor"},
      {"ДатаСписано", "03.04.2024"},
      {"ПолучательИНН", "r-inn"},
      {"Получатель", "r"},
      {"ПолучательСчет", "r-account"},
      {"ПолучательКПП", "r-kpp"},
      {"ПолучательБИК", "r-bic"},
      {"ПолучательБанк1", "r-bank1"},
      {"ПолучательРасчСчет", "r-ras"},
      {"ПолучательКорсчет", "r-cor"},
      {"ДатаПоступило", "05.06.2024"},
  };
  EXPECT_EQ(built(all, "Банковский ордер"),
            "doc_number=[n]\n"
            "doc_type=[Банковский ордер]\n"
            "doc_date=2024-02-01\n"
            "amount=-7.50\n"
            "purpose=[purpose]\n"
            "payment_type=[01]\n"
            "ordering=[5]\n"
            "counterparty_inn=[p-inn]\n"
            "counterparty_kpp=[p-kpp]\n"
            "counterparty_bic=[p-bic]\n"
            "counterparty_bank1=[p-bank1]\n"
            "counterparty_account=[p-account]\n"
            "counterparty=[p]\n"
            "counterparty_1=[p-1]\n"
            "counterparty_ras_account=[p-ras]\n"
            "counterparty_cor_account=[p-cor]\n"
            "outcome_date=2024-04-03\n"
            "payee_inn=[r-inn]\n"
            "payee=[r]\n"
            "payee_account=[r-account]\n"
            "payee_kpp=[r-kpp]\n"
            "payee_bic=[r-bic]\n"
            "payee_bank1=[r-bank1]\n"
            "payee_ras_account=[r-ras]\n"
            "payee_cor_account=[r-cor]\n"
            "income_date=2024-06-05\n");
}

TEST(BuildDocument, ReadsValuesAsWritten) {
  using Edits = std::vector<std::pair<std::string, std::optional<std::string>>>;
  using Lines = std::vector<std::pair<std::string, std::string>>;
  const struct {
    std::string_view what;
    Edits edits;
    Lines want;  // lines of the required-only description that change
  } cases[] = {
      {"required keys only leave every optional field absent", {}, {}},
      {"empty number is an empty text", {{"Номер", ""}}, {{"doc_number", "[]"}}},
      {"texts keep their spaces",
       {{"ПлательщикБанк1", " Банк ГПБ (АО) "}},
       {{"counterparty_bank1", "[ Банк ГПБ (АО) ]"}}},
      {"empty optional text is present", {{"ВидОплаты", ""}}, {{"payment_type", "[]"}}},
      {"empty payer tax code is present", {{"ПлательщикКПП", ""}}, {{"counterparty_kpp", "[]"}}},
      {"empty debit date is absent", {{"ДатаСписано", ""}}, {}},
      {"blank credit date is absent", {{"ДатаПоступило", " \t"}}, {}},
      {"payer line 1 fills counterparty_1",
       {{"Плательщик1", "ООО Ромашка"}},
       {{"counterparty_1", "[ООО Ромашка]"}}},
      {"recipient line 1 fills nothing", {{"Получатель1", "ООО Лютик"}}, {}},
      {"unknown keys are ignored",
       {{"КвитанцияДата", "not a date"}, {"ПоказательКБК", ""}, {"сумма", "x"}},
       {}},
      {"amount keeps its scale", {{"Сумма", "700"}}, {{"amount", "700"}}},
      {"amount with grouping underscores", {{"Сумма", "1_000.50"}}, {{"amount", "1000.50"}}},
      {"amount in exponent form", {{"Сумма", "1.5e3"}}, {{"amount", "1500"}}},
      {"date with one-digit day and month", {{"Дата", "1.2.2024"}}, {{"doc_date", "2024-02-01"}}},
      {"every date field",
       {{"ДатаСписано", "29.02.2024"}, {"ДатаПоступило", "01.03.2024"}},
       {{"outcome_date", "2024-02-29"}, {"income_date", "2024-03-01"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(built(edited(required_only(), c.edits), "Платежное поручение"),
              required_only_with(c.want));
  }
}

TEST(BuildDocument, TakesTheTypeFromTheOpeningLine) {
  const struct {
    std::string_view what;
    std::optional<std::string> attribute;  // a "СекцияДокумент" attribute, as a hook may add
    std::string_view doc_type;
    std::string_view want;
  } cases[] = {
      {"type from the opening line", std::nullopt, "Банковский ордер", "[Банковский ордер]"},
      {"empty type still builds", std::nullopt, "", "[]"},
      {"an attribute of the key is overridden", "Другой тип", "Платежное поручение",
       "[Платежное поручение]"},
      {"even by an empty type", "Другой тип", "", "[]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    AttrMap attrs = required_only();
    if (c.attribute) {
      attrs.insert("СекцияДокумент", *c.attribute);
    }
    EXPECT_EQ(built(attrs, c.doc_type), required_only_with({{"doc_type", std::string(c.want)}}));
  }
}

TEST(BuildDocument, ReportsTheFirstBadValueInKeyOrderBeforeMissingKeys) {
  using Edits = std::vector<std::pair<std::string, std::optional<std::string>>>;
  const struct {
    std::string_view what;
    Edits edits;
    std::string want;
  } cases[] = {
      {"empty date", {{"Дата", ""}}, failure("empty string is not a valid date")},
      {"blank date", {{"Дата", "  "}}, failure("empty string is not a valid date")},
      {"date with dashes", {{"Дата", "2024-03-05"}}, failure("input contains invalid characters")},
      {"date without year", {{"Дата", "05.03"}}, failure("premature end of input")},
      {"date with trailing space", {{"Дата", "05.03.2024 "}}, failure("trailing input")},
      {"day that does not exist", {{"Дата", "29.02.2023"}}, failure("input is out of range")},
      {"bad optional date", {{"ДатаСписано", "1.13.2024"}}, failure("input is out of range")},
      {"amount with a comma", {{"Сумма", "12,50"}}, failure(amount_message("\"12,50\""))},
      {"empty amount", {{"Сумма", ""}}, failure(amount_message("\"\""))},
      {"amount text is quoted with escapes",
       {{"Сумма", "1\"2\\3\t"}},
       failure(amount_message("\"1\\\"2\\\\3\\t\""))},
      {"amount keeps apostrophes", {{"Сумма", "o'k"}}, failure(amount_message("\"o'k\""))},
      {"bad amount beats missing number",
       {{"Сумма", "x"}, {"Номер", std::nullopt}},
       failure(amount_message("\"x\""))},
      {"bad date beats bad amount",
       {{"Дата", "2024-03-05"}, {"Сумма", "x"}},
       failure("input contains invalid characters")},
      {"bad debit date beats bad amount",
       {{"ДатаСписано", "99.01.2024"}, {"Сумма", "x"}},
       failure("input is out of range")},
      {"date is visited before credit date",
       {{"Дата", "1.1"}, {"ДатаПоступило", "99.01.2024"}},
       failure("premature end of input")},
      {"credit date is visited before debit date",
       {{"ДатаСписано", "1.1"}, {"ДатаПоступило", "99.01.2024"}},
       failure("input is out of range")},
      {"bad value beats every missing key",
       {{"Номер", std::nullopt}, {"ПлательщикИНН", std::nullopt}, {"ДатаСписано", "x"}},
       failure("input contains invalid characters")},
      {"missing number and amount report the number",
       {{"Номер", std::nullopt}, {"Сумма", std::nullopt}},
       failure("missing field `Номер`")},
      {"number key with a space before equals is not the number",
       {{"Номер", std::nullopt}, {"Номер ", "17"}},
       failure("missing field `Номер`")},
      {"number key in another case is not the number",
       {{"Номер", std::nullopt}, {"номер", "17"}},
       failure("missing field `Номер`")},
      {"missing payer bank code",
       {{"ПлательщикБИК", std::nullopt}},
       failure("missing field `ПлательщикБИК`")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(built(edited(required_only(), c.edits), "Платежное поручение"), c.want);
  }
}

TEST(BuildDocument, ChecksRequiredKeysInTheirFixedOrder) {
  // Removing the keys from the i-th on reports the i-th: so each key is checked before all
  // that follow it, whatever their byte order.
  for (std::size_t i = 0; i < kRequiredKeys.size(); ++i) {
    SCOPED_TRACE(kRequiredKeys[i]);
    AttrMap attrs;
    for (const auto& e : required_only()) {
      bool removed = false;
      for (std::size_t j = i; j < kRequiredKeys.size(); ++j) {
        removed = removed || e.key == kRequiredKeys[j];
      }
      if (!removed) {
        attrs.insert(e.key, e.value);
      }
    }
    EXPECT_EQ(built(attrs, "Платежное поручение"),
              failure("missing field `" + kRequiredKeys[i] + "`"));
  }
}

TEST(BuildDocument, ReportsEachMissingKeyAlone) {
  for (const std::string& key : kRequiredKeys) {
    SCOPED_TRACE(key);
    EXPECT_EQ(built(edited(required_only(), {{key, std::nullopt}}), "Платежное поручение"),
              failure("missing field `" + key + "`"));
  }
}

TEST(BuildDocument, BlankOptionalDateEqualsAnAbsentOne) {
  // Python compares documents field by field, and a blank date reads there as None just as a
  // missing one does.
  const auto without = build_document(values_of(required_only()), "Платежное поручение");
  ASSERT_TRUE(without.has_value());
  using Edits = std::vector<std::pair<std::string, std::optional<std::string>>>;
  const struct {
    std::string_view what;
    Edits edits;
  } cases[] = {
      {"empty debit date", {{"ДатаСписано", ""}}},
      {"blank credit date", {{"ДатаПоступило", " \t"}}},
      {"both dates blank", {{"ДатаСписано", "\u00a0"}, {"ДатаПоступило", ""}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const AttrMap attrs = edited(required_only(), c.edits);
    const auto document = build_document(values_of(attrs), "Платежное поручение");
    ASSERT_TRUE(document.has_value());
    EXPECT_TRUE(document.value() == without.value()) << describe(document.value());
    EXPECT_FALSE(document->has(DocField::OutcomeDate));
    EXPECT_FALSE(document->has(DocField::IncomeDate));
  }
}

TEST(BuildDocument, EmptySectionMissesTheNumber) {
  EXPECT_EQ(built(AttrMap{}, ""), failure("missing field `Номер`"));
}

// A section read in windows-1251 is matched on its undecoded keys and decoded where its values
// become texts, so it builds what its UTF-8 form builds, failure messages included.
TEST(BuildDocument, ReadsWindows1251AsItsUtf8Form) {
  for (std::size_t r = 0; r < kDocumentKeyCount; ++r) {
    const std::string key = testing::to_cp1251(document_key(r));
    SCOPED_TRACE(document_key(r));
    EXPECT_EQ(document_key_rank(key, Encoding::Cp1251), static_cast<int>(r));
    EXPECT_EQ(document_key_rank(document_key(r), Encoding::Cp1251), -1);
    std::string changed = key;
    changed.back() = static_cast<char>(changed.back() ^ 0x01);
    EXPECT_EQ(document_key_rank(changed, Encoding::Cp1251), -1);
  }
  const struct {
    std::string_view what;
    AttrMap attrs;
  } cases[] = {
      {"Cyrillic texts", edited(required_only(), {{"НазначениеПлатежа", "Оплата «Ёлки» № 5 — НДС"},
                                                  {"Плательщик", "ООО «Ромашка»"}})},
      {"a date after a no-break space", edited(required_only(), {{"Дата", "\u00a001.02.2024"}})},
      {"a blank optional date", edited(required_only(), {{"ДатаСписано", "\u00a0\u00a0"}})},
      {"a bad date", edited(required_only(), {{"ДатаПоступило", "1 февраля"}})},
      {"a bad amount, quoted", edited(required_only(), {{"Сумма", "сто «рублей»"}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> cp1251_texts;
    cp1251_texts.reserve(c.attrs.size());
    DocumentValues values;
    for (const auto& e : c.attrs) {
      cp1251_texts.push_back(testing::to_cp1251(e.value));
      const int rank = document_key_rank(testing::to_cp1251(e.key), Encoding::Cp1251);
      if (rank >= 0) {
        values[static_cast<std::size_t>(rank)] = cp1251_texts.back();
      }
    }
    const auto document =
        build_document(values, testing::to_cp1251("Платёжное поручение"), Encoding::Cp1251);
    EXPECT_EQ(document ? describe(document.value()) : failure(document.error()),
              built(c.attrs, "Платёжное поручение"));
  }
}

}  // namespace
}  // namespace tarvik
