#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "attr_map.h"
#include "statement.h"

namespace tarvik {

struct HookOutcome {
  enum class Kind : std::uint8_t { Continue, Warn, Fail };
  Kind kind = Kind::Continue;
  std::string message;  // Warn: the warning; Fail: the text of the HookError

  static HookOutcome proceed() { return {}; }
  static HookOutcome warn(std::string m) { return {Kind::Warn, std::move(m)}; }
  static HookOutcome fail(std::string m) { return {Kind::Fail, std::move(m)}; }
};

// Sees each section when it closes, before it is built, and may change its attributes.
class SectionHook {
 public:
  virtual ~SectionHook() = default;
  virtual HookOutcome call(SectionType type, AttrMap& attrs, const AttrMap& header) = 0;
};

}  // namespace tarvik
