#pragma once

#include <Python.h>

#include "attr_map.h"
#include "statement.h"

namespace tarvik::py {

// The type objects of the result classes, made on first use and kept for the life of the process
// (so the pointers are borrowed), or nullptr with an exception set.
PyObject* interval_type();
PyObject* account_type();
PyObject* document_type();
PyObject* statement_type();
PyObject* section_type_type();

// A new SectionType instance holding `value`, distinct from the class attributes. New reference,
// or nullptr with an exception set.
PyObject* new_section_type(SectionType value);

// A new dict of str to str in the map's order. New reference, or nullptr with an exception set.
PyObject* attr_map_to_dict(const AttrMap& map);

// The Python Statement for a finished parse. The records are moved into their Python objects,
// not copied, and no per-field object is made: texts are made when an attribute is read. New
// reference, or nullptr with an exception set and nothing of the partial result left.
PyObject* build_statement(Statement&& statement);

}  // namespace tarvik::py
