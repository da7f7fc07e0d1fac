#pragma once

#include <Python.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "attr_map.h"
#include "py_ref.h"
#include "section_hook.h"
#include "statement.h"

namespace tarvik::py {

// A SectionHook over one Python callable, called as hook(section_type, attrs, header) with fresh
// objects each time; attrs is then written back into the section. No Python exception reaches the
// core: the callable's exceptions and unusable attrs become a Fail text. Only a failure of the
// interpreter itself (no memory for the dicts and strs handed over) is kept, in the slot the
// owner of the parse passed in, for it to raise in place of the HookError.
class PyHook final : public SectionHook {
 public:
  // `callable` is owned; `interpreter_error` belongs to the caller and outlives the hook.
  PyHook(PyRef callable, PyRef& interpreter_error) noexcept
      : callable_(std::move(callable)), interpreter_error_(&interpreter_error) {}
  PyHook(PyHook&&) noexcept = default;
  PyHook& operator=(PyHook&&) noexcept = default;

  HookOutcome call(SectionType type, AttrMap& attrs, const AttrMap& header) override;

 private:
  // A str the bridge handed over for one entry of attrs, with the text it was made from. While the
  // reference is held no other object can take its address, so finding the same object in the
  // dict afterwards means the same text.
  struct Handed {
    PyRef key;
    PyRef value;
    std::string_view key_text;
    std::string_view value_text;
  };
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept {
      return std::hash<std::string_view>{}(s);
    }
  };

  PyRef key_str(std::string_view text);

  PyRef callable_;
  PyRef* interpreter_error_;
  std::vector<Handed> handed_;  // for the call in progress only
  // The same keys come back in every section; their strs are made once per parse, up to a
  // bound that keeps a statement of many distinct keys from holding them all.
  std::unordered_map<std::string, PyRef, TextHash, std::equal_to<>> keys_;
  // Every call gets a new header dict, copied from this one: the header is complete before the
  // first section, so its strs need making only once per parse.
  PyRef header_;
  std::size_t header_size_ = 0;
};

// "<type __qualname__>: <str(exception)>", with "<exception str() failed>" when str() raises and
// lone surrogates replaced; the pending-free form of an exception that the core can carry.
std::string exception_text(PyObject* exception);

}  // namespace tarvik::py
