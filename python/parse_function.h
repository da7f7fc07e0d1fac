#pragma once

#include <Python.h>

namespace tarvik::py {

// The definition of the module function parse(statement, hooks=None); it lives as long as the
// process, as the function object made from it requires.
PyMethodDef& parse_method_def() noexcept;

}  // namespace tarvik::py
