#pragma once

// Helpers shared by the conversions between Python values and the core's texts.

#include <Python.h>

#include <optional>
#include <string_view>

#include "py_ref.h"

namespace tarvik::py {

// A new str from UTF-8 text, or nullptr with an exception set.
inline PyObject* new_str(std::string_view text) noexcept {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
}

// The UTF-8 form of a str (or subclass) object, cached in the object and valid while it lives;
// nullopt with the interpreter's error set (a lone surrogate gives UnicodeEncodeError).
inline std::optional<std::string_view> utf8_of(PyObject* str) noexcept {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(str, &size);
  if (data == nullptr) {
    return std::nullopt;
  }
  return std::string_view(data, static_cast<std::size_t>(size));
}

// Raises TypeError "'<qualified type name>' object cannot be converted to '<target>'", the
// refusal shared by every conversion of a Python value into one of ours. Returns nullptr.
inline PyObject* raise_cannot_convert(PyObject* object, const char* target) noexcept {
  PyObject* qualname = PyType_GetQualName(Py_TYPE(object));
  if (qualname == nullptr) {
    return nullptr;
  }
  PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", qualname, target);
  Py_DECREF(qualname);
  return nullptr;
}

// What an argument error replaced by argument_error() hands on as its cause.
enum class CauseFrom { ReplacedError, ReplacedErrorsCause };

// Names the argument in a pending error whose type is exactly TypeError: it becomes a new
// TypeError "argument '<name>': <message of the replaced error>". Any other error, subclasses of
// TypeError included, stays as raised. Returns nullptr.
inline PyObject* argument_error(const char* name, CauseFrom cause_from) noexcept {
  PyRef replaced = PyRef::steal(PyErr_GetRaisedException());
  if (!replaced || Py_TYPE(replaced.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
    PyErr_SetRaisedException(replaced.release());
    return nullptr;
  }
  PyRef text = PyRef::steal(PyObject_Str(replaced.get()));
  if (!text) {
    return nullptr;
  }
  PyRef message = PyRef::steal(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
  if (!message) {
    return nullptr;
  }
  PyRef replacement = PyRef::steal(PyObject_CallOneArg(PyExc_TypeError, message.get()));
  if (!replacement) {
    return nullptr;
  }
  PyObject* cause = cause_from == CauseFrom::ReplacedError ? replaced.release()
                                                           : PyException_GetCause(replaced.get());
  PyException_SetCause(replacement.get(), cause);  // steals `cause`, which may be nullptr
  PyErr_SetRaisedException(replacement.release());
  return nullptr;
}

}  // namespace tarvik::py
