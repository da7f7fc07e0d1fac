#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

// Insertion-ordered key/value map of UTF-8 texts. Inserting a key that is present replaces its
// value and keeps the key at its first position. Keys compare as exact bytes. Small maps are
// searched linearly; past a few entries a hash index over the entries is kept.
class AttrMap {
 public:
  struct Entry {
    std::string key;
    std::string value;
    friend bool operator==(const Entry&, const Entry&) = default;
  };

  AttrMap() = default;
  AttrMap(std::initializer_list<Entry> entries);

  // Copyable and comparable by entries alone; the spare entries of a cleared map stay behind.
  AttrMap(const AttrMap& other) : entries_(other.entries_), index_(other.index_) {}
  AttrMap& operator=(const AttrMap& other) {
    entries_ = other.entries_;
    index_ = other.index_;
    return *this;
  }
  AttrMap(AttrMap&&) noexcept = default;
  AttrMap& operator=(AttrMap&&) noexcept = default;

  void insert(std::string_view key, std::string_view value);
  // nullptr when absent; valid until the map changes.
  const std::string* find(std::string_view key) const noexcept;
  // Keeps the entries' texts for reuse, so that refilling a map of the same keys allocates nothing.
  void clear() noexcept;

  std::size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }
  const std::vector<Entry>& entries() const noexcept { return entries_; }
  auto begin() const noexcept { return entries_.begin(); }
  auto end() const noexcept { return entries_.end(); }

  friend bool operator==(const AttrMap& a, const AttrMap& b) { return a.entries_ == b.entries_; }

 private:
  std::size_t find_index(std::string_view key, std::size_t hash) const noexcept;
  void rebuild_index();

  std::vector<Entry> entries_;
  // Open addressing over entry positions + 1 (0 marks a free slot); empty while small.
  std::vector<std::uint32_t> index_;
  // The entries of the last clear(), their texts' room kept; those before `spare_used_` are
  // taken (moved from).
  std::vector<Entry> spare_;
  std::size_t spare_used_ = 0;
};

}  // namespace tarvik
