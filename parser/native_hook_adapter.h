#pragma once

#include <span>
#include <string>

#include "native_hook.h"
#include "section_hook.h"
#include "statement.h"

namespace tarvik {

// A SectionHook over a hook in native code (native_hook.h), which may come from another shared
// object: the section passes to it as C structures, and its changes come back through the
// functions the host offers. Its calls have no effect outside the parse, so it runs while the
// text is still being read.
class NativeHook final : public SectionHook {
 public:
  // `hook` must outlive the adapter.
  explicit NativeHook(const tarvik_native_hook& hook) noexcept : hook_(&hook) {}

  HookOutcome on_section(Section& section, const AttrMap& header) override;
  bool observable() const noexcept override { return false; }
  void begin(std::string_view text, Encoding encoding) override;
  void header(std::span<const SectionLine> lines, Encoding encoding) override;
  void damage(const Damage& damage) override;
  bool lenient() const noexcept override { return (hook_->flags & TARVIK_HOOK_LENIENT) != 0; }

  // Tells the hook where the records of `statement`, read whole, come from.
  void records(const Statement& statement);

 private:
  const tarvik_native_hook* hook_;
};

// Whether `hook` is a native hook this core can call: of this ABI, and as large as it knows it.
bool callable_native_hook(const tarvik_native_hook* hook) noexcept;

// The TARVIK_TEXT_* of texts in `encoding` (UTF-16 input is read as UTF-8 text).
int text_encoding(Encoding encoding) noexcept;

}  // namespace tarvik
