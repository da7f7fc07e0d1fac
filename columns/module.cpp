// tarvik._columns: a statement's bytes straight to Arrow tables, for tarvik.to_arrow.
//
// The interpreter lock is released while the core reads the statement (with the shipped repairs
// in their native form) and the tables are built; only the header, the small lists and the table
// objects are made with it held.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "arrow_tables.h"
#include "parse.h"
#include "repairs.h"

namespace tarvik::columns {
namespace {

// An owned reference, released at scope exit unless handed on with release().
class Ref {
 public:
  explicit Ref(PyObject* object = nullptr) noexcept : object_(object) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : object_(other.release()) {}
  Ref& operator=(Ref&&) = delete;
  ~Ref() { Py_XDECREF(object_); }
  PyObject* get() const noexcept { return object_; }
  PyObject* release() noexcept { return std::exchange(object_, nullptr); }
  explicit operator bool() const noexcept { return object_ != nullptr; }

 private:
  PyObject* object_;
};

PyObject* text(std::string_view value) {
  return PyUnicode_DecodeUTF8(value.data(), static_cast<Py_ssize_t>(value.size()), "strict");
}

// --- Table: one table, handed out through the Arrow PyCapsule interface ---------------------

struct TableObject {
  PyObject_HEAD SharedTable table;
};

constexpr const char kStreamCapsule[] = "arrow_array_stream";
constexpr const char kSchemaCapsule[] = "arrow_schema";

// Releases the Arrow structure a capsule of that name owns (stream or schema), unless a consumer
// has taken it over and cleared its release callback.
template <class Structure, const char* kName>
void free_capsule(PyObject* capsule) {
  auto* structure = static_cast<Structure*>(PyCapsule_GetPointer(capsule, kName));
  if (structure == nullptr) {
    PyErr_WriteUnraisable(capsule);
    return;
  }
  if (structure->release != nullptr) {
    structure->release(structure);
  }
  delete structure;
}

// A C++ failure as the Python exception it stands for; nullptr for the caller to return.
PyObject* raise_current() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  }
  return nullptr;
}

PyObject* table_stream(PyObject* self, PyObject* args, PyObject* kwargs) {
  // The requested schema is a wish the protocol lets a producer pass over: the columns' types
  // are the table's meaning, so they are handed out as they are.
  static const char* keywords[] = {"requested_schema", nullptr};
  PyObject* requested = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:__arrow_c_stream__",
                                   const_cast<char**>(keywords), &requested)) {
    return nullptr;
  }
  try {
    auto stream = std::make_unique<ArrowArrayStream>();
    stream->release = nullptr;
    export_stream(reinterpret_cast<TableObject*>(self)->table, stream.get());
    PyObject* capsule =
        PyCapsule_New(stream.get(), kStreamCapsule, free_capsule<ArrowArrayStream, kStreamCapsule>);
    if (capsule == nullptr) {
      stream->release(stream.get());
      return nullptr;
    }
    stream.release();
    return capsule;
  } catch (...) {
    return raise_current();
  }
}

PyObject* table_schema(PyObject* self, PyObject* /*unused*/) {
  try {
    auto schema = std::make_unique<ArrowSchema>();
    schema->release = nullptr;
    export_schema(*reinterpret_cast<TableObject*>(self)->table, schema.get());
    PyObject* capsule =
        PyCapsule_New(schema.get(), kSchemaCapsule, free_capsule<ArrowSchema, kSchemaCapsule>);
    if (capsule == nullptr) {
      schema->release(schema.get());
      return nullptr;
    }
    schema.release();
    return capsule;
  } catch (...) {
    return raise_current();
  }
}

Py_ssize_t table_length(PyObject* self) {
  return static_cast<Py_ssize_t>(reinterpret_cast<TableObject*>(self)->table->batch->length);
}

void table_dealloc(PyObject* self) {
  SharedTable& table = reinterpret_cast<TableObject*>(self)->table;
  release(table);
  table.~SharedTable();
  Py_TYPE(self)->tp_free(self);
}

// Frees a table's buffers with the lock released where this thread holds it: tens of megabytes
// go back to the system, and other threads need not wait for that.
void free_unlocked(void (*free)(SharedTable*), SharedTable* table) {
#if PY_VERSION_HEX >= 0x030D0000
  const bool finalizing = Py_IsFinalizing() != 0;
#else
  const bool finalizing = _Py_IsFinalizing() != 0;
#endif
  if (finalizing || PyGILState_Check() == 0) {
    free(table);
    return;
  }
  Py_BEGIN_ALLOW_THREADS free(table);
  Py_END_ALLOW_THREADS
}

PyMethodDef kTableMethods[] = {
    {"__arrow_c_stream__",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(table_stream)),
     METH_VARARGS | METH_KEYWORDS,
     "__arrow_c_stream__($self, /, requested_schema=None)\n--\n\n"
     "The rows as an ArrowArrayStream capsule; the buffers are shared, not copied."},
    {"__arrow_c_schema__", table_schema, METH_NOARGS,
     "__arrow_c_schema__($self, /)\n--\n\nThe columns' names and types as an ArrowSchema capsule."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kTableSlots[] = {
    {Py_tp_doc, const_cast<char*>("A table of a statement, for any consumer of Arrow streams.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(table_dealloc)},
    {Py_tp_methods, kTableMethods},
    {Py_sq_length, reinterpret_cast<void*>(table_length)},
    {0, nullptr},
};

PyType_Spec kTableSpec = {
    "tarvik._columns.Table",
    sizeof(TableObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    kTableSlots,
};

PyObject* table_type = nullptr;  // set once, when the module is first imported

PyObject* new_table(SharedTable table) {
  auto* type = reinterpret_cast<PyTypeObject*>(table_type);
  PyObject* self = type->tp_alloc(type, 0);
  if (self != nullptr) {
    new (&reinterpret_cast<TableObject*>(self)->table) SharedTable(std::move(table));
  }
  return self;
}

// --- read ----------------------------------------------------------------------------------

// What the lock-free part hands back.
struct Reading {
  bool read = false;  // a statement, and repairs that judged every section as the Python ones would
  std::string_view encoding;
  AttrMap header;
  std::vector<Edit> edits;
  SharedTable documents, intervals, warnings;
};

void read_without_lock(std::string_view input, bool repairs, Reading& out) {
  // Most statements need no repair, and the core reads far faster without a hook to hand each
  // section to: read without, and only where the repairs may change something (or the reading
  // failed, which a repair may mend) read again with them.
  auto parsed = parse(input, {});
  NativeRepairs native;
  if (repairs && (!parsed || parsed.value().encoding == Encoding::Utf16 ||
                  (repairs_may_change(parsed.value(), input) &&
                   repairs_may_apply(input, parsed.value().encoding)))) {
    SectionHook* hooks[] = {&native};
    parsed = parse(input, hooks);
  }
  if (!parsed || native.undecided()) {
    return;
  }
  Statement& statement = parsed.value();
  out.encoding = encoding_name(statement.encoding);
  out.header = std::move(statement.header);
  out.edits = native.take_edits();
  out.documents = document_table(statement.documents);
  out.intervals = interval_table(statement.accounts);
  out.warnings = warning_table(statement.warnings);
  out.read = true;
}

// The edit's message: its head, Python's repr() of the quoted text, its tail.
PyObject* edit_message(const Edit& e) {
  if (!e.quoted) {
    return text(e.message_head);
  }
  Ref head(text(e.message_head));
  Ref quoted(head ? text(*e.quoted) : nullptr);
  Ref shown(quoted ? PyObject_Repr(quoted.get()) : nullptr);
  Ref tail(shown ? text(e.message_tail) : nullptr);
  Ref joined(tail ? PyUnicode_Concat(head.get(), shown.get()) : nullptr);
  return joined ? PyUnicode_Concat(joined.get(), tail.get()) : nullptr;
}

PyObject* edit_tuple(const Edit& e) {
  Ref message(edit_message(e));
  Ref old(!message ? nullptr : e.old ? text(*e.old) : Py_NewRef(Py_None));
  if (!old) {
    return nullptr;
  }
  const std::string_view repair = name(e.repair);
  return Py_BuildValue("(ns#s#Os#s#O)", static_cast<Py_ssize_t>(e.section), repair.data(),
                       static_cast<Py_ssize_t>(repair.size()), e.key.data(),
                       static_cast<Py_ssize_t>(e.key.size()), old.get(), e.value.data(),
                       static_cast<Py_ssize_t>(e.value.size()), e.source.data(),
                       static_cast<Py_ssize_t>(e.source.size()), message.get());
}

constexpr const char kReadDoc[] =
    "read(data, repairs, /)\n--\n\n"
    "The tables of the statement in `data` (bytes as tarvik_py.parse takes them), with the "
    "shipped repairs where `repairs` is true: (header, encoding, documents, intervals, warnings, "
    "edits), each edit (section, repair, key, old, new, source, message). None where the "
    "statement does not read, or where a repair meets a value that only the Python rules can "
    "judge: the caller then reads it through tarvik_py for its exception or its values.";

PyObject* read(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 2) {
    PyErr_SetString(PyExc_TypeError, "read() takes data and repairs");
    return nullptr;
  }
  const int repairs = PyObject_IsTrue(args[1]);
  if (repairs < 0) {
    return nullptr;
  }
  Py_buffer buffer;
  if (PyObject_GetBuffer(args[0], &buffer, PyBUF_SIMPLE) < 0) {
    return nullptr;
  }
  const std::string_view input(static_cast<const char*>(buffer.buf),
                               static_cast<std::size_t>(buffer.len));
  Reading reading;
  std::exception_ptr failure;
  Py_BEGIN_ALLOW_THREADS try { read_without_lock(input, repairs != 0, reading); } catch (...) {
    failure = std::current_exception();
  }
  Py_END_ALLOW_THREADS PyBuffer_Release(&buffer);
  if (failure) {
    try {
      std::rethrow_exception(failure);
    } catch (...) {
      return raise_current();
    }
  }
  if (!reading.read) {
    Py_RETURN_NONE;
  }
  Ref header(PyDict_New());
  if (!header) {
    return nullptr;
  }
  for (const AttrMap::Entry& e : reading.header) {
    Ref key(text(e.key));
    Ref value(key ? text(e.value) : nullptr);
    if (!value || PyDict_SetItem(header.get(), key.get(), value.get()) < 0) {
      return nullptr;
    }
  }
  Ref edits(PyList_New(0));
  if (!edits) {
    return nullptr;
  }
  for (const Edit& e : reading.edits) {
    Ref item(edit_tuple(e));
    if (!item || PyList_Append(edits.get(), item.get()) < 0) {
      return nullptr;
    }
  }
  Ref documents(new_table(std::move(reading.documents)));
  Ref intervals(documents ? new_table(std::move(reading.intervals)) : nullptr);
  Ref warnings(intervals ? new_table(std::move(reading.warnings)) : nullptr);
  if (!warnings) {
    return nullptr;
  }
  return Py_BuildValue("(Os#OOOO)", header.get(), reading.encoding.data(),
                       static_cast<Py_ssize_t>(reading.encoding.size()), documents.get(),
                       intervals.get(), warnings.get(), edits.get());
}

constexpr const char kLinedTableDoc[] =
    "lined_table(names, nullable, lines, columns, /)\n--\n\n"
    "A table of a `line` column and text columns: `names` and `nullable` of the text columns, "
    "the line of each row, and each text column's values (str or None).";

PyObject* lined_table_function(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 4) {
    PyErr_SetString(PyExc_TypeError, "lined_table() takes names, nullable, lines and columns");
    return nullptr;
  }
  Ref names(PySequence_Fast(args[0], "names must be a sequence"));
  Ref nullable(names ? PySequence_Fast(args[1], "nullable must be a sequence") : nullptr);
  Ref lines(nullable ? PySequence_Fast(args[2], "lines must be a sequence") : nullptr);
  Ref columns(lines ? PySequence_Fast(args[3], "columns must be a sequence") : nullptr);
  if (!columns) {
    return nullptr;
  }
  const Py_ssize_t width = PySequence_Fast_GET_SIZE(names.get());
  const Py_ssize_t rows = PySequence_Fast_GET_SIZE(lines.get());
  if (PySequence_Fast_GET_SIZE(nullable.get()) != width ||
      PySequence_Fast_GET_SIZE(columns.get()) != width) {
    PyErr_SetString(PyExc_ValueError, "names, nullable and columns differ in length");
    return nullptr;
  }
  LinedTexts table;
  std::vector<Ref> column_items;  // keep each column's fast sequence while its texts are viewed
  for (Py_ssize_t c = 0; c < width; ++c) {
    Py_ssize_t size = 0;
    const char* name_text =
        PyUnicode_AsUTF8AndSize(PySequence_Fast_GET_ITEM(names.get(), c), &size);
    const int may_be_null = PyObject_IsTrue(PySequence_Fast_GET_ITEM(nullable.get(), c));
    if (name_text == nullptr || may_be_null < 0) {
      return nullptr;
    }
    table.names.emplace_back(name_text, static_cast<std::size_t>(size));
    table.nullable.push_back(may_be_null != 0);
    column_items.emplace_back(
        PySequence_Fast(PySequence_Fast_GET_ITEM(columns.get(), c), "a column must be a sequence"));
    if (!column_items.back()) {
      return nullptr;
    }
    if (PySequence_Fast_GET_SIZE(column_items.back().get()) != rows) {
      PyErr_SetString(PyExc_ValueError, "a column differs in length from lines");
      return nullptr;
    }
    auto& values = table.texts.emplace_back();
    for (Py_ssize_t r = 0; r < rows; ++r) {
      PyObject* item = PySequence_Fast_GET_ITEM(column_items.back().get(), r);
      if (item == Py_None && may_be_null) {
        values.emplace_back(std::nullopt);
        continue;
      }
      const char* value = PyUnicode_AsUTF8AndSize(item, &size);
      if (value == nullptr) {
        return nullptr;
      }
      values.emplace_back(std::string_view(value, static_cast<std::size_t>(size)));
    }
  }
  for (Py_ssize_t r = 0; r < rows; ++r) {
    const long long line = PyLong_AsLongLong(PySequence_Fast_GET_ITEM(lines.get(), r));
    if (line == -1 && PyErr_Occurred()) {
      return nullptr;
    }
    table.lines.push_back(line);
  }
  try {
    return new_table(lined_table(table));
  } catch (...) {
    return raise_current();
  }
}

PyMethodDef kFunctions[] = {
    {"read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read)), METH_FASTCALL,
     kReadDoc},
    {"lined_table",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(lined_table_function)),
     METH_FASTCALL, kLinedTableDoc},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "tarvik._columns",
    "A statement's bytes straight to Arrow tables; see tarvik.to_arrow.",
    -1,
    kFunctions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace tarvik::columns

PyMODINIT_FUNC PyInit__columns() {
  using namespace tarvik::columns;
  Ref module(PyModule_Create(&kModule));
  if (!module) {
    return nullptr;
  }
  if (table_type == nullptr) {
    table_type = PyType_FromSpec(&kTableSpec);
    if (table_type == nullptr) {
      return nullptr;
    }
  }
  if (PyModule_AddObjectRef(module.get(), "Table", table_type) < 0) {
    return nullptr;
  }
  set_table_freer(free_unlocked);
  return module.release();
}
