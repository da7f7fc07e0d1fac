#include "hook_bridge.h"

#include <optional>
#include <string>
#include <string_view>

#include "native_hook_adapter.h"
#include "py_convert.h"
#include "result_types.h"

namespace tarvik::py {
namespace {

// The core may call a hook from any context; take the lock the re-entrant way and give back only
// what was taken.
class LockGuard {
 public:
  LockGuard() noexcept : state_(PyGILState_Ensure()) {}
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;
  ~LockGuard() { PyGILState_Release(state_); }

 private:
  PyGILState_STATE state_;
};

// The UTF-8 form of a str. Lone surrogates cannot be carried, so they are passed through the
// encoder and the ill-formed bytes then decoded to U+FFFD, one per byte.
std::string lossy_utf8(PyObject* str) {
  if (const std::optional<std::string_view> text = utf8_of(str)) {
    return std::string(*text);
  }
  PyErr_Clear();
  PyRef bytes = PyRef::steal(PyUnicode_AsEncodedString(str, "utf-8", "surrogatepass"));
  PyRef repaired;
  if (bytes) {
    repaired = PyRef::steal(PyUnicode_DecodeUTF8(PyBytes_AS_STRING(bytes.get()),
                                                 PyBytes_GET_SIZE(bytes.get()), "replace"));
  }
  if (repaired) {
    if (const std::optional<std::string_view> text = utf8_of(repaired.get())) {
      return std::string(*text);
    }
  }
  PyErr_Clear();
  return {};
}

// A text for a key or value of attrs, or nullopt with the reason raised.
std::optional<std::string_view> text_of(PyObject* object) {
  if (!PyUnicode_Check(object)) {
    raise_cannot_convert(object, "PyString");
    return std::nullopt;
  }
  return utf8_of(object);
}

constexpr std::size_t kMaxCachedKeys = 256;

}  // namespace

PyRef PyHook::key_str(std::string_view text) {
  if (const auto it = keys_.find(text); it != keys_.end()) {
    return PyRef::borrow(it->second.get());
  }
  PyRef str = PyRef::steal(new_str(text));
  if (str && keys_.size() < kMaxCachedKeys) {
    keys_.emplace(std::string(text), PyRef::borrow(str.get()));
  }
  return str;
}

const tarvik_native_hook* native_hook_of(PyObject* callable) noexcept {
  // The type's own dictionary, not an attribute lookup: a lookup could run the type's or its
  // metaclass's Python code, and a subclass must not pass for the type that has the native form.
  PyRef dict = PyRef::steal(PyType_GetDict(Py_TYPE(callable)));
  if (!dict) {
    PyErr_Clear();
    return nullptr;
  }
  PyObject* capsule = PyDict_GetItemString(dict.get(), TARVIK_NATIVE_HOOK_ATTRIBUTE);
  if (capsule == nullptr || !PyCapsule_IsValid(capsule, TARVIK_NATIVE_HOOK_CAPSULE)) {
    return nullptr;
  }
  const auto* type = static_cast<const tarvik_native_hook_type*>(
      PyCapsule_GetPointer(capsule, TARVIK_NATIVE_HOOK_CAPSULE));
  if (type == nullptr || type->abi != TARVIK_NATIVE_HOOK_ABI ||
      type->size < sizeof(tarvik_native_hook_type) || type->hook_of == nullptr) {
    PyErr_Clear();
    return nullptr;
  }
  const tarvik_native_hook* hook = type->hook_of(callable);
  return callable_native_hook(hook) ? hook : nullptr;
}

std::string exception_text(PyObject* exception) {
  std::string out;
  if (PyRef qualname = PyRef::steal(PyType_GetQualName(Py_TYPE(exception)))) {
    out = lossy_utf8(qualname.get());
  } else {
    PyErr_Clear();
    out = Py_TYPE(exception)->tp_name;
  }
  out += ": ";
  if (PyRef text = PyRef::steal(PyObject_Str(exception))) {
    out += lossy_utf8(text.get());
  } else {
    PyErr_Clear();
    out += "<exception str() failed>";
  }
  return out;
}

HookOutcome PyHook::call(SectionType type, AttrMap& attrs, const AttrMap& header) {
  auto outcome = call_python(type, attrs, header);
  if (!outcome) {
    interpreter_failure_ = std::move(outcome).error().exception;
    return HookOutcome::fail("MemoryError");
  }
  return std::move(outcome).value();
}

Result<HookOutcome, PyHook::InterpreterFailure> PyHook::call_python(SectionType type,
                                                                    AttrMap& attrs,
                                                                    const AttrMap& header) {
  LockGuard lock;

  // The bridge's own work: an error here is the interpreter failing (out of memory), which the
  // parse reports as itself; an error of the bridge's conversions is the hook's fault.
  const auto failed = [this]() -> Result<HookOutcome, InterpreterFailure> {
    PyRef error = PyRef::steal(PyErr_GetRaisedException());
    if (PyErr_GivenExceptionMatches(error.get(), PyExc_MemoryError)) {
      return Err{InterpreterFailure{std::move(error)}};
    }
    return HookOutcome::fail(exception_text(error.get()));
  };

  // Declared after the lock, so the references go while it is still held.
  struct ReleaseHanded {
    std::vector<Handed>& handed;
    ~ReleaseHanded() { handed.clear(); }
  } release_handed{handed_};

  PyRef attrs_dict = PyRef::steal(PyDict_New());
  if (!attrs_dict) {
    return failed();
  }
  handed_.reserve(attrs.size());
  for (const AttrMap::Entry& entry : attrs) {
    PyRef key = key_str(entry.key);
    if (!key) {
      return failed();
    }
    PyRef value = PyRef::steal(new_str(entry.value));
    if (!value || PyDict_SetItem(attrs_dict.get(), key.get(), value.get()) < 0) {
      return failed();
    }
    handed_.push_back({std::move(key), std::move(value), entry.key, entry.value});
  }
  // A lenient reading may add a late key to the header; it only ever grows.
  if (!header_ || header.size() != header_size_) {
    header_ = PyRef::steal(attr_map_to_dict(header));
    if (!header_) {
      return failed();
    }
    header_size_ = header.size();
  }
  PyRef header_dict = PyRef::steal(PyDict_Copy(header_.get()));
  if (!header_dict) {
    return failed();
  }
  PyRef section_type = PyRef::steal(new_section_type(type));
  if (!section_type) {
    return failed();
  }

  // One spare slot in front lets a bound method prepend `self` without copying the arguments.
  PyObject* argv[] = {nullptr, section_type.get(), attrs_dict.get(), header_dict.get()};
  PyRef result = PyRef::steal(
      PyObject_Vectorcall(callable_.get(), argv + 1, 3 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
  if (!result) {
    // Whatever the callable raised, KeyboardInterrupt and SystemExit included, is its failure.
    PyRef error = PyRef::steal(PyErr_GetRaisedException());
    return HookOutcome::fail(exception_text(error.get()));
  }
  result = PyRef();

  // The callable has returned, so no Python code runs while the dict is walked. Most callables
  // leave attrs as they got it, every entry the same objects in the same order: writing that back
  // would give the map it already is.
  if (static_cast<std::size_t>(PyDict_GET_SIZE(attrs_dict.get())) == handed_.size()) {
    Py_ssize_t pos = 0;
    std::size_t at = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(attrs_dict.get(), &pos, &key, &value) && handed_[at].key.get() == key &&
           handed_[at].value.get() == value) {
      ++at;
    }
    if (at == handed_.size()) {
      return HookOutcome::proceed();
    }
  }

  // The texts of strs the bridge made itself are known, and entries the callable left in place
  // are met in order.
  AttrMap written;
  Py_ssize_t pos = 0;
  std::size_t at = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  while (PyDict_Next(attrs_dict.get(), &pos, &key, &value)) {
    const Handed* handed = at < handed_.size() ? &handed_[at] : nullptr;
    ++at;
    const std::optional<std::string_view> key_text =
        handed != nullptr && handed->key.get() == key ? handed->key_text : text_of(key);
    if (!key_text) {
      attrs = std::move(written);
      return failed();
    }
    const std::optional<std::string_view> value_text =
        handed != nullptr && handed->value.get() == value ? handed->value_text : text_of(value);
    if (!value_text) {
      attrs = std::move(written);
      return failed();
    }
    written.insert(*key_text, *value_text);
  }
  attrs = std::move(written);
  return HookOutcome::proceed();
}

}  // namespace tarvik::py
