#include "hook_adapter.h"

namespace tarvik {

HookOutcome run_hooks(std::span<SectionHook* const> hooks, SectionType type,
                      std::vector<Attribute>& lines, const AttrMap& header, AttrMap& map) {
  map.clear();
  for (const Attribute& line : lines) {
    map.insert(line.key, line.value);
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
