#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "attr_map.h"
#include "section_hook.h"
#include "statement.h"

namespace tarvik {

// One attribute line of an open section, as the reader gathers it: views into the text being read,
// in its bytes.
struct Attribute {
  std::string_view key;
  std::string_view value;
};

// The hooks' side of a section: converts the gathered lines (in the bytes of `encoding`) to the
// UTF-8 AttrMap the hooks see, calls the hooks in order until one does not let the section pass,
// and on Continue points `lines` at the map as the hooks left it, in UTF-8. `map` holds those
// texts, so it must stay untouched for as long as `lines` is read. Returns the first outcome that
// is not Continue, or Continue.
HookOutcome run_hooks(std::span<SectionHook* const> hooks, SectionType type,
                      std::vector<Attribute>& lines, const AttrMap& header, AttrMap& map,
                      Encoding encoding = Encoding::Utf8);

}  // namespace tarvik
