#include "hook_adapter.h"

#include <string>

#include "input_decoding.h"

namespace tarvik {

HookOutcome run_hooks(std::span<SectionHook* const> hooks, SectionType type,
                      std::vector<Attribute>& lines, const AttrMap& header, AttrMap& map,
                      Encoding encoding) {
  map.clear();
  std::string key;
  std::string value;
  for (const Attribute& line : lines) {
    map.insert(as_utf8(line.key, encoding, key), as_utf8(line.value, encoding, value));
  }
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
