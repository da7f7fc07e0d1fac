#pragma once

#include <Python.h>

#include "failure.h"

namespace tarvik::py {

enum class ExceptionClass {
  ParseError,
  NotStatementError,
  EmptyInputError,
  UnfinishedError,
  SyntaxError
};

// The module's exception type, made on first use and kept for the life of the process (so the
// pointer is borrowed), or nullptr with an exception set.
PyObject* exception_type(ExceptionClass which);

// Raises the exception that stands for `failure`; a syntax failure carries its detail object in
// the instance's `detail` attribute. Always returns nullptr, for `return raise_failure(f);`.
PyObject* raise_failure(const ParseFailure& failure);

}  // namespace tarvik::py
