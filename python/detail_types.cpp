#include "detail_types.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "create_once.h"
#include "overloaded.h"
#include "py_convert.h"
#include "py_ref.h"
#include "quoted_text.h"

namespace tarvik::py {
namespace {

constexpr std::size_t kMaxTexts = 2;

struct DetailSpec {
  const char* name;
  const char* type_name;
  const char* doc;  // only the text signature: __doc__ is empty and inspect sees the parameters
  std::size_t text_count;
  std::array<const char*, kMaxTexts + 1> params;  // "lineno", then the text fields
};

constexpr std::size_t kDetailCount = 7;

// Indexed by DetailClass.
constexpr DetailSpec kSpecs[kDetailCount] = {
    {"UnexpectedSection",
     "tarvik_py.UnexpectedSection",
     "UnexpectedSection(lineno, found, context)\n--\n\n",
     2,
     {"lineno", "found", "context"}},
    {"UnexpectedAttribute",
     "tarvik_py.UnexpectedAttribute",
     "UnexpectedAttribute(lineno, key, value)\n--\n\n",
     2,
     {"lineno", "key", "value"}},
    {"UnrecognizedLine",
     "tarvik_py.UnrecognizedLine",
     "UnrecognizedLine(lineno, line)\n--\n\n",
     1,
     {"lineno", "line", nullptr}},
    {"MissingField",
     "tarvik_py.MissingField",
     "MissingField(lineno, field, context)\n--\n\n",
     2,
     {"lineno", "field", "context"}},
    {"AccountParseError",
     "tarvik_py.AccountParseError",
     "AccountParseError(lineno, message)\n--\n\n",
     1,
     {"lineno", "message", nullptr}},
    {"DocumentParseError",
     "tarvik_py.DocumentParseError",
     "DocumentParseError(lineno, message)\n--\n\n",
     1,
     {"lineno", "message", nullptr}},
    {"HookError",
     "tarvik_py.HookError",
     "HookError(lineno, message)\n--\n\n",
     1,
     {"lineno", "message", nullptr}},
};

struct DetailObject {
  PyObject ob_base;
  std::uint64_t lineno;
  std::string texts[kMaxTexts];  // the ones past the class's text_count stay empty
};

DetailObject* as_detail(PyObject* self) noexcept { return reinterpret_cast<DetailObject*>(self); }

// A new instance holding the given values, which are moved in. New reference or nullptr.
PyObject* new_instance(PyObject* type, std::uint64_t lineno,
                       std::array<std::string, kMaxTexts>&& texts) noexcept {
  auto* tp = reinterpret_cast<PyTypeObject*>(type);
  allocfunc alloc = tp->tp_alloc != nullptr ? tp->tp_alloc : PyType_GenericAlloc;
  PyObject* self = alloc(tp, 0);
  if (self == nullptr) {
    return nullptr;
  }
  DetailObject* d = as_detail(self);
  d->lineno = lineno;
  for (std::size_t i = 0; i < kMaxTexts; ++i) {
    ::new (static_cast<void*>(&d->texts[i])) std::string(std::move(texts[i]));
  }
  return self;
}

void detail_dealloc(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  std::destroy_n(as_detail(self)->texts, kMaxTexts);
  tp->tp_free(self);
  Py_DECREF(tp);
}

// ---- argument binding, worded as the interpreter words it for a Python function

const char* plural(Py_ssize_t count, const char* one, const char* many) {
  return count == 1 ? one : many;
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'".
std::string name_list(const std::array<const char*, kMaxTexts + 1>& names, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) {
      out += count == 2 ? " and " : (i + 1 == count ? ", and " : ", ");
    }
    out += '\'';
    out += names[i];
    out += '\'';
  }
  return out;
}

// Fills `bound` (borrowed references) from args and kwargs; false with TypeError set.
bool bind_arguments(const DetailSpec& cls, PyObject* args, PyObject* kwargs,
                    std::array<PyObject*, kMaxTexts + 1>& bound) {
  const auto param_count = static_cast<Py_ssize_t>(cls.text_count + 1);
  const Py_ssize_t given = PyTuple_GET_SIZE(args);
  for (Py_ssize_t i = 0; i < given && i < param_count; ++i) {
    bound[static_cast<std::size_t>(i)] = PyTuple_GET_ITEM(args, i);
  }
  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      if (!PyUnicode_Check(key)) {
        PyErr_Format(PyExc_TypeError, "%s.__new__() keywords must be strings", cls.name);
        return false;
      }
      std::size_t index = 0;
      while (index <= cls.text_count &&
             PyUnicode_CompareWithASCIIString(key, cls.params[index]) != 0) {
        ++index;
      }
      if (index > cls.text_count) {
        PyErr_Format(PyExc_TypeError, "%s.__new__() got an unexpected keyword argument '%U'",
                     cls.name, key);
        return false;
      }
      if (bound[index] != nullptr) {
        PyErr_Format(PyExc_TypeError, "%s.__new__() got multiple values for argument '%s'",
                     cls.name, cls.params[index]);
        return false;
      }
      bound[index] = value;
    }
  }
  if (given > param_count) {
    PyErr_Format(PyExc_TypeError, "%s.__new__() takes %zd positional arguments but %zd %s given",
                 cls.name, param_count, given, plural(given, "was", "were"));
    return false;
  }
  std::array<const char*, kMaxTexts + 1> missing{};
  std::size_t missing_count = 0;
  for (std::size_t i = 0; i <= cls.text_count; ++i) {
    if (bound[i] == nullptr) {
      missing[missing_count++] = cls.params[i];
    }
  }
  if (missing_count > 0) {
    const std::string names = name_list(missing, missing_count);
    PyErr_Format(PyExc_TypeError, "%s.__new__() missing %zu required positional %s: %s", cls.name,
                 missing_count,
                 plural(static_cast<Py_ssize_t>(missing_count), "argument", "arguments"),
                 names.c_str());
    return false;
  }
  return true;
}

template <std::size_t I>
PyObject* detail_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  constexpr const DetailSpec& cls = kSpecs[I];
  try {
    std::array<PyObject*, kMaxTexts + 1> bound{};
    if (!bind_arguments(cls, args, kwargs, bound)) {
      return nullptr;
    }
    // __index__ runs Python code, which could empty a keyword dict the caller still holds; the
    // arguments must outlive it, and the texts' UTF-8 forms live in them.
    std::array<PyRef, kMaxTexts + 1> held;
    for (std::size_t i = 0; i <= cls.text_count; ++i) {
      held[i] = PyRef::borrow(bound[i]);
    }
    PyRef index = PyRef::steal(PyNumber_Index(held[0].get()));
    if (!index) {
      return argument_error(cls.params[0], CauseFrom::ReplacedError);
    }
    const unsigned long long lineno = PyLong_AsUnsignedLongLong(index.get());
    if (lineno == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
      return nullptr;  // OverflowError, as the interpreter words it
    }
    std::array<std::string, kMaxTexts> texts;
    for (std::size_t i = 0; i < cls.text_count; ++i) {
      PyObject* arg = held[i + 1].get();
      if (!PyUnicode_Check(arg)) {
        raise_cannot_convert(arg, "PyString");
        return argument_error(cls.params[i + 1], CauseFrom::ReplacedError);
      }
      const std::optional<std::string_view> text = utf8_of(arg);
      if (!text) {
        return argument_error(cls.params[i + 1], CauseFrom::ReplacedError);
      }
      texts[i] = *text;
    }
    return new_instance(reinterpret_cast<PyObject*>(type), lineno, std::move(texts));
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

// ---- attributes, representation, pickling

PyObject* get_lineno(PyObject* self, void*) {
  return PyLong_FromUnsignedLongLong(as_detail(self)->lineno);
}

template <std::size_t T>
PyObject* get_text(PyObject* self, void*) {
  return new_str(as_detail(self)->texts[T]);
}

template <std::size_t I>
PyObject* detail_repr(PyObject* self) {
  constexpr const DetailSpec& cls = kSpecs[I];
  const DetailObject* d = as_detail(self);
  try {
    std::string out = cls.name;
    out += "(lineno=";
    out += std::to_string(d->lineno);
    for (std::size_t i = 0; i < cls.text_count; ++i) {
      out += ", ";
      out += cls.params[i + 1];
      out += '=';
      append_quoted(out, d->texts[i]);
    }
    out += ')';
    return new_str(out);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

// The constructor's arguments, so that copy and pickle (protocol 2 on) rebuild the instance.
template <std::size_t I>
PyObject* detail_getnewargs(PyObject* self, PyObject*) {
  constexpr std::size_t text_count = kSpecs[I].text_count;
  const DetailObject* d = as_detail(self);
  PyRef args = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(text_count + 1)));
  if (!args) {
    return nullptr;
  }
  PyObject* lineno = PyLong_FromUnsignedLongLong(d->lineno);
  if (lineno == nullptr) {
    return nullptr;
  }
  PyTuple_SET_ITEM(args.get(), 0, lineno);
  for (std::size_t i = 0; i < text_count; ++i) {
    PyObject* text = new_str(d->texts[i]);
    if (text == nullptr) {
      return nullptr;
    }
    PyTuple_SET_ITEM(args.get(), static_cast<Py_ssize_t>(i + 1), text);
  }
  return args.release();
}

template <class F>
void* slot(F* function) {
  return reinterpret_cast<void*>(function);
}

template <std::size_t I>
PyGetSetDef g_getset[] = {
    {"lineno", get_lineno, nullptr, "", nullptr},
    {kSpecs[I].params[1], get_text<0>, nullptr, "", nullptr},
    {kSpecs[I].params[2], kSpecs[I].text_count > 1 ? get_text<1> : nullptr, nullptr,
     kSpecs[I].text_count > 1 ? "" : nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

template <std::size_t I>
PyMethodDef g_methods[] = {
    {"__getnewargs__", detail_getnewargs<I>, METH_NOARGS, "__getnewargs__($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

template <std::size_t I>
PyType_Slot g_slots[] = {
    {Py_tp_doc, const_cast<char*>(kSpecs[I].doc)},
    {Py_tp_new, slot(detail_new<I>)},
    {Py_tp_dealloc, slot(detail_dealloc)},
    {Py_tp_repr, slot(detail_repr<I>)},
    {Py_tp_getset, g_getset<I>},
    {Py_tp_methods, g_methods<I>},
    {0, nullptr},
};

template <std::size_t I>
PyType_Spec g_spec = {
    .name = kSpecs[I].type_name,
    .basicsize = sizeof(DetailObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = g_slots<I>,
};

template <std::size_t... I>
constexpr std::array<PyType_Spec*, kDetailCount> all_specs(std::index_sequence<I...>) {
  return {&g_spec<I>...};
}

const std::array<PyType_Spec*, kDetailCount> g_specs =
    all_specs(std::make_index_sequence<kDetailCount>());

constinit CreateOnce g_detail_types[kDetailCount];

// The class and values that stand for a core detail; contexts as their names.
struct DetailValues {
  DetailClass which;
  std::uint64_t lineno;
  std::array<std::string, kMaxTexts> texts;
};

DetailValues values_of(const SyntaxDetail& detail) {
  return std::visit(
      Overloaded{
          [](const UnexpectedSection& d) {
            return DetailValues{
                DetailClass::UnexpectedSection, d.lineno, {d.found, std::string(name(d.context))}};
          },
          [](const UnexpectedAttribute& d) {
            return DetailValues{DetailClass::UnexpectedAttribute, d.lineno, {d.key, d.value}};
          },
          [](const UnrecognizedLine& d) {
            return DetailValues{DetailClass::UnrecognizedLine, d.lineno, {d.line, {}}};
          },
          [](const MissingField& d) {
            return DetailValues{
                DetailClass::MissingField, d.lineno, {d.field, std::string(name(d.context))}};
          },
          [](const AccountParseError& d) {
            return DetailValues{DetailClass::AccountParseError, d.lineno, {d.message, {}}};
          },
          [](const HookError& d) {
            return DetailValues{DetailClass::HookError, d.lineno, {d.message, {}}};
          },
      },
      detail);
}

}  // namespace

PyObject* detail_type(DetailClass which) {
  const auto index = static_cast<std::size_t>(which);
  return g_detail_types[index].get([index] { return PyType_FromSpec(g_specs[index]); });
}

PyObject* new_detail(const SyntaxDetail& detail) {
  try {
    DetailValues values = values_of(detail);
    PyObject* type = detail_type(values.which);
    if (type == nullptr) {
      return nullptr;
    }
    return new_instance(type, values.lineno, std::move(values.texts));
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

}  // namespace tarvik::py
