#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "attr_map.h"
#include "section_hook.h"
#include "statement.h"

namespace tarvik::columns {

// The shipped repairs of tarvik.hooks, in the order tarvik.read applies them.
enum class Repair : std::uint8_t { YoInKeys, NamesFromNumbered, PurposeFromNumbered, CommaAmounts };
inline constexpr std::size_t kRepairCount = 4;

// tarvik.hooks' name of each repair.
std::string_view name(Repair repair) noexcept;

// One value a repair changed, as tarvik.hooks.Edit has it. The message is `message_head`, then
// Python's repr() of `quoted` where there is one, then `message_tail`: repr() is Python's own,
// so the caller with the interpreter at hand puts the message together.
struct Edit {
  std::size_t section = 0;  // the ordinal of the section among all sections, in file order
  Repair repair = Repair::YoInKeys;
  std::string key;
  std::optional<std::string> old;  // absent: the key was not there
  std::string value;
  std::string source;  // the key whose line the new text comes from
  std::string message_head;
  std::optional<std::string> quoted;
  std::string message_tail;
  friend bool operator==(const Edit&, const Edit&) = default;
};

// The plain decimal text of an amount written with grouping spaces or a decimal comma, as
// tarvik.hooks.plain_amount gives it.
struct PlainAmount {
  enum class Kind : std::uint8_t { Unchanged, Changed, Undecided };
  Kind kind = Kind::Unchanged;
  std::string text;  // Changed: the plain form
};
// Undecided where the text holds characters other than ASCII and the grouping spaces: Python's
// \d takes every decimal digit of Unicode, which this module has no table of.
PlainAmount plain_amount(std::string_view text);

// Python's str.strip(): the characters str.isspace() names, at both ends.
std::string_view python_strip(std::string_view text) noexcept;

// Whether the repairs could change any section of `text`, as classify_input() gives it. Errs
// only towards yes, so a no means that the statement reads the same without them: the core can
// then read it without hooks, which costs far less than handing every section to one. One pass
// over the lines, without decoding them.
bool repairs_may_apply(std::string_view text, Encoding encoding);

// The cheaper first look, at a statement the core read from `text` without the repairs: false
// where no repair can have had anything to change. A statement read whole, without a warning,
// holds only amounts the strict reader took (so none with a comma or a space) and a purpose in
// every document; the names are read off its documents, and ё in a key is looked for in the
// text, where the letter is rare. True leaves the question to repairs_may_apply().
bool repairs_may_change(const Statement& statement, std::string_view text);

// The repairs as one hook of the core, recording what they change. A section it cannot judge as
// the Python rules would marks the whole reading `undecided`; the caller then reads through them.
class NativeRepairs : public SectionHook {
 public:
  HookOutcome call(SectionType type, AttrMap& attrs, const AttrMap& header) override;

  const std::vector<Edit>& edits() const noexcept { return edits_; }
  std::vector<Edit> take_edits() noexcept { return std::move(edits_); }
  bool undecided() const noexcept { return undecided_; }

 private:
  void yo_in_keys(AttrMap& attrs);
  void names_from_numbered(SectionType type, AttrMap& attrs);
  void purpose_from_numbered(SectionType type, AttrMap& attrs);
  void comma_amounts(SectionType type, AttrMap& attrs);

  std::size_t sections_ = 0;
  std::vector<Edit> edits_;
  bool undecided_ = false;
  AttrMap renamed_;  // yo_in_keys' rebuilt section, kept for its room
};

}  // namespace tarvik::columns
