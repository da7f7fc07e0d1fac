#pragma once

#include <Python.h>

#include "failure.h"

namespace tarvik::py {

// The seven error detail classes, in the module's registration order.
enum class DetailClass {
  UnexpectedSection,
  UnexpectedAttribute,
  UnrecognizedLine,
  MissingField,
  AccountParseError,
  DocumentParseError,
  HookError,
};

// The class's type object, made on first use and kept for the life of the process (borrowed), or
// nullptr with an exception set.
PyObject* detail_type(DetailClass which);

// A new instance of the class that stands for the core's detail. New reference, or nullptr with
// an exception set.
PyObject* new_detail(const SyntaxDetail& detail);

}  // namespace tarvik::py
