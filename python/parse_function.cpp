#include "parse_function.h"

#include <algorithm>
#include <cstddef>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "exceptions.h"
#include "hook_bridge.h"
#include "native_hook_adapter.h"
#include "parse.h"
#include "py_convert.h"
#include "py_ref.h"
#include "result_types.h"

namespace tarvik::py {
namespace {

// The signature line lets the interpreter derive __text_signature__; the rest is __doc__.
constexpr const char kParseDoc[] =
    "parse(statement, hooks=None)\n--\n\n"
    "Парсит выписку 1CClientBankExchange из байтов или строки.\n"
    "\n"
    "# Аргументы\n"
    "\n"
    "* `statement` - Сырые байты или строка файла выписки (поддерживает кодировки CP1251 и UTF-8)\n"
    "* `hooks` - Опциональный список callable для модификации секций во время парсинга.\n"
    "  Сигнатура hook: `(section_type: SectionType, attrs: dict, header: dict) -> None`\n"
    "  - `section_type`: тип секции (`SectionType.Document` или `SectionType.Account`)\n"
    "  - attrs: словарь атрибутов секции (можно модифицировать)\n"
    "  - header: словарь заголовка выписки (только для чтения)\n"
    "\n"
    "# Возвращает\n"
    "\n"
    "Объект Statement с атрибутами:\n"
    "- encoding: \"cp1251\" или \"utf-8\"\n"
    "- header: словарь пар ключ-значение заголовка\n"
    "- accounts: словарь номер счёта -> объект Account\n"
    "- documents: список объектов Document\n"
    "- warnings: список кортежей (lineno, message)\n"
    "\n"
    "# Ошибки\n"
    "\n"
    "* `NotStatementError` - Если входные данные не являются выпиской 1C\n"
    "* `EmptyInputError` - Если входные данные пусты\n"
    "* `UnfinishedError` - Если выписка не завершена корректно\n"
    "* `SyntaxError` - Если в выписке синтаксическая ошибка (включая ошибки hooks)\n"
    "* `ParseError` - Для прочих ошибок парсинга";

// A sequence may report any length; it is only a hint, so a fantastic one must not make the
// reservation itself fail.
constexpr Py_ssize_t kMaxHookReservation = 1024;

enum Param : std::size_t { kStatement, kHooks, kParamCount };
constexpr const char* kParamNames[kParamCount] = {"statement", "hooks"};

// Binds (statement, hooks=None) as the interpreter binds a Python function, with its wording:
// keywords first, then the positional count, then what is missing. Fills `bound` with borrowed
// references (nullptr for an absent hooks); false with TypeError set.
bool bind_arguments(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    PyObject* (&bound)[kParamCount]) {
  for (Py_ssize_t i = 0; i < nargs && i < Py_ssize_t{kParamCount}; ++i) {
    bound[i] = args[i];
  }
  const Py_ssize_t keyword_count = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < keyword_count; ++k) {
    PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
    if (!PyUnicode_Check(keyword)) {
      PyErr_SetString(PyExc_TypeError, "parse() keywords must be strings");
      return false;
    }
    std::size_t index = 0;
    while (index < kParamCount &&
           PyUnicode_CompareWithASCIIString(keyword, kParamNames[index]) != 0) {
      ++index;
    }
    if (index == kParamCount) {
      PyErr_Format(PyExc_TypeError, "parse() got an unexpected keyword argument '%U'", keyword);
      return false;
    }
    if (bound[index] != nullptr) {
      PyErr_Format(PyExc_TypeError, "parse() got multiple values for argument '%s'",
                   kParamNames[index]);
      return false;
    }
    bound[index] = args[nargs + k];
  }
  if (nargs > Py_ssize_t{kParamCount}) {
    PyErr_Format(PyExc_TypeError,
                 "parse() takes from 1 to 2 positional arguments but %zd were given", nargs);
    return false;
  }
  if (bound[kStatement] == nullptr) {
    PyErr_SetString(PyExc_TypeError, "parse() missing 1 required positional argument: 'statement'");
    return false;
  }
  return true;
}

// The callables of `hooks`, in order, not yet looked at; false with the error set. Every error
// of the conversion is worded as one of the argument.
bool convert_hooks(PyObject* hooks, std::vector<PyRef>& callables) {
  if (hooks == nullptr || hooks == Py_None) {
    return true;
  }
  if (PyUnicode_Check(hooks)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
    argument_error("hooks", CauseFrom::ReplacedErrorsCause);
    return false;
  }
  if (!PySequence_Check(hooks)) {
    raise_cannot_convert(hooks, "Sequence");
    argument_error("hooks", CauseFrom::ReplacedErrorsCause);
    return false;
  }
  Py_ssize_t hint = PySequence_Size(hooks);
  if (hint < 0) {
    PyErr_Clear();
    hint = 0;
  }
  callables.reserve(static_cast<std::size_t>(std::min(hint, kMaxHookReservation)));
  PyRef iterator = PyRef::steal(PyObject_GetIter(hooks));
  if (!iterator) {
    argument_error("hooks", CauseFrom::ReplacedErrorsCause);
    return false;
  }
  while (PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) {
    callables.push_back(std::move(item));
  }
  if (PyErr_Occurred()) {
    argument_error("hooks", CauseFrom::ReplacedErrorsCause);
    return false;
  }
  return true;
}

PyObject* raise_bad_statement() {
  PyErr_SetString(PyExc_TypeError, "statement must be bytes or str");
  return nullptr;
}

PyObject* parse_impl(PyObject* statement, PyObject* hooks) {
  std::vector<PyRef> callables;
  if (!convert_hooks(hooks, callables)) {
    return nullptr;
  }

  // Bytes are immutable and an ASCII str is its own UTF-8, so both are read in place; the
  // reference keeps them alive whatever the hooks do. Any other str is encoded into a private
  // copy rather than through the str's UTF-8 cache, which would keep that memory for as long as
  // the caller keeps the str.
  PyRef input_owner;
  if (PyUnicode_Check(statement)) {
    if (PyUnicode_IS_ASCII(statement)) {
      input_owner = PyRef::borrow(statement);
    } else {
      input_owner = PyRef::steal(PyUnicode_AsUTF8String(statement));
      if (!input_owner) {
        if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) {
          return nullptr;
        }
        PyErr_Clear();
        return raise_bad_statement();
      }
    }
  } else if (PyBytes_Check(statement)) {
    input_owner = PyRef::borrow(statement);
  } else {
    return raise_bad_statement();
  }
  std::string_view input;
  if (PyBytes_Check(input_owner.get())) {
    input = std::string_view(PyBytes_AS_STRING(input_owner.get()),
                             static_cast<std::size_t>(PyBytes_GET_SIZE(input_owner.get())));
  } else {
    input = std::string_view(static_cast<const char*>(PyUnicode_DATA(input_owner.get())),
                             static_cast<std::size_t>(PyUnicode_GET_LENGTH(input_owner.get())));
  }

  // A callable whose type offers a native form is called as that, on the section's lines, with
  // no dict and no Python call; the others through the bridge, which takes its callable over.
  // `callables` keeps the native ones alive.
  std::vector<PyHook> bridges;
  bridges.reserve(callables.size());
  std::vector<NativeHook> natives;
  natives.reserve(callables.size());
  std::vector<SectionHook*> hook_list;
  hook_list.reserve(callables.size());
  for (PyRef& callable : callables) {
    if (const tarvik_native_hook* native = native_hook_of(callable.get())) {
      hook_list.push_back(&natives.emplace_back(*native));
    } else {
      hook_list.push_back(&bridges.emplace_back(std::move(callable)));
    }
  }

  Result<Statement, ParseFailure> result = parse(input, hook_list);
  // A hook's Fail ends the parse, so at most one bridge holds a failure of the interpreter.
  for (PyHook& bridge : bridges) {
    if (PyRef failure = bridge.take_interpreter_failure()) {
      PyErr_SetRaisedException(failure.release());
      return nullptr;
    }
  }
  if (!result) {
    return raise_failure(result.error());
  }
  for (NativeHook& native : natives) {
    native.records(result.value());
  }
  return build_statement(std::move(result).value());
}

PyObject* parse_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  try {
    PyObject* bound[kParamCount] = {};
    if (!bind_arguments(args, nargs, kwnames, bound)) {
      return nullptr;
    }
    return parse_impl(bound[kStatement], bound[kHooks]);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

// Through void (*)(): the fast-call signature is not PyCFunction's, and the detour keeps the
// compilers' cast-function-type check quiet.
PyMethodDef g_parse_def = {
    "parse",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(parse_entry)),
    METH_FASTCALL | METH_KEYWORDS,
    kParseDoc,
};

}  // namespace

PyMethodDef& parse_method_def() noexcept { return g_parse_def; }

}  // namespace tarvik::py
