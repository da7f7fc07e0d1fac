#include "exceptions.h"

#include <cstddef>
#include <string>
#include <variant>

#include "create_once.h"
#include "detail_types.h"
#include "overloaded.h"
#include "py_ref.h"

namespace tarvik::py {
namespace {

constexpr std::size_t kExceptionCount = 5;
constinit CreateOnce g_exception_types[kExceptionCount];

const char* qualified_name(ExceptionClass which) {
  switch (which) {
    case ExceptionClass::ParseError:
      return "tarvik_py.ParseError";
    case ExceptionClass::NotStatementError:
      return "tarvik_py.NotStatementError";
    case ExceptionClass::EmptyInputError:
      return "tarvik_py.EmptyInputError";
    case ExceptionClass::UnfinishedError:
      return "tarvik_py.UnfinishedError";
    case ExceptionClass::SyntaxError:
      return "tarvik_py.SyntaxError";
  }
  return nullptr;
}

// New reference, or nullptr with an exception set.
PyObject* make_exception_type(ExceptionClass which) {
  PyObject* base = PyExc_Exception;
  if (which != ExceptionClass::ParseError) {
    base = exception_type(ExceptionClass::ParseError);
    if (base == nullptr) {
      return nullptr;
    }
  }
  return PyErr_NewExceptionWithDoc(qualified_name(which), nullptr, base, nullptr);
}

PyObject* raise_with_message(ExceptionClass which, const std::string& text) {
  PyObject* type = exception_type(which);
  if (type == nullptr) {
    return nullptr;
  }
  PyRef message = PyRef::steal(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
  if (!message) {
    return nullptr;
  }
  PyErr_SetObject(type, message.get());
  return nullptr;
}

// The detail is a courtesy on top of the message: if it cannot be attached, the exception goes
// out without it rather than being replaced by the reason.
void attach_detail(PyObject* exception, const SyntaxDetail& detail) {
  PyRef dict = PyRef::steal(PyObject_GetAttrString(exception, "__dict__"));
  if (!dict) {
    PyErr_Clear();
    return;
  }
  PyRef object = PyRef::steal(new_detail(detail));
  if (!object) {
    PyErr_Clear();
    return;
  }
  PyRef key = PyRef::steal(PyUnicode_FromString("detail"));
  if (!key || PyObject_SetItem(dict.get(), key.get(), object.get()) < 0) {
    PyErr_Clear();
  }
}

PyObject* raise_syntax(const SyntaxDetail& detail) {
  PyObject* type = exception_type(ExceptionClass::SyntaxError);
  if (type == nullptr) {
    return nullptr;
  }
  const std::string text = message(detail);
  PyRef message = PyRef::steal(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
  if (!message) {
    return nullptr;
  }
  PyRef exception = PyRef::steal(PyObject_CallOneArg(type, message.get()));
  if (!exception) {
    return nullptr;
  }
  attach_detail(exception.get(), detail);
  PyErr_SetRaisedException(exception.release());
  return nullptr;
}

}  // namespace

PyObject* exception_type(ExceptionClass which) {
  return g_exception_types[static_cast<std::size_t>(which)].get(
      [which] { return make_exception_type(which); });
}

PyObject* raise_failure(const ParseFailure& failure) {
  return std::visit(
      Overloaded{
          [&](const NotStatement&) {
            return raise_with_message(ExceptionClass::NotStatementError, message(failure));
          },
          [&](const Unfinished&) {
            return raise_with_message(ExceptionClass::UnfinishedError, message(failure));
          },
          [](const SyntaxDetail& detail) { return raise_syntax(detail); },
      },
      failure);
}

}  // namespace tarvik::py
