#include "section_hook.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "fixtures.h"
#include "native_hook_adapter.h"
#include "parse.h"

namespace tarvik {
namespace {

using Triples = std::vector<std::tuple<std::string, std::string, std::uint64_t>>;

Triples triples(Section& section) {
  Triples out;
  for (const SectionLine& a : section.lines()) {
    out.emplace_back(std::string(view(a.key)), std::string(view(a.value)), a.lineno);
  }
  return out;
}

// A section of the lines given, each on the line after the one before, opening on line 10.
void fill(Section& section,
          std::initializer_list<std::pair<std::string_view, std::string_view>> lines,
          Encoding encoding = Encoding::Utf8) {
  section.open(SectionType::Document, 10, encoding);
  std::uint64_t lineno = 10;
  for (const auto& [key, value] : lines) {
    section.add(attribute(key, value, ++lineno));
  }
  section.close(lineno + 1);
}

TEST(Section, AsAMapARepeatedKeyStandsFirstWithItsLastValue) {
  Section section;
  fill(section, {{"Номер", "1"}, {"Сумма", "5"}, {"Номер", "2"}});
  EXPECT_EQ(section.map(), (AttrMap{{"Номер", "2"}, {"Сумма", "5"}}));
  section.map().insert("Сумма", "6");
  section.map().insert("Новый", "ключ");
  // The lines follow the map, each with the line its key last stood on; a new key has none.
  EXPECT_EQ(triples(section),
            (Triples{{"Номер", "2", 13}, {"Сумма", "6", 12}, {"Новый", "ключ", 0}}));
  EXPECT_EQ(section.encoding(), Encoding::Utf8);
}

TEST(Section, Windows1251LinesReachAMapDecodedAndLinesKeepTheirBytesUntilChanged) {
  const std::string key = testing::to_cp1251("Получатель");
  const std::string value = testing::to_cp1251("ООО «Ёж» № 1");
  Section section;
  fill(section, {{key, value}}, Encoding::Cp1251);
  EXPECT_EQ(triples(section), (Triples{{key, value, 11}}));
  EXPECT_EQ(section.map(), (AttrMap{{"Получатель", "ООО «Ёж» № 1"}}));
  EXPECT_EQ(triples(section), (Triples{{"Получатель", "ООО «Ёж» № 1", 11}}));
  EXPECT_EQ(section.line_of("Получатель"), 11U);
  EXPECT_EQ(section.line_of("Плательщик"), 0U);
}

TEST(Section, Windows1251LinesFromAChangedMapKeepTheLineEachKeyLastStoodOn) {
  const std::string number = testing::to_cp1251("Номер");
  const std::string payee = testing::to_cp1251("Получатель");
  Section section;
  fill(section, {{number, "1"}, {payee, "x"}, {number, "2"}, {"Sum", "5"}}, Encoding::Cp1251);
  section.map().insert("Получатель", "y");
  section.map().insert("Новый", "ключ");
  EXPECT_EQ(
      triples(section),
      (Triples{
          {"Номер", "2", 13}, {"Получатель", "y", 12}, {"Sum", "5", 14}, {"Новый", "ключ", 0}}));
}

TEST(Section, ReplacedLinesMayViewKeptTextsAndAMapMadeAfterwardsSeesThem) {
  Section section;
  fill(section, {{"a", "1"}, {"b", "2"}});
  const std::string made = "made";
  const std::vector<SectionLine> lines = {attribute("b", section.keep(made), 12),
                                          attribute("a", "1", 11)};
  section.replace(lines, Encoding::Utf8);
  EXPECT_EQ(triples(section), (Triples{{"b", "made", 12}, {"a", "1", 11}}));
  EXPECT_EQ(section.map(), (AttrMap{{"b", "made"}, {"a", "1"}}));
  // The lines read back from a map, replaced in another order, then mapped again: the texts
  // the lines view must not be written over while the map is refilled.
  const std::span<const SectionLine> from_map = section.lines();
  const std::vector<SectionLine> swapped = {from_map[1], from_map[0]};
  section.replace(swapped, Encoding::Utf8);
  EXPECT_EQ(section.map(), (AttrMap{{"a", "1"}, {"b", "made"}}));
  // line_of() answers from the lines the map was made from.
  EXPECT_EQ(section.line_of("b"), 12U);
}

TEST(Section, KeepsTextsOfAnySizeUntilTheNextSectionOpens) {
  Section section;
  fill(section, {});
  std::vector<std::pair<std::string, std::string_view>> kept;
  for (const std::size_t size : {1U, 4000U, 200U, 9000U, 4096U, 3U}) {
    std::string text(size, static_cast<char>(0x61 + size % 26));
    const std::string_view copy = section.keep(text);
    kept.emplace_back(std::move(text), copy);
  }
  for (const auto& [text, copy] : kept) {
    EXPECT_EQ(copy, text);
  }
}

// A native hook written against the C structures alone, as another shared object would be.
struct Script {
  std::function<int(const tarvik_section_view&, tarvik_section*, const tarvik_section_api&)>
      on_section;
  std::vector<std::string> header;
  std::vector<std::uint64_t> documents;
  std::vector<std::uint64_t> intervals;
  std::vector<std::size_t> accounts;
  std::string message;
};

tarvik_native_hook native_hook(Script& script) {
  tarvik_native_hook hook{};
  hook.abi = TARVIK_NATIVE_HOOK_ABI;
  hook.size = sizeof(tarvik_native_hook);
  hook.state = &script;
  hook.section = [](void* state, const tarvik_section_view* view, tarvik_section* section,
                    const tarvik_section_api* api, tarvik_text* message) -> int {
    Script& s = *static_cast<Script*>(state);
    const int outcome = s.on_section(*view, section, *api);
    *message = text_of(s.message);
    return outcome;
  };
  hook.header = [](void* state, const tarvik_line* lines, std::size_t count, int) -> int {
    for (std::size_t i = 0; i < count; ++i) {
      static_cast<Script*>(state)->header.push_back(std::string(view(lines[i].key)) + "=" +
                                                    std::string(view(lines[i].value)) + "@" +
                                                    std::to_string(lines[i].lineno));
    }
    return 0;
  };
  hook.records = [](void* state, const tarvik_record_lines* lines) -> int {
    Script& s = *static_cast<Script*>(state);
    s.documents.assign(lines->documents, lines->documents + lines->document_count);
    s.intervals.assign(lines->intervals, lines->intervals + lines->interval_count);
    s.accounts.assign(lines->account_sizes, lines->account_sizes + lines->account_count);
    return 0;
  };
  return hook;
}

const std::string kStatement = testing::statement({
    "1CClientBankExchange",
    "ВерсияФормата=1.03",
    "РасчСчет=1",
    "РасчСчет=2",
    "СекцияРасчСчет",
    "ДатаНачала=02.03.2024",
    "РасчСчет=40702810900000012345",
    "НачальныйОстаток=100.00",
    "КонецРасчСчет",
    "СекцияРасчСчет",
    "ДатаНачала=01.03.2024",
    "РасчСчет=40702810900000012345",
    "НачальныйОстаток=1 000,00",
    "КонецРасчСчет",
    "СекцияДокумент=Платежное поручение",
    "Номер=7",
    "Дата=05.03.2024",
    "Сумма=100,00",
    "НазначениеПлатежа=Оплата",
    "ПлательщикСчет=40702810900000012345",
    "ПлательщикИНН=7701234567",
    "ПлательщикБИК=044525225",
    "ПлательщикБанк1=ПАО СБЕРБАНК",
    "ПолучательСчет=40702810138000004321",
    "ПолучательИНН=5029012345",
    "ПолучательБИК=044525225",
    "ПолучательБанк1=ПАО СБЕРБАНК",
    "КонецДокумента",
    "КонецФайла",
});

// Replaces a comma in every amount of a section with a point, in the section's own bytes, and
// says on a line of its own that it did.
int mend_commas(const tarvik_section_view& view, tarvik_section* section,
                const tarvik_section_api& api) {
  for (std::size_t i = 0; i < view.count; ++i) {
    std::string value(tarvik::view(view.lines[i].value));
    const std::string key(tarvik::view(view.lines[i].key));
    if ((key == "Сумма" || key == "НачальныйОстаток") && value.find(',') != std::string::npos) {
      std::erase(value, ' ');
      value[value.find(',')] = '.';
      if (api.set_value(section, i, api.keep(section, text_of(value))) != 0 ||
          api.append(section, tarvik_line{text_of("Исправлено"), text_of(key), 0}) != 0) {
        return TARVIK_NO_MEMORY;
      }
    }
  }
  std::size_t count = 0;
  const tarvik_line* lines = api.lines(section, &count);
  EXPECT_GE(count, view.count);
  EXPECT_EQ(tarvik::view(lines[0].key), tarvik::view(view.lines[0].key));
  return TARVIK_CONTINUE;
}

TEST(NativeHook, SeesEachSectionWithItsLinesAndChangesItThroughTheHost) {
  Script script;
  std::vector<std::pair<int, std::uint64_t>> seen;
  script.on_section = [&seen](const tarvik_section_view& view, tarvik_section* section,
                              const tarvik_section_api& api) {
    seen.emplace_back(view.type, view.opening_line);
    EXPECT_EQ(view.closing_line, view.opening_line + view.count + 1);
    EXPECT_EQ(view.lines[0].lineno, view.opening_line + 1);
    return mend_commas(view, section, api);
  };
  const tarvik_native_hook hook = native_hook(script);
  NativeHook adapter(hook);
  SectionHook* const hooks[] = {&adapter};
  auto result = parse(kStatement, hooks);
  ASSERT_TRUE(result) << testing::outcome(result);
  adapter.records(result.value());
  EXPECT_EQ(seen, (std::vector<std::pair<int, std::uint64_t>>{{TARVIK_SECTION_ACCOUNT, 5},
                                                              {TARVIK_SECTION_ACCOUNT, 10},
                                                              {TARVIK_SECTION_DOCUMENT, 15}}));
  EXPECT_EQ(script.header,
            (std::vector<std::string>{"ВерсияФормата=1.03@2", "РасчСчет=1@3", "РасчСчет=2@4"}));
  ASSERT_EQ(result.value().documents.size(), 1U);
  EXPECT_EQ(testing::written(result.value().documents[0].amount), "100.00");
  // Records name the line their section opens on; the intervals stand in date order.
  EXPECT_EQ(script.documents, (std::vector<std::uint64_t>{15}));
  EXPECT_EQ(script.intervals, (std::vector<std::uint64_t>{10, 5}));
  EXPECT_EQ(script.accounts, (std::vector<std::size_t>{2}));
}

TEST(NativeHook, WarnsFailsAndRunsOutOfMemoryAsTheHostWould) {
  for (const int outcome : {TARVIK_WARN, TARVIK_FAIL, TARVIK_NO_MEMORY}) {
    Script script;
    script.message = "нет";
    script.on_section = [outcome](const tarvik_section_view& view, tarvik_section*,
                                  const tarvik_section_api&) {
      return view.type == TARVIK_SECTION_DOCUMENT ? outcome : TARVIK_CONTINUE;
    };
    const tarvik_native_hook hook = native_hook(script);
    NativeHook adapter(hook);
    SectionHook* const hooks[] = {&adapter};
    const std::string text =
        testing::statement({"1CClientBankExchange", "СекцияДокумент=Платежное поручение", "Номер=1",
                            "КонецДокумента", "КонецФайла"});
    if (outcome == TARVIK_NO_MEMORY) {
      EXPECT_THROW((void)parse(text, hooks), std::bad_alloc);
      continue;
    }
    auto result = parse(text, hooks);
    if (outcome == TARVIK_WARN) {
      ASSERT_TRUE(result);
      EXPECT_EQ(testing::warnings(result.value()), (std::vector<std::string>{"4: нет"}));
    } else {
      EXPECT_EQ(testing::outcome(result), "HookError(4, [нет])");
    }
  }
}

// Records what a map hook is handed, and changes what it is told to.
class ScriptedMapHook final : public MapHook {
 public:
  explicit ScriptedMapHook(std::function<void(AttrMap&)> edit) : edit_(std::move(edit)) {}
  HookOutcome call(SectionType, AttrMap& attrs, const AttrMap&) override {
    edit_(attrs);
    return HookOutcome::proceed();
  }

 private:
  std::function<void(AttrMap&)> edit_;
};

TEST(NativeHook, AfterAMapHookSeesTheMapAsLinesWithTheLinesTheirKeysCameFrom) {
  Script script;
  Triples seen;
  script.on_section = [&seen](const tarvik_section_view& view, tarvik_section*,
                              const tarvik_section_api&) {
    if (view.type == TARVIK_SECTION_DOCUMENT) {
      EXPECT_EQ(view.encoding, TARVIK_TEXT_UTF8);
      for (std::size_t i = 0; i < view.count; ++i) {
        seen.emplace_back(std::string(tarvik::view(view.lines[i].key)),
                          std::string(tarvik::view(view.lines[i].value)), view.lines[i].lineno);
      }
    }
    return TARVIK_CONTINUE;
  };
  const tarvik_native_hook hook = native_hook(script);
  NativeHook adapter(hook);
  ScriptedMapHook map_hook([](AttrMap& attrs) {
    attrs.insert("Номер", "8");
    attrs.insert("Добавлен", "да");
  });
  SectionHook* const hooks[] = {&map_hook, &adapter};
  const std::string text = testing::to_cp1251(kStatement);
  auto result = parse(text, hooks);
  ASSERT_FALSE(result);  // the account's comma is left as it is
  const std::string with_point = testing::to_cp1251(
      std::string(kStatement).replace(kStatement.find("1 000,00"), 8, "1000.00"));
  seen.clear();
  auto read = parse(with_point, hooks);
  ASSERT_TRUE(read) << testing::outcome(read);
  ASSERT_EQ(seen.size(), 13U);
  EXPECT_EQ(seen[0], std::make_tuple(std::string("Номер"), std::string("8"), 16U));
  EXPECT_EQ(seen[12], std::make_tuple(std::string("Добавлен"), std::string("да"), 0U));
}

TEST(NativeHook, OnlyAHookOfThisAbiAndSizeIsCalled) {
  Script script;
  tarvik_native_hook hook = native_hook(script);
  EXPECT_TRUE(callable_native_hook(&hook));
  EXPECT_FALSE(callable_native_hook(nullptr));
  hook.abi = TARVIK_NATIVE_HOOK_ABI + 1;
  EXPECT_FALSE(callable_native_hook(&hook));
  hook.abi = TARVIK_NATIVE_HOOK_ABI;
  hook.size = sizeof(tarvik_native_hook) - 1;
  EXPECT_FALSE(callable_native_hook(&hook));
}

}  // namespace
}  // namespace tarvik
