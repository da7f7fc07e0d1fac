#include "hook_adapter.h"

#include <cstddef>
#include <memory>
#include <string_view>

#include "input_decoding.h"

namespace tarvik {

namespace {

void fill_map(const std::vector<Attribute>& lines, Encoding encoding, AttrMap& map) {
  map.clear();
  if (encoding != Encoding::Cp1251) {
    for (const Attribute& line : lines) {
      map.insert(line.key, line.value);
    }
    return;
  }
  // The section's texts are decoded one after the other into one buffer, allocated once for the
  // section; the map copies them out of it.
  std::size_t room = 0;
  for (const Attribute& line : lines) {
    room += cp1251_room(line.key.size()) + cp1251_room(line.value.size());
  }
  const auto decoded = std::make_unique_for_overwrite<char[]>(room);
  char* out = decoded.get();
  for (const Attribute& line : lines) {
    char* const key = out;
    char* const value = decode_cp1251(line.key, key);
    out = decode_cp1251(line.value, value);
    map.insert(std::string_view(key, static_cast<std::size_t>(value - key)),
               std::string_view(value, static_cast<std::size_t>(out - value)));
  }
}

}  // namespace

HookOutcome run_hooks(std::span<SectionHook* const> hooks, SectionType type,
                      std::vector<Attribute>& lines, const AttrMap& header, AttrMap& map,
                      Encoding encoding) {
  fill_map(lines, encoding, map);
  for (SectionHook* hook : hooks) {
    HookOutcome outcome = hook->call(type, map, header);
    if (outcome.kind != HookOutcome::Kind::Continue) {
      return outcome;
    }
  }
  lines.clear();
  for (const AttrMap::Entry& e : map) {
    lines.push_back(Attribute{e.key, e.value});
  }
  return HookOutcome::proceed();
}

}  // namespace tarvik
