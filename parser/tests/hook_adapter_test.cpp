#include "hook_adapter.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "fixtures.h"

namespace tarvik {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

class ScriptHook final : public SectionHook {
 public:
  using Script = std::function<HookOutcome(AttrMap&)>;
  explicit ScriptHook(Script script) : script_(std::move(script)) {}
  HookOutcome call(SectionType, AttrMap& attrs, const AttrMap&) override {
    ++calls;
    return script_(attrs);
  }
  int calls = 0;

 private:
  Script script_;
};

Pairs pairs(const std::vector<Attribute>& lines) {
  Pairs out;
  for (const Attribute& a : lines) {
    out.emplace_back(std::string(a.key), std::string(a.value));
  }
  return out;
}

TEST(RunHooks, HandsTheLinesAsAMapAndTakesBackWhatTheHooksLeft) {
  // A repeated key is one entry of the map, at its first place with its last value.
  std::vector<Attribute> lines = {{"Номер", "1"}, {"Сумма", "5"}, {"Номер", "2"}};
  ScriptHook first([](AttrMap& attrs) {
    EXPECT_EQ(attrs, (AttrMap{{"Номер", "2"}, {"Сумма", "5"}}));
    attrs.insert("Сумма", "6");
    attrs.insert("Новый", "ключ");
    return HookOutcome::proceed();
  });
  ScriptHook second([](AttrMap& attrs) {
    EXPECT_EQ(attrs.size(), 3U);  // the first hook's changes
    return HookOutcome::proceed();
  });
  SectionHook* const hooks[] = {&first, &second};
  AttrMap map;
  const HookOutcome outcome = run_hooks(hooks, SectionType::Document, lines, AttrMap{}, map);
  EXPECT_EQ(outcome.kind, HookOutcome::Kind::Continue);
  EXPECT_EQ(pairs(lines), (Pairs{{"Номер", "2"}, {"Сумма", "6"}, {"Новый", "ключ"}}));
  // The lines now view the map's texts.
  EXPECT_EQ(lines[0].key.data(), map.entries()[0].key.data());
}

TEST(RunHooks, StopsAtTheFirstHookThatDoesNotLetTheSectionPass) {
  for (const HookOutcome& stop : {HookOutcome::warn("w"), HookOutcome::fail("f")}) {
    std::vector<Attribute> lines = {{"a", "1"}};
    ScriptHook first([&stop](AttrMap& attrs) {
      attrs.clear();
      return stop;
    });
    ScriptHook second([](AttrMap&) { return HookOutcome::proceed(); });
    SectionHook* const hooks[] = {&first, &second};
    AttrMap map;
    const HookOutcome outcome = run_hooks(hooks, SectionType::Account, lines, AttrMap{}, map);
    EXPECT_EQ(outcome.kind, stop.kind);
    EXPECT_EQ(outcome.message, stop.message);
    EXPECT_EQ(second.calls, 0);
    EXPECT_EQ(pairs(lines), (Pairs{{"a", "1"}}));  // a section that is not built stays as read
  }
}

TEST(RunHooks, HandsWindows1251LinesDecoded) {
  const std::string key = testing::to_cp1251("Получатель");
  const std::string value = testing::to_cp1251("ООО «Ёж» № 1");
  std::vector<Attribute> lines = {{key, value}};
  AttrMap seen;
  ScriptHook recorder([&seen](AttrMap& attrs) {
    seen = attrs;
    return HookOutcome::proceed();
  });
  SectionHook* const hooks[] = {&recorder};
  AttrMap map;
  const HookOutcome outcome =
      run_hooks(hooks, SectionType::Document, lines, AttrMap{}, map, Encoding::Cp1251);
  EXPECT_EQ(outcome.kind, HookOutcome::Kind::Continue);
  EXPECT_EQ(seen, (AttrMap{{"Получатель", "ООО «Ёж» № 1"}}));
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_EQ(lines[0].key, "Получатель");
  EXPECT_EQ(lines[0].value, "ООО «Ёж» № 1");
}

}  // namespace
}  // namespace tarvik
