#include "attr_map.h"

#include <functional>

namespace tarvik {

namespace {

// Below this many entries a linear scan beats hashing; sections hold a few dozen keys at most in
// real files, while the index keeps hostile ones with many distinct keys linear overall.
constexpr std::size_t kLinearLimit = 16;

std::size_t hash_key(std::string_view key) noexcept { return std::hash<std::string_view>{}(key); }

}  // namespace

AttrMap::AttrMap(std::initializer_list<Entry> entries) {
  for (const Entry& e : entries) {
    insert(e.key, e.value);
  }
}

std::size_t AttrMap::find_index(std::string_view key, std::size_t hash) const noexcept {
  if (index_.empty()) {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].key == key) {
        return i;
      }
    }
    return entries_.size();
  }
  const std::size_t mask = index_.size() - 1;
  for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t at = index_[slot];
    if (at == 0) {
      return entries_.size();
    }
    if (entries_[at - 1].key == key) {
      return at - 1;
    }
  }
}

void AttrMap::rebuild_index() {
  std::size_t capacity = 64;
  while (capacity < entries_.size() * 2) {
    capacity *= 2;
  }
  index_.assign(capacity, 0);
  const std::size_t mask = capacity - 1;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    std::size_t slot = hash_key(entries_[i].key) & mask;
    while (index_[slot] != 0) {
      slot = (slot + 1) & mask;
    }
    index_[slot] = static_cast<std::uint32_t>(i + 1);
  }
}

void AttrMap::insert(std::string_view key, std::string_view value) {
  const std::size_t hash = index_.empty() ? 0 : hash_key(key);
  const std::size_t at = find_index(key, hash);
  if (at != entries_.size()) {
    entries_[at].value.assign(value);
    return;
  }
  if (spare_used_ == spare_.size()) {
    entries_.push_back(Entry{std::string(key), std::string(value)});
  } else {
    Entry& e = entries_.emplace_back(std::move(spare_[spare_used_]));
    ++spare_used_;
    e.key.assign(key);
    e.value.assign(value);
  }
  if (entries_.size() > kLinearLimit && entries_.size() * 2 > index_.size()) {
    rebuild_index();
  } else if (!index_.empty()) {
    const std::size_t mask = index_.size() - 1;
    std::size_t slot = hash & mask;
    while (index_[slot] != 0) {
      slot = (slot + 1) & mask;
    }
    index_[slot] = static_cast<std::uint32_t>(entries_.size());
  }
}

const std::string* AttrMap::find(std::string_view key) const noexcept {
  const std::size_t at = find_index(key, index_.empty() ? 0 : hash_key(key));
  return at == entries_.size() ? nullptr : &entries_[at].value;
}

void AttrMap::clear() noexcept {
  // In their order, so that a map refilled with the same keys gives each its own room again.
  entries_.swap(spare_);
  entries_.clear();
  spare_used_ = 0;
  index_.clear();
}

}  // namespace tarvik
