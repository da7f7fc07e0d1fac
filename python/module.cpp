#include <Python.h>

#include <atomic>
#include <cstdint>
#include <new>

#include "create_once.h"
#include "detail_types.h"
#include "exceptions.h"
#include "parse_function.h"
#include "py_ref.h"
#include "result_types.h"

namespace tarvik::py {
namespace {

constexpr int kApiVersion = 1013;

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT,
    "tarvik_py",
    "Python-модуль для парсинга банковских выписок 1CClientBankExchange.",
    0,  // no per-module state: everything the module keeps is per process
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The module serves the first interpreter that imports it; -1 until then.
std::atomic<std::int64_t> g_owner_interpreter{-1};
constinit CreateOnce g_module;

// Appends `name` to __all__ (made on first use) and sets the member; false with an error set.
bool add_member(PyObject* module, const char* name, PyObject* member) {
  PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
      return false;
    }
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) {
      return false;
    }
  } else if (!PyList_Check(all.get())) {
    PyErr_SetString(PyExc_TypeError, "__all__ must be a list");
    return false;
  }
  PyRef key = PyRef::steal(PyUnicode_FromString(name));
  if (!key || PyList_Append(all.get(), key.get()) < 0) {
    return false;
  }
  return PyObject_SetAttr(module, key.get(), member) == 0;
}

using TypeGetter = PyObject* (*)();

struct ClassMember {
  const char* name;
  TypeGetter type;
};

PyObject* unexpected_section() { return detail_type(DetailClass::UnexpectedSection); }
PyObject* unexpected_attribute() { return detail_type(DetailClass::UnexpectedAttribute); }
PyObject* unrecognized_line() { return detail_type(DetailClass::UnrecognizedLine); }
PyObject* missing_field() { return detail_type(DetailClass::MissingField); }
PyObject* account_parse_error() { return detail_type(DetailClass::AccountParseError); }
PyObject* document_parse_error() { return detail_type(DetailClass::DocumentParseError); }
PyObject* hook_error() { return detail_type(DetailClass::HookError); }

PyObject* parse_error() { return exception_type(ExceptionClass::ParseError); }
PyObject* not_statement_error() { return exception_type(ExceptionClass::NotStatementError); }
PyObject* empty_input_error() { return exception_type(ExceptionClass::EmptyInputError); }
PyObject* unfinished_error() { return exception_type(ExceptionClass::UnfinishedError); }
PyObject* syntax_error() { return exception_type(ExceptionClass::SyntaxError); }

// Registration order is the order of __all__: classes, then parse, then the exceptions.
constexpr ClassMember kClasses[] = {
    {"Interval", interval_type},
    {"Account", account_type},
    {"Document", document_type},
    {"Statement", statement_type},
    {"SectionType", section_type_type},
    {"UnexpectedSection", unexpected_section},
    {"UnexpectedAttribute", unexpected_attribute},
    {"UnrecognizedLine", unrecognized_line},
    {"MissingField", missing_field},
    {"AccountParseError", account_parse_error},
    {"DocumentParseError", document_parse_error},
    {"HookError", hook_error},
};

constexpr ClassMember kExceptions[] = {
    {"ParseError", parse_error},
    {"NotStatementError", not_statement_error},
    {"EmptyInputError", empty_input_error},
    {"UnfinishedError", unfinished_error},
    {"SyntaxError", syntax_error},
};

bool add_types(PyObject* module, const auto& members) {
  for (const ClassMember& member : members) {
    PyObject* type = member.type();  // borrowed: types live as long as the process
    if (type == nullptr || !add_member(module, member.name, type)) {
      return false;
    }
  }
  return true;
}

bool add_parse(PyObject* module) {
  PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
  if (!module_name) {
    return false;
  }
  PyRef function =
      PyRef::steal(PyCMethod_New(&parse_method_def(), module, module_name.get(), nullptr));
  if (!function) {
    return false;
  }
  PyRef name = PyRef::steal(PyObject_GetAttrString(function.get(), "__name__"));
  if (!name) {
    return false;
  }
  const char* name_text = PyUnicode_AsUTF8(name.get());
  return name_text != nullptr && add_member(module, name_text, function.get());
}

// New reference, or nullptr with the error of the first member that could not be added; the
// partly filled module is dropped, so the next import starts afresh.
PyObject* create_module() {
  PyRef module = PyRef::steal(PyModule_Create2(&g_module_def, kApiVersion));
  if (!module) {
    return nullptr;
  }
  if (!add_types(module.get(), kClasses) || !add_parse(module.get()) ||
      !add_types(module.get(), kExceptions)) {
    return nullptr;
  }
  return module.release();
}

PyObject* init_module() {
  const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id == -1) {
    return nullptr;
  }
  std::int64_t owner = -1;
  if (!g_owner_interpreter.compare_exchange_strong(owner, id) && owner != id) {
    PyErr_SetString(PyExc_ImportError,
                    "tarvik_py does not support sub-interpreters: it can be imported only in the "
                    "interpreter that imported it first");
    return nullptr;
  }
  // An import after the first (the module removed from sys.modules, or reloaded) gets the same
  // module object, with the same classes and exceptions.
  try {
    return Py_XNewRef(g_module.get(create_module));
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

}  // namespace
}  // namespace tarvik::py

PyMODINIT_FUNC PyInit_tarvik_py(void) { return tarvik::py::init_module(); }
