#pragma once

#include <Python.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "attr_map.h"
#include "native_hook.h"
#include "py_ref.h"
#include "result.h"
#include "section_hook.h"
#include "statement.h"

namespace tarvik::py {

// A SectionHook over one Python callable, called as hook(section_type, attrs, header) with fresh
// objects each time; attrs is then written back into the section. No Python exception reaches the
// core: the callable's exceptions and unusable attrs become a Fail text. Only a failure of the
// interpreter itself (no memory for the dicts and strs handed over) is an outcome of its own: the
// core is told Fail, which ends the parse, and the hook keeps the exception for the owner of the
// parse to raise in place of the HookError.
class PyHook final : public MapHook {
 public:
  explicit PyHook(PyRef callable) noexcept : callable_(std::move(callable)) {}
  PyHook(PyHook&&) noexcept = default;
  PyHook& operator=(PyHook&&) noexcept = default;

  HookOutcome call(SectionType type, AttrMap& attrs, const AttrMap& header) override;

  // The interpreter's failure that ended the parse in this hook, if it did; empty otherwise.
  PyRef take_interpreter_failure() noexcept { return std::move(interpreter_failure_); }

 private:
  // The interpreter failed while the bridge made or read objects: this exception, a MemoryError.
  struct InterpreterFailure {
    PyRef exception;
  };

  Result<HookOutcome, InterpreterFailure> call_python(SectionType type, AttrMap& attrs,
                                                      const AttrMap& header);

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
  PyRef interpreter_failure_;
  std::vector<Handed> handed_;  // for the call in progress only
  // The same keys come back in every section; their strs are made once per parse, up to a
  // bound that keeps a statement of many distinct keys from holding them all.
  std::unordered_map<std::string, PyRef, TextHash, std::equal_to<>> keys_;
  // Every call gets a new header dict, copied from this one, made at the first call. A hook runs
  // when a section closes, and the reader takes header lines only before the first section opens
  // (a later one is an unexpected attribute, which ends the parse), so by then the header is
  // complete; a lenient reading, which a native hook may ask for, adds a key now and then, and
  // the dict is made again when the header has grown.
  PyRef header_;
  std::size_t header_size_ = 0;  // of the header the dict was made from
};

// The native form that `callable`'s type offers in its own dictionary (native_hook.h), or nullptr
// where it offers none this core can call; the callable is then called as Python. Runs no Python
// code of the callable's.
const tarvik_native_hook* native_hook_of(PyObject* callable) noexcept;

// "<type __qualname__>: <str(exception)>", with "<exception str() failed>" when str() raises and
// lone surrogates replaced; the pending-free form of an exception that the core can carry.
std::string exception_text(PyObject* exception);

}  // namespace tarvik::py
