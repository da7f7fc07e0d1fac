#include "attr_map.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvik {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs pairs(const AttrMap& map) {
  Pairs out;
  for (const auto& e : map) {
    out.emplace_back(e.key, e.value);
  }
  return out;
}

std::string key_of(std::size_t i) { return "Ключ" + std::to_string(i); }

TEST(AttrMapInsert, KeepsFirstPositionAndLastValue) {
  const struct {
    std::string_view what;
    Pairs inserts;
    Pairs want;
  } cases[] = {
      {"empty", {}, {}},
      {"distinct keys keep insertion order, not key order",
       {{"b", "1"}, {"a", "2"}, {"c", "3"}},
       {{"b", "1"}, {"a", "2"}, {"c", "3"}}},
      {"a repeated key stays first and takes the last value",
       {{"РасчСчет", "1"}, {"Дата", "2"}, {"РасчСчет", "3"}, {"РасчСчет", "4"}},
       {{"РасчСчет", "4"}, {"Дата", "2"}}},
      {"a value may become empty", {{"k", "v"}, {"k", ""}}, {{"k", ""}}},
      {"keys differing only in spaces are different",
       {{"Номер", "1"}, {"Номер ", "2"}, {" Номер", "3"}},
       {{"Номер", "1"}, {"Номер ", "2"}, {" Номер", "3"}}},
      {"keys differing only in case are different",
       {{"номер", "1"}, {"Номер", "2"}},
       {{"номер", "1"}, {"Номер", "2"}}},
      {"the empty key is a key", {{"", "1"}, {"x", "2"}, {"", "3"}}, {{"", "3"}, {"x", "2"}}},
      {"a prefix is not the key",
       {{"Плательщик", "1"}, {"Плательщик1", "2"}},
       {{"Плательщик", "1"}, {"Плательщик1", "2"}}},
      {"embedded NUL is part of the key",
       {{std::string("a\0b", 3), "1"}, {"a", "2"}, {std::string("a\0b", 3), "3"}},
       {{std::string("a\0b", 3), "3"}, {"a", "2"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    AttrMap map;
    for (const auto& [k, v] : c.inserts) {
      map.insert(k, v);
    }
    EXPECT_EQ(pairs(map), c.want);
    EXPECT_EQ(map.size(), c.want.size());
    EXPECT_EQ(map.empty(), c.want.empty());
    for (const auto& [k, v] : c.want) {
      const std::string* found = map.find(k);
      ASSERT_NE(found, nullptr) << k;
      EXPECT_EQ(*found, v);
    }
  }
}

TEST(AttrMapFind, ComparesExactBytes) {
  const AttrMap map{{"Номер", "1"}, {"Дата", "2"}};
  const struct {
    std::string_view key;
    const char* want;  // nullptr: absent
  } cases[] = {
      {"Номер", "1"},      {"Дата", "2"},     {"номер", nullptr},
      {"Номер ", nullptr}, {"Номе", nullptr}, {"", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    const std::string* found = map.find(c.key);
    if (c.want == nullptr) {
      EXPECT_EQ(found, nullptr);
    } else {
      ASSERT_NE(found, nullptr);
      EXPECT_EQ(*found, c.want);
    }
  }
}

// The map switches from a linear search to a hash index at some size; every size around the
// switch must find every key, update in place and reject absent keys.
TEST(AttrMapInsert, StaysConsistentAtEverySizeUpToSixtyFour) {
  for (std::size_t n = 1; n <= 64; ++n) {
    SCOPED_TRACE(n);
    AttrMap map;
    for (std::size_t i = 0; i < n; ++i) {
      map.insert(key_of(i), std::to_string(i));
    }
    map.insert(key_of(0), "first again");
    map.insert(key_of(n - 1), "last again");
    ASSERT_EQ(map.size(), n);
    for (std::size_t i = 0; i < n; ++i) {
      EXPECT_EQ(map.entries()[i].key, key_of(i));
      const std::string* found = map.find(key_of(i));
      ASSERT_NE(found, nullptr) << key_of(i);
      const std::string want =
          i == n - 1 ? "last again" : (i == 0 ? "first again" : std::to_string(i));
      EXPECT_EQ(*found, want);
    }
    EXPECT_EQ(map.find(key_of(n)), nullptr);
    EXPECT_EQ(map.find(""), nullptr);
  }
}

// The size at which the map is indexed; how its lookups grow with size is measured in bench/.
TEST(AttrMapInsert, LargeMapKeepsOrderAndValues) {
  constexpr std::size_t kCount = 100000;
  AttrMap map;
  for (std::size_t i = 0; i < kCount; ++i) {
    map.insert(key_of(i), std::to_string(i));
  }
  // Every third key again, in reverse, with a new value: positions must not move.
  for (std::size_t i = kCount; i-- > 0;) {
    if (i % 3 == 0) {
      map.insert(key_of(i), "again " + std::to_string(i));
    }
  }
  ASSERT_EQ(map.size(), kCount);
  std::size_t mismatches = 0;
  for (std::size_t i = 0; i < kCount; ++i) {
    const std::string want = (i % 3 == 0 ? "again " : "") + std::to_string(i);
    const AttrMap::Entry& e = map.entries()[i];
    const std::string* found = map.find(key_of(i));
    if (e.key != key_of(i) || e.value != want || found == nullptr || *found != want) {
      ++mismatches;
    }
  }
  EXPECT_EQ(mismatches, 0U);
  EXPECT_EQ(map.find(key_of(kCount)), nullptr);
}

TEST(AttrMapClear, ForgetsKeysAtAnySize) {
  for (std::size_t n : {std::size_t{3}, std::size_t{1000}}) {
    SCOPED_TRACE(n);
    AttrMap map;
    for (std::size_t i = 0; i < n; ++i) {
      map.insert(key_of(i), "old");
    }
    map.clear();
    EXPECT_TRUE(map.empty());
    EXPECT_EQ(map.find(key_of(0)), nullptr);
    EXPECT_EQ(map.find(key_of(n - 1)), nullptr);
    // Refilled after clearing, the map behaves like a new one.
    map.insert(key_of(5), "new");
    map.insert(key_of(1), "new");
    map.insert(key_of(5), "newer");
    EXPECT_EQ(pairs(map), (Pairs{{key_of(5), "newer"}, {key_of(1), "new"}}));
    EXPECT_EQ(map.find(key_of(0)), nullptr);
    // Cleared again and refilled past what it held before, it equals a map filled afresh.
    map.clear();
    AttrMap fresh;
    for (std::size_t i = 0; i < n + 5; ++i) {
      map.insert(key_of(i + 7), "again " + std::to_string(i));
      fresh.insert(key_of(i + 7), "again " + std::to_string(i));
    }
    EXPECT_EQ(map, fresh);
    EXPECT_EQ(AttrMap(map), fresh);
    ASSERT_NE(map.find(key_of(n + 11)), nullptr);
    EXPECT_EQ(*map.find(key_of(n + 11)), "again " + std::to_string(n + 4));
  }
}

TEST(AttrMapCopy, CopiesAreIndependentAndSearchable) {
  AttrMap original;
  for (std::size_t i = 0; i < 200; ++i) {
    original.insert(key_of(i), "v");
  }
  AttrMap copy = original;
  copy.insert(key_of(7), "changed");
  copy.insert("новый", "added");
  ASSERT_NE(copy.find(key_of(199)), nullptr);
  EXPECT_EQ(*copy.find(key_of(7)), "changed");
  EXPECT_EQ(*original.find(key_of(7)), "v");
  EXPECT_EQ(original.find("новый"), nullptr);
  EXPECT_NE(copy, original);

  AttrMap moved = std::move(copy);
  ASSERT_NE(moved.find("новый"), nullptr);
  EXPECT_EQ(*moved.find("новый"), "added");
  EXPECT_EQ(moved.size(), 201U);
}

}  // namespace
}  // namespace tarvik
