#include "section_hook.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "input_decoding.h"

namespace tarvik {

namespace {

constexpr std::size_t kBlockSize = 4096;

}  // namespace

void Section::open(SectionType type, std::uint64_t opening_line, Encoding encoding) {
  type_ = type;
  opening_line_ = opening_line;
  closing_line_ = 0;
  encoding_ = encoding;
  lines_.clear();
  changes_ = 0;
  in_map_ = false;
  lines_view_map_ = false;
  large_.clear();
  block_ = 0;
  block_used_ = 0;
}

std::span<const SectionLine> Section::lines() {
  if (in_map_) {
    lines_from_map();
  }
  return lines_;
}

std::string_view Section::keep(std::string_view text) {
  if (text.empty()) {
    return {};
  }
  char* out = nullptr;
  if (text.size() > kBlockSize) {
    out = large_.emplace_back(std::make_unique_for_overwrite<char[]>(text.size())).get();
  } else {
    if (blocks_.empty() || kBlockSize - block_used_ < text.size()) {
      if (!blocks_.empty()) {
        ++block_;
      }
      if (block_ == blocks_.size()) {
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlockSize));
      }
      block_used_ = 0;
    }
    out = blocks_[block_].get() + block_used_;
    block_used_ += text.size();
  }
  std::memcpy(out, text.data(), text.size());
  return {out, text.size()};
}

void Section::set_key(std::size_t index, std::string_view key) {
  (void)lines();  // the map, if a hook left one, becomes the lines first
  lines_[index].key = text_of(key);
  ++changes_;
}

void Section::set_value(std::size_t index, std::string_view value) {
  (void)lines();
  lines_[index].value = text_of(value);
  ++changes_;
}

void Section::append(SectionLine line) {
  (void)lines();
  lines_.push_back(line);
  ++changes_;
}

void Section::replace(std::span<const SectionLine> lines, Encoding encoding) {
  in_map_ = false;  // the map is let go of, and the lines may view its texts
  ++changes_;
  const bool own = !lines_.empty() && lines.data() >= lines_.data() &&
                   lines.data() < lines_.data() + lines_.size();
  if (own) {
    std::vector<SectionLine> copy(lines.begin(), lines.end());
    lines_.swap(copy);
  } else {
    lines_.assign(lines.begin(), lines.end());
  }
  encoding_ = encoding;
}

AttrMap& Section::map() {
  if (in_map_) {
    return map_;
  }
  ++changes_;  // whoever asks for the map may change it
  if (lines_view_map_) {
    // Refilling the map would write over texts the lines still view.
    for (SectionLine& line : lines_) {
      line.key = text_of(keep(view(line.key)));
      line.value = text_of(keep(view(line.value)));
    }
    lines_view_map_ = false;
  }
  // The lines as they stand tell the line each key of the map came from.
  mapped_lines_.assign(lines_.begin(), lines_.end());
  mapped_encoding_ = encoding_;
  map_.clear();
  if (encoding_ != Encoding::Cp1251) {
    for (const SectionLine& line : lines_) {
      map_.insert(view(line.key), view(line.value));
    }
  } else {
    // The section's texts are decoded one after the other into one buffer, allocated once for
    // the section; the map copies them out of it.
    std::size_t room = 0;
    for (const SectionLine& line : lines_) {
      room += cp1251_room(line.key.size) + cp1251_room(line.value.size);
    }
    const auto decoded = std::make_unique_for_overwrite<char[]>(room);
    char* out = decoded.get();
    for (const SectionLine& line : lines_) {
      char* const key = out;
      char* const value = decode_cp1251(view(line.key), key);
      out = decode_cp1251(view(line.value), value);
      map_.insert(std::string_view(key, static_cast<std::size_t>(value - key)),
                  std::string_view(value, static_cast<std::size_t>(out - value)));
    }
  }
  in_map_ = true;
  return map_;
}

void Section::lines_from_map() {
  // The line each key last stands on, found in one pass over the lines the map was made from:
  // asking line_of() key by key would scan them once per key, and a section of many keys would
  // take time growing with their square.
  std::vector<std::string> decoded;  // the keys of Windows-1251 lines as UTF-8, which `last` views
  decoded.reserve(mapped_encoding_ == Encoding::Cp1251 ? mapped_lines_.size() : 0);
  std::unordered_map<std::string_view, std::uint64_t> last;
  last.reserve(mapped_lines_.size());
  for (const SectionLine& line : mapped_lines_) {
    if (line.lineno == 0) {
      continue;
    }
    std::string_view key = view(line.key);
    if (mapped_encoding_ == Encoding::Cp1251) {
      key = decoded.emplace_back(utf8_text(key, Encoding::Cp1251));
    }
    last.insert_or_assign(key, line.lineno);
  }
  lines_.clear();
  for (const AttrMap::Entry& e : map_) {
    const auto found = last.find(e.key);
    lines_.push_back(attribute(e.key, e.value, found == last.end() ? 0 : found->second));
  }
  encoding_ = Encoding::Utf8;
  in_map_ = false;
  lines_view_map_ = true;
}

std::uint64_t Section::line_of(std::string_view key) const {
  const std::vector<SectionLine>& read = in_map_ ? mapped_lines_ : lines_;
  const Encoding encoding = in_map_ ? mapped_encoding_ : encoding_;
  std::string scratch;
  for (auto it = read.rbegin(); it != read.rend(); ++it) {
    if (it->lineno != 0 && as_utf8(view(it->key), encoding, scratch) == key) {
      return it->lineno;
    }
  }
  return 0;
}

}  // namespace tarvik
