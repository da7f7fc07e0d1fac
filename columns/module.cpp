// tarvik._columns: the package's native half. A statement's bytes straight to Arrow tables, for
// tarvik.to_arrow; the shipped repairs as objects that tarvik_py.parse calls natively (and Python
// as ordinary hooks); and the recording of one reading, through which tarvik.read learns what
// the repairs changed and where every record stands.
//
// The interpreter lock is released while the core reads a statement for the tables and while
// they are built; only the header, the small lists and the table objects are made with it held.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <exception>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "arrow_tables.h"
#include "built_tables.h"
#include "native_hook_adapter.h"
#include "parse.h"
#include "py_convert.h"
#include "py_ref.h"
#include "recording.h"
#include "repairs.h"

namespace tarvik::columns {
namespace {

using py::new_str;
using py::PyRef;
using py::utf8_of;

// The module's own: its types, made for each module object, and tarvik_py's SectionType.Document,
// which a repair called from Python compares its argument with.
struct ModuleState {
  PyObject* table_type;
  PyObject* repair_type;
  PyObject* recording_type;
  PyObject* observer_type;
  PyObject* read_type;
  PyObject* document_section;  // found on first use
  PyObject* edit_type;         // tarvik.hooks.Edit, found on first use
};

ModuleState& state_of_module(PyObject* module) {
  return *static_cast<ModuleState*>(PyModule_GetState(module));
}

ModuleState& state_of_type(PyTypeObject* type) {
  return *static_cast<ModuleState*>(PyType_GetModuleState(type));
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

PyObject* optional_str(const std::optional<std::string_view>& text) {
  return text ? new_str(*text) : Py_NewRef(Py_None);
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

template <class Structure, const char* kName, class Export>
PyObject* capsule_of(Export&& fill) {
  try {
    auto structure = std::make_unique<Structure>();
    structure->release = nullptr;
    fill(structure.get());
    PyObject* capsule = PyCapsule_New(structure.get(), kName, free_capsule<Structure, kName>);
    if (capsule == nullptr) {
      structure->release(structure.get());
      return nullptr;
    }
    structure.release();
    return capsule;
  } catch (...) {
    return raise_current();
  }
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
  const SharedTable& table = reinterpret_cast<TableObject*>(self)->table;
  return capsule_of<ArrowArrayStream, kStreamCapsule>(
      [&table](ArrowArrayStream* out) { export_stream(table, out); });
}

PyObject* table_schema(PyObject* self, PyObject* /*unused*/) {
  const SharedTable& table = reinterpret_cast<TableObject*>(self)->table;
  return capsule_of<ArrowSchema, kSchemaCapsule>(
      [&table](ArrowSchema* out) { export_schema(*table, out); });
}

Py_ssize_t table_length(PyObject* self) {
  return static_cast<Py_ssize_t>(reinterpret_cast<TableObject*>(self)->table->batch->length);
}

void table_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  reinterpret_cast<TableObject*>(self)->table.~SharedTable();
  type->tp_free(self);
  Py_DECREF(type);
}

// Frees a table with the lock released where this thread holds it: tens of megabytes go back to
// the system, and other threads need not wait for that.
void free_unlocked(const Table* table) noexcept {
#if PY_VERSION_HEX >= 0x030D0000
  const bool finalizing = Py_IsFinalizing() != 0;
#else
  const bool finalizing = _Py_IsFinalizing() != 0;
#endif
  if (finalizing || PyGILState_Check() == 0) {
    delete table;
    return;
  }
  Py_BEGIN_ALLOW_THREADS delete table;
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

PyObject* new_table(const ModuleState& state, SharedTable table) {
  auto* type = reinterpret_cast<PyTypeObject*>(state.table_type);
  PyObject* self = type->tp_alloc(type, 0);
  if (self != nullptr) {
    new (&reinterpret_cast<TableObject*>(self)->table) SharedTable(std::move(table));
  }
  return self;
}

// --- changes, as Python sees them -----------------------------------------------------------

// The change's message: made natively, or, for a text that quotes a character this build's
// Unicode tables do not know, with this interpreter's own repr().
PyObject* message_of(const Change& change) {
  if (const std::optional<std::string> made = message(change)) {
    return new_str(*made);
  }
  const MessageParts parts = message_parts(change);
  PyRef head = PyRef::steal(new_str(parts.head));
  PyRef quoted = head ? PyRef::steal(new_str(parts.quoted.value_or(""))) : PyRef();
  PyRef shown = quoted ? PyRef::steal(PyObject_Repr(quoted.get())) : PyRef();
  PyRef tail = shown ? PyRef::steal(new_str(parts.tail)) : PyRef();
  PyRef joined = tail ? PyRef::steal(PyUnicode_Concat(head.get(), shown.get())) : PyRef();
  return joined ? PyUnicode_Concat(joined.get(), tail.get()) : nullptr;
}

// The changes' table, with Python's help where a message needs its repr().
PyObject* change_table_object(const ModuleState& state, const ChangeLog& log) {
  try {
    if (std::optional<SharedTable> table = change_table(log, free_unlocked)) {
      return new_table(state, std::move(*table));
    }
    std::vector<std::string> messages;
    std::string room;
    for (std::size_t i = 0; i < log.size(); ++i) {
      PyRef text = PyRef::steal(message_of(log.at(i, room)));
      const std::optional<std::string_view> utf8 = text ? utf8_of(text.get()) : std::nullopt;
      if (!utf8) {
        return nullptr;
      }
      messages.emplace_back(*utf8);
    }
    return new_table(state, change_table(log, messages, free_unlocked));
  } catch (...) {
    return raise_current();
  }
}

// --- Repair: a shipped repair, callable from Python and natively -------------------------------

struct RepairObject {
  PyObject_HEAD Repair repair;
};

// An attribute of a module, found once and kept in the state; nullptr with an exception set.
PyObject* found_once(PyObject*& slot, const char* module_name, const char* first,
                     const char* second = nullptr) {
  if (slot == nullptr) {
    PyRef module = PyRef::steal(PyImport_ImportModule(module_name));
    PyRef found = module ? PyRef::steal(PyObject_GetAttrString(module.get(), first)) : PyRef();
    if (found && second != nullptr) {
      found = PyRef::steal(PyObject_GetAttrString(found.get(), second));
    }
    if (!found) {
      return nullptr;
    }
    slot = found.release();
  }
  return slot;
}

// The section kind a repair called from Python is given: a document exactly where it equals
// tarvik_py.SectionType.Document, as the rules compare it; -1 with an exception set.
int is_document(ModuleState& state, PyObject* section_type) {
  PyObject* document = found_once(state.document_section, "tarvik_py", "SectionType", "Document");
  return document == nullptr ? -1 : PyObject_RichCompareBool(section_type, document, Py_EQ);
}

// A native hook over one repair that logs what it changes, for the calls from Python.
struct LoggingRepair {
  Repair repair;
  ChangeLog* log;
};

tarvik_native_hook logging_hook(LoggingRepair& target) {
  tarvik_native_hook hook{};
  hook.abi = TARVIK_NATIVE_HOOK_ABI;
  hook.size = sizeof(tarvik_native_hook);
  hook.state = &target;
  hook.section = [](void* state, const tarvik_section_view* view, tarvik_section* section,
                    const tarvik_section_api* api, tarvik_text*) noexcept {
    const auto& t = *static_cast<const LoggingRepair*>(state);
    return repair_section(std::span<const Repair>(&t.repair, 1), *view, section, *api, t.log);
  };
  return hook;
}

// Runs the repair over `attrs` (a dict of str) in place, as the section a reader would hand it,
// and logs what it changed. The dict changes as the Python rules change it: a value in its
// key's place, a new key at the end, renamed keys all in their places. False with an exception.
bool repair_dict(ModuleState& state, Repair repair, PyObject* section_type, PyObject* attrs,
                 ChangeLog& log) {
  if (!PyDict_Check(attrs)) {
    PyErr_Format(PyExc_TypeError, "attrs must be a dict, not %s", Py_TYPE(attrs)->tp_name);
    return false;
  }
  const int document = is_document(state, section_type);
  if (document < 0) {
    return false;
  }
  Section section;
  section.open(document ? SectionType::Document : SectionType::Account, 0, Encoding::Utf8);
  Py_ssize_t pos = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  while (PyDict_Next(attrs, &pos, &key, &value)) {
    if (!PyUnicode_Check(key) || !PyUnicode_Check(value)) {
      PyErr_Format(PyExc_TypeError, "attrs must map str to str, not %s to %s",
                   Py_TYPE(key)->tp_name, Py_TYPE(value)->tp_name);
      return false;
    }
    const std::optional<std::string_view> k = utf8_of(key);
    const std::optional<std::string_view> v = k ? utf8_of(value) : std::nullopt;
    if (!v) {
      return false;
    }
    section.add(attribute(*k, *v));
  }
  const std::vector<SectionLine> before(section.lines().begin(), section.lines().end());
  LoggingRepair target{repair, &log};
  const tarvik_native_hook hook = logging_hook(target);
  NativeHook adapter(hook);
  (void)adapter.on_section(section, AttrMap{});
  const std::span<const SectionLine> after = section.lines();

  bool renamed = false;
  for (std::size_t i = 0; i < before.size(); ++i) {
    renamed = renamed || view(after[i].key) != view(before[i].key);
  }
  std::vector<std::pair<PyRef, PyRef>> items;
  for (std::size_t i = 0; i < after.size(); ++i) {
    const bool same = i < before.size() && !renamed &&
                      view(after[i].value).data() == view(before[i].value).data() &&
                      view(after[i].value).size() == view(before[i].value).size();
    if (same) {
      continue;
    }
    PyRef k = PyRef::steal(new_str(view(after[i].key)));
    PyRef v = k ? PyRef::steal(new_str(view(after[i].value))) : PyRef();
    if (!v) {
      return false;
    }
    items.emplace_back(std::move(k), std::move(v));
  }
  if (renamed) {
    PyDict_Clear(attrs);
  }
  for (const auto& [k, v] : items) {
    if (PyDict_SetItem(attrs, k.get(), v.get()) < 0) {
      return false;
    }
  }
  return true;
}

PyObject* repair_call(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* section_type = nullptr;
  PyObject* attrs = nullptr;
  PyObject* header = nullptr;
  static const char* keywords[] = {"section_type", "attrs", "header", nullptr};
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO:__call__", const_cast<char**>(keywords),
                                   &section_type, &attrs, &header)) {
    return nullptr;
  }
  try {
    ChangeLog log;
    if (!repair_dict(state_of_type(Py_TYPE(self)), reinterpret_cast<RepairObject*>(self)->repair,
                     section_type, attrs, log)) {
      return nullptr;
    }
    Py_RETURN_NONE;
  } catch (...) {
    return raise_current();
  }
}

PyObject* repair_apply(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 2) {
    PyErr_Format(PyExc_TypeError, "apply() takes 2 arguments (%zd given)", nargs);
    return nullptr;
  }
  try {
    ChangeLog log;
    if (!repair_dict(state_of_type(Py_TYPE(self)), reinterpret_cast<RepairObject*>(self)->repair,
                     args[0], args[1], log)) {
      return nullptr;
    }
    PyObject* edit_type =
        found_once(state_of_type(Py_TYPE(self)).edit_type, "tarvik.hooks", "Edit");
    PyRef edits = PyRef::steal(edit_type != nullptr ? PyList_New(0) : nullptr);
    std::string room;
    for (std::size_t i = 0; edits && i < log.size(); ++i) {
      const Change change = log.at(i, room);
      const std::string_view source = source_key(change);
      PyRef message = PyRef::steal(message_of(change));
      PyRef old = message ? PyRef::steal(optional_str(change.old)) : PyRef();
      PyRef edit = old ? PyRef::steal(PyObject_CallFunction(
                             edit_type, "s#Os#s#O", change.key.data(),
                             static_cast<Py_ssize_t>(change.key.size()), old.get(),
                             change.value.data(), static_cast<Py_ssize_t>(change.value.size()),
                             source.data(), static_cast<Py_ssize_t>(source.size()), message.get()))
                       : PyRef();
      if (!edit || PyList_Append(edits.get(), edit.get()) < 0) {
        return nullptr;
      }
    }
    return edits.release();
  } catch (...) {
    return raise_current();
  }
}

PyObject* repair_name(PyObject* self, void* /*closure*/) {
  return new_str(name(reinterpret_cast<RepairObject*>(self)->repair));
}

PyObject* repair_repr(PyObject* self) {
  const std::string_view n = name(reinterpret_cast<RepairObject*>(self)->repair);
  return PyUnicode_FromFormat("<repair %.*s>", static_cast<int>(n.size()), n.data());
}

void plain_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
  Py_DECREF(type);
}

const tarvik_native_hook* repair_hook_of(void* object) {
  return &repair_hook(static_cast<RepairObject*>(object)->repair);
}

constexpr tarvik_native_hook_type kRepairHookType = {
    TARVIK_NATIVE_HOOK_ABI, sizeof(tarvik_native_hook_type), repair_hook_of};

PyMethodDef kRepairMethods[] = {
    {"apply", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(repair_apply)),
     METH_FASTCALL,
     "apply($self, section_type, attrs, /)\n--\n\n"
     "Repairs `attrs` in place and returns what changed, a tarvik.hooks.Edit each."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef kRepairGetters[] = {
    {"name", repair_name, nullptr, "The repair's name in tarvik.hooks.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot kRepairSlots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "A shipped repair: a hook for tarvik_py.parse, which runs it natively, and a "
                    "callable (section_type, attrs, header) that repairs a dict in place.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(plain_dealloc)},
    {Py_tp_call, reinterpret_cast<void*>(repair_call)},
    {Py_tp_repr, reinterpret_cast<void*>(repair_repr)},
    {Py_tp_methods, kRepairMethods},
    {Py_tp_getset, kRepairGetters},
    {0, nullptr},
};

PyType_Spec kRepairSpec = {
    "tarvik._columns.Repair",
    sizeof(RepairObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    kRepairSlots,
};

// --- Recording: one reading through tarvik_py.parse --------------------------------------------

struct RecordingObject {
  PyObject_HEAD Recording* recording;
  Py_buffer text;  // the bytes read, kept so that the extras' texts may lie in them
  bool has_text;
};

Recording& recording_of(PyObject* self) {
  return *reinterpret_cast<RecordingObject*>(self)->recording;
}

PyObject* recording_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"repairs", "text", nullptr};
  int repairs = 0;
  PyObject* text = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "p|O:Recording", const_cast<char**>(keywords),
                                   &repairs, &text)) {
    return nullptr;
  }
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) {
    return nullptr;
  }
  auto* object = reinterpret_cast<RecordingObject*>(self);
  object->recording = nullptr;
  object->has_text = false;
  if (text != Py_None) {
    if (PyObject_GetBuffer(text, &object->text, PyBUF_SIMPLE) < 0) {
      Py_DECREF(self);
      return nullptr;
    }
    object->has_text = true;
  }
  try {
    object->recording = new Recording(repairs != 0);
  } catch (...) {
    Py_DECREF(self);
    return raise_current();
  }
  if (object->has_text) {
    object->recording->keep_texts_in(std::string_view(static_cast<const char*>(object->text.buf),
                                                      static_cast<std::size_t>(object->text.len)));
  }
  return self;
}

void recording_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  auto* object = reinterpret_cast<RecordingObject*>(self);
  delete object->recording;
  if (object->has_text) {
    PyBuffer_Release(&object->text);
  }
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* recording_change_count(PyObject* self, PyObject* /*unused*/) {
  return PyLong_FromSize_t(recording_of(self).changes().size());
}

PyObject* recording_change_counts(PyObject* self, PyObject* /*unused*/) {
  const ChangeLog& log = recording_of(self).changes();
  std::array<std::size_t, 256> counts{};
  for (std::size_t i = 0; i < log.size(); ++i) {
    ++counts[static_cast<std::size_t>(log.repair(i))];
  }
  PyRef out = PyRef::steal(PyDict_New());
  if (!out) {
    return nullptr;
  }
  for (std::size_t r = 0; r < counts.size(); ++r) {
    if (counts[r] == 0) {
      continue;
    }
    const std::string_view repair_name = name(static_cast<Repair>(r));
    PyRef key = PyRef::steal(PyUnicode_FromStringAndSize(
        repair_name.data(), static_cast<Py_ssize_t>(repair_name.size())));
    PyRef count = PyRef::steal(PyLong_FromSize_t(counts[r]));
    if (!key || !count || PyDict_SetItem(out.get(), key.get(), count.get()) < 0) {
      return nullptr;
    }
  }
  return out.release();
}

PyObject* recording_change(PyObject* self, PyObject* arg) {
  const Py_ssize_t i = PyLong_AsSsize_t(arg);
  if (i == -1 && PyErr_Occurred()) {
    return nullptr;
  }
  const ChangeLog& log = recording_of(self).changes();
  if (i < 0 || static_cast<std::size_t>(i) >= log.size()) {
    PyErr_SetString(PyExc_IndexError, "change index out of range");
    return nullptr;
  }
  std::string room;
  const Change change = log.at(static_cast<std::size_t>(i), room);
  const std::string_view repair = name(change.repair);
  PyRef message = PyRef::steal(message_of(change));
  PyRef old = message ? PyRef::steal(optional_str(change.old)) : PyRef();
  if (!old) {
    return nullptr;
  }
  return Py_BuildValue("(Ks#s#Os#O)", static_cast<unsigned long long>(change.lineno), repair.data(),
                       static_cast<Py_ssize_t>(repair.size()), change.key.data(),
                       static_cast<Py_ssize_t>(change.key.size()), old.get(), change.value.data(),
                       static_cast<Py_ssize_t>(change.value.size()), message.get());
}

PyObject* recording_changes_table(PyObject* self, PyObject* /*unused*/) {
  return change_table_object(state_of_type(Py_TYPE(self)), recording_of(self).changes());
}

PyObject* int_list(std::span<const std::uint64_t> values) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(values.size())));
  for (std::size_t i = 0; list && i < values.size(); ++i) {
    PyObject* item = PyLong_FromUnsignedLongLong(values[i]);
    if (item == nullptr) {
      return nullptr;
    }
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

PyObject* recording_document_lines(PyObject* self, PyObject* /*unused*/) {
  return int_list(recording_of(self).document_lines());
}

PyObject* pair_list(const std::vector<std::pair<std::string, std::string>>& pairs) {
  PyRef out = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(pairs.size())));
  for (std::size_t i = 0; out && i < pairs.size(); ++i) {
    PyObject* item = Py_BuildValue(
        "(s#s#)", pairs[i].first.data(), static_cast<Py_ssize_t>(pairs[i].first.size()),
        pairs[i].second.data(), static_cast<Py_ssize_t>(pairs[i].second.size()));
    if (item == nullptr) {
      return nullptr;
    }
    PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), item);
  }
  return out.release();
}

template <std::vector<std::pair<std::string, std::string>> (Recording::*kExtra)(std::size_t) const>
PyObject* recording_extra(PyObject* self, PyObject* arg) {
  const Py_ssize_t i = PyLong_AsSsize_t(arg);
  if (i == -1 && PyErr_Occurred()) {
    return nullptr;
  }
  if (i < 0) {
    PyErr_SetString(PyExc_IndexError, "a record's index is not negative");
    return nullptr;
  }
  try {
    return pair_list((recording_of(self).*kExtra)(static_cast<std::size_t>(i)));
  } catch (...) {
    return raise_current();
  }
}

PyObject* recording_account_closing_lines(PyObject* self, PyObject* /*unused*/) {
  return int_list(recording_of(self).account_closing_lines());
}

PyObject* recording_interval_lines(PyObject* self, PyObject* /*unused*/) {
  const Recording& r = recording_of(self);
  PyRef out = PyRef::steal(PyList_New(0));
  std::size_t at = 0;
  for (std::size_t i = 0; out && i < r.account_sizes().size(); ++i) {
    const std::size_t size = r.account_sizes()[i];
    PyRef lines = PyRef::steal(int_list(std::span(r.interval_lines()).subspan(at, size)));
    at += size;
    if (!lines || PyList_Append(out.get(), lines.get()) < 0) {
      return nullptr;
    }
  }
  return out.release();
}

// The header's lines: (key, value, line) each, or (key, value) without the line.
PyObject* header_line_list(const std::vector<HeaderLine>& lines, bool with_line) {
  PyRef out = PyRef::steal(PyList_New(0));
  for (std::size_t i = 0; out && i < lines.size(); ++i) {
    const HeaderLine& line = lines[i];
    const auto key_size = static_cast<Py_ssize_t>(line.key.size());
    const auto value_size = static_cast<Py_ssize_t>(line.value.size());
    PyRef item = PyRef::steal(
        with_line
            ? Py_BuildValue("(s#s#K)", line.key.data(), key_size, line.value.data(), value_size,
                            static_cast<unsigned long long>(line.lineno))
            : Py_BuildValue("(s#s#)", line.key.data(), key_size, line.value.data(), value_size));
    if (!item || PyList_Append(out.get(), item.get()) < 0) {
      return nullptr;
    }
  }
  return out.release();
}

PyObject* recording_header_lines(PyObject* self, PyObject* /*unused*/) {
  return header_line_list(recording_of(self).header_lines(), true);
}

// The changes as lines of a report, in the order of their lines (changes on one line in the
// order they were made): `before`, the line, the severity's infix, the message and a line feed
// each; a skipped line has `skipped`'s infix, every other change `repaired`'s, and where that is
// None, those changes are left out. With the line of each, as native-endian 64-bit integers, for
// whoever merges other lines in. None where a message needs Python's repr(): the caller then goes
// change by change.
PyObject* recording_change_report(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 3 || !PyUnicode_Check(args[0]) ||
      (args[1] != Py_None && !PyUnicode_Check(args[1])) || !PyUnicode_Check(args[2])) {
    PyErr_SetString(PyExc_TypeError,
                    "change_report() takes before, repaired (or None) and skipped, as str");
    return nullptr;
  }
  const std::optional<std::string_view> before = utf8_of(args[0]);
  const std::optional<std::string_view> repaired = !before ? std::nullopt
                                                   : args[1] == Py_None
                                                       ? std::optional<std::string_view>("")
                                                       : utf8_of(args[1]);
  const std::optional<std::string_view> skipped = repaired ? utf8_of(args[2]) : std::nullopt;
  if (!skipped) {
    return nullptr;
  }
  const bool with_repairs = args[1] != Py_None;
  const ChangeLog& log = recording_of(self).changes();
  try {
    std::vector<std::size_t> order;
    std::vector<std::uint64_t> lines(log.size());
    std::string room;
    for (std::size_t i = 0; i < log.size(); ++i) {
      const Change change = log.at(i, room);
      lines[i] = change.lineno;
      if (with_repairs || change.repair == Repair::SkippedLine) {
        order.push_back(i);
      }
    }
    std::stable_sort(order.begin(), order.end(),
                     [&lines](std::size_t a, std::size_t b) { return lines[a] < lines[b]; });
    std::string text;
    std::vector<std::uint64_t> sorted;
    sorted.reserve(order.size());
    for (const std::size_t i : order) {
      const Change change = log.at(i, room);
      text.append(*before).append(std::to_string(change.lineno));
      text.append(change.repair == Repair::SkippedLine ? *skipped : *repaired);
      if (!append_message(change, text)) {
        Py_RETURN_NONE;
      }
      text.push_back('\n');
      sorted.push_back(change.lineno);
    }
    PyRef report = PyRef::steal(new_str(text));
    PyRef packed = report ? PyRef::steal(PyBytes_FromStringAndSize(
                                reinterpret_cast<const char*>(sorted.data()),
                                static_cast<Py_ssize_t>(sorted.size() * sizeof(std::uint64_t))))
                          : PyRef();
    return packed ? PyTuple_Pack(2, report.get(), packed.get()) : nullptr;
  } catch (...) {
    return raise_current();
  }
}

// --- Observer: a recording's second hook, for the end of a chain ------------------------------

struct ObserverObject {
  PyObject_HEAD PyObject* recording;  // a Recording, kept alive by the observer
};

const tarvik_native_hook* observer_hook_of(void* object) {
  return &recording_of(static_cast<ObserverObject*>(object)->recording).observer();
}

constexpr tarvik_native_hook_type kObserverHookType = {
    TARVIK_NATIVE_HOOK_ABI, sizeof(tarvik_native_hook_type), observer_hook_of};

void observer_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  Py_XDECREF(reinterpret_cast<ObserverObject*>(self)->recording);
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* observer_call(PyObject* /*self*/, PyObject* /*args*/, PyObject* /*kwargs*/) {
  PyErr_SetString(
      PyExc_RuntimeError,
      "a Recording's observer runs natively inside tarvik_py.parse, not as a Python call");
  return nullptr;
}

PyType_Slot kObserverSlots[] = {
    {Py_tp_doc, const_cast<char*>("A recording's hook that only looks at each section.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(observer_dealloc)},
    {Py_tp_call, reinterpret_cast<void*>(observer_call)},
    {0, nullptr},
};

PyType_Spec kObserverSpec = {
    "tarvik._columns.Observer",
    sizeof(ObserverObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    kObserverSlots,
};

PyObject* recording_observer(PyObject* self, PyObject* /*unused*/) {
  auto* type = reinterpret_cast<PyTypeObject*>(state_of_type(Py_TYPE(self)).observer_type);
  PyObject* observer = type->tp_alloc(type, 0);
  if (observer == nullptr) {
    return nullptr;
  }
  (void)recording_of(self).observer();  // from now on the extras are taken at the chain's end
  reinterpret_cast<ObserverObject*>(observer)->recording = Py_NewRef(self);
  return observer;
}

// A recording runs inside tarvik_py.parse, natively; called as Python it has nothing to go on.
PyObject* recording_call(PyObject* /*self*/, PyObject* /*args*/, PyObject* /*kwargs*/) {
  PyErr_SetString(PyExc_RuntimeError,
                  "a Recording runs natively inside tarvik_py.parse, not as a Python call");
  return nullptr;
}

const tarvik_native_hook* recording_hook_of(void* object) {
  return &static_cast<RecordingObject*>(object)->recording->hook();
}

constexpr tarvik_native_hook_type kRecordingHookType = {
    TARVIK_NATIVE_HOOK_ABI, sizeof(tarvik_native_hook_type), recording_hook_of};

PyMethodDef kRecordingMethods[] = {
    {"change_count", recording_change_count, METH_NOARGS,
     "change_count($self, /)\n--\n\nHow many values the repairs changed."},
    {"change_counts", recording_change_counts, METH_NOARGS,
     "change_counts($self, /)\n--\n\nHow many changes each repair made, by its name, where it "
     "made any."},
    {"change", recording_change, METH_O,
     "change($self, index, /)\n--\n\nThe change at `index`: (line, repair, key, old, new, "
     "message)."},
    {"changes_table", recording_changes_table, METH_NOARGS,
     "changes_table($self, /)\n--\n\nThe changes as a Table: line, repair, key, old, new, "
     "message."},
    {"document_lines", recording_document_lines, METH_NOARGS,
     "document_lines($self, /)\n--\n\nThe line each document's section opens on."},
    {"document_extra", recording_extra<&Recording::document_extra>, METH_O,
     "document_extra($self, index, /)\n--\n\n"
     "The keys the document's record has no field for, with their texts: (key, text) each."},
    {"interval_extra", recording_extra<&Recording::interval_extra>, METH_O,
     "interval_extra($self, index, /)\n--\n\n"
     "The same for an interval, by its place among all, account by account."},
    {"observer", recording_observer, METH_NOARGS,
     "observer($self, /)\n--\n\n"
     "A hook that only looks at each section, for the end of a chain with other hooks after the "
     "recording: the extras are then taken there."},
    {"account_closing_lines", recording_account_closing_lines, METH_NOARGS,
     "account_closing_lines($self, /)\n--\n\nThe closing line of each account section read, before "
     "any hook: a warning on one of them is an account section's."},
    {"interval_lines", recording_interval_lines, METH_NOARGS,
     "interval_lines($self, /)\n--\n\nThe line each interval's section opens on, account by "
     "account."},
    {"change_report",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(recording_change_report)),
     METH_FASTCALL,
     "change_report($self, before, repaired, skipped, /)\n--\n\n"
     "The changes as report lines, by line: (text, lines), lines packed as 64-bit integers; "
     "None where a message needs Python's repr()."},
    {"header_lines", recording_header_lines, METH_NOARGS,
     "header_lines($self, /)\n--\n\nThe header's lines as read: (key, value, line), repeats "
     "included."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kRecordingSlots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "Recording(repairs, text=None)\n--\n\n"
                    "One reading through tarvik_py.parse, given to it as a hook: with `repairs`, "
                    "the shipped repairs run on every section, damage around intact records is "
                    "read, and each change is kept with its line; the header's lines, each "
                    "record's line and the keys no record models are kept too. `text`, the bytes "
                    "that will be parsed, lets it keep those keys where they lie instead of "
                    "copying them.")},
    {Py_tp_new, reinterpret_cast<void*>(recording_new)},
    {Py_tp_call, reinterpret_cast<void*>(recording_call)},
    {Py_tp_dealloc, reinterpret_cast<void*>(recording_dealloc)},
    {Py_tp_methods, kRecordingMethods},
    {0, nullptr},
};

PyType_Spec kRecordingSpec = {
    "tarvik._columns.Recording",
    sizeof(RecordingObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    kRecordingSlots,
};

// Gives a type its native form, in its own dictionary, before the type is sealed.
int offer_native_hook(PyObject* type, const tarvik_native_hook_type& hook_type) {
  PyRef capsule = PyRef::steal(PyCapsule_New(const_cast<tarvik_native_hook_type*>(&hook_type),
                                             TARVIK_NATIVE_HOOK_CAPSULE, nullptr));
  PyRef dict =
      capsule ? PyRef::steal(PyType_GetDict(reinterpret_cast<PyTypeObject*>(type))) : PyRef();
  if (!dict || PyDict_SetItemString(dict.get(), TARVIK_NATIVE_HOOK_ATTRIBUTE, capsule.get()) < 0) {
    return -1;
  }
  PyType_Modified(reinterpret_cast<PyTypeObject*>(type));
  return 0;
}

// --- read: the tables of one statement ----------------------------------------------------

PyStructSequence_Field kReadFields[] = {
    {"header", "the header, as tarvik_py gives it"},
    {"header_lines", "the header's lines as read, (key, value) each, repeats included"},
    {"encoding", "\"utf-8\" or \"cp1251\", as tarvik_py says"},
    {"documents", "the documents' table"},
    {"intervals", "the intervals' table"},
    {"warnings", "the warnings' table"},
    {"changes", "what the repairs changed"},
    {nullptr, nullptr},
};

PyStructSequence_Desc kReadDesc = {
    "tarvik._columns.Read",
    "The tables of one statement, as read() gives them.",
    kReadFields,
    7,
};

// What the lock-free part hands back.
struct Tables {
  bool read = false;
  std::string_view encoding;
  AttrMap header;
  std::vector<HeaderLine> header_lines;
  SharedTable documents, intervals, warnings;
  std::optional<SharedTable> changes;
  ChangeLog changes_log;  // where a message needs Python: the table is made with the lock held
};

void read_without_lock(std::string_view input, bool repairs, Tables& out) {
  Recording recording(repairs);
  recording.keep_texts_in(input);
  NativeHook adapter(recording.hook());
  SectionHook* const hooks[] = {&adapter};
  auto parsed = parse(input, hooks);  // for the header's lines, whether it repairs or not
  if (!parsed) {
    return;
  }
  Statement& statement = parsed.value();
  adapter.records(statement);
  out.encoding = encoding_name(statement.encoding);
  out.header = std::move(statement.header);
  out.header_lines = recording.header_lines();
  std::vector<Extra> room;  // of one document's extras at a time
  const DocumentExtras extras{[&recording, &room](std::size_t document) {
    const Encoding encoding = recording.document_extras(document, room);
    return DocumentExtras::Pairs{room, encoding};
  }};
  out.documents = document_table(statement.documents, extras, free_unlocked);
  out.intervals = interval_table(statement.accounts, free_unlocked);
  out.warnings =
      warning_table(statement.warnings, recording.account_closing_lines(), free_unlocked);
  out.changes = change_table(recording.changes(), free_unlocked);
  if (!out.changes) {
    out.changes_log = std::move(recording).take_changes();
  }
  out.read = true;
}

constexpr const char kReadDoc[] =
    "read(data, repairs, /)\n--\n\n"
    "The tables of the statement in `data` (bytes as tarvik_py.parse takes them), with the "
    "shipped repairs where `repairs` is true, as a Read: header, encoding, and the tables "
    "documents, intervals, warnings and changes. None where the statement does not read: the "
    "caller then reads it through tarvik_py for its exception.";

PyObject* read(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 2) {
    PyErr_Format(PyExc_TypeError, "read() takes 2 arguments (%zd given)", nargs);
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
  Tables tables;
  std::exception_ptr failure;
  Py_BEGIN_ALLOW_THREADS try { read_without_lock(input, repairs != 0, tables); } catch (...) {
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
  if (!tables.read) {
    Py_RETURN_NONE;
  }
  const ModuleState& state = state_of_module(module);
  PyRef header = PyRef::steal(PyDict_New());
  if (!header) {
    return nullptr;
  }
  for (const AttrMap::Entry& e : tables.header) {
    PyRef key = PyRef::steal(new_str(e.key));
    PyRef value = key ? PyRef::steal(new_str(e.value)) : PyRef();
    if (!value || PyDict_SetItem(header.get(), key.get(), value.get()) < 0) {
      return nullptr;
    }
  }
  PyRef header_lines = PyRef::steal(header_line_list(tables.header_lines, false));
  PyRef result =
      header_lines
          ? PyRef::steal(PyStructSequence_New(reinterpret_cast<PyTypeObject*>(state.read_type)))
          : PyRef();
  PyRef encoding = result ? PyRef::steal(new_str(tables.encoding)) : PyRef();
  PyRef documents =
      encoding ? PyRef::steal(new_table(state, std::move(tables.documents))) : PyRef();
  PyRef intervals =
      documents ? PyRef::steal(new_table(state, std::move(tables.intervals))) : PyRef();
  PyRef warnings = intervals ? PyRef::steal(new_table(state, std::move(tables.warnings))) : PyRef();
  PyRef changes;
  if (warnings) {
    changes = PyRef::steal(tables.changes ? new_table(state, std::move(*tables.changes))
                                          : change_table_object(state, tables.changes_log));
  }
  if (!changes) {
    return nullptr;
  }
  PyObject* items[] = {header.release(),    header_lines.release(), encoding.release(),
                       documents.release(), intervals.release(),    warnings.release(),
                       changes.release()};
  for (Py_ssize_t i = 0; i < 7; ++i) {
    PyStructSequence_SetItem(result.get(), i, items[i]);
  }
  return result.release();
}

PyObject* plain_amount_function(PyObject* /*module*/, PyObject* arg) {
  if (!PyUnicode_Check(arg)) {
    PyErr_Format(PyExc_TypeError, "plain_amount() takes a str, not %s", Py_TYPE(arg)->tp_name);
    return nullptr;
  }
  const std::optional<std::string_view> text = utf8_of(arg);
  if (!text) {
    return nullptr;
  }
  try {
    const std::optional<std::string> plain = plain_amount(*text);
    return plain ? new_str(*plain) : Py_NewRef(Py_None);
  } catch (...) {
    return raise_current();
  }
}

// --- build_table: a table of given columns, for the package's own results ------------------

constexpr const char kBuildTableDoc[] =
    "build_table(columns, rows=None, /)\n--\n\n"
    "A Table of `columns`, each (name, type, nullable, scale, values): type 'int64', 'string', "
    "'date32' (ints: days since 1970-01-01), 'decimal' (ints: units of 10^-scale) or 'bool', "
    "values a list with None for a null. `rows`, where given, are the indexes of the values "
    "each column's rows take, in their order: the same rows of every column, sorted or picked "
    "without a list made for each.";

// The indexes of `rows` (a sequence of ints, each below `count`), or nullopt with an exception set.
std::optional<std::vector<Py_ssize_t>> row_indexes(PyObject* rows, Py_ssize_t count) {
  PyRef items = PyRef::steal(PySequence_Fast(rows, "build_table() takes rows as a sequence"));
  if (!items) {
    return std::nullopt;
  }
  const Py_ssize_t size = PySequence_Fast_GET_SIZE(items.get());
  std::vector<Py_ssize_t> out(static_cast<std::size_t>(size));
  for (Py_ssize_t i = 0; i < size; ++i) {
    const Py_ssize_t index = PyLong_AsSsize_t(PySequence_Fast_GET_ITEM(items.get(), i));
    if (index == -1 && PyErr_Occurred()) {
      return std::nullopt;
    }
    if (index < 0 || index >= count) {
      PyErr_Format(PyExc_IndexError, "build_table(): row %zd is %zd, past the %zd values", i, index,
                   count);
      return std::nullopt;
    }
    out[static_cast<std::size_t>(i)] = index;
  }
  return out;
}

// The columns are all taken first; then their values by exact type (int, bool, str), so that no
// Python code runs while the texts are viewed where the strs keep them.
PyObject* build_table(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs < 1 || nargs > 2) {
    PyErr_Format(PyExc_TypeError, "build_table() takes 1 or 2 arguments (%zd given)", nargs);
    return nullptr;
  }
  PyRef given = PyRef::steal(PySequence_Fast(args[0], "build_table() takes a sequence of columns"));
  if (!given) {
    return nullptr;
  }
  PyObject* const rows = nargs == 2 && args[1] != Py_None ? args[1] : nullptr;
  const auto count = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(given.get()));
  std::vector<PyRef> lists(count);  // each column's values, held until the table is built
  try {
    std::vector<ColumnValues> columns(count);
    for (std::size_t i = 0; i < count; ++i) {
      const char* name = nullptr;
      Py_ssize_t name_size = 0;
      const char* type = nullptr;
      int nullable = 0;
      int scale = 0;
      PyObject* values = nullptr;
      PyObject* item = PySequence_Fast_GET_ITEM(given.get(), static_cast<Py_ssize_t>(i));
      if (!PyArg_ParseTuple(item, "s#spiO:build_table", &name, &name_size, &type, &nullable, &scale,
                            &values)) {
        return nullptr;
      }
      ColumnValues& column = columns[i];
      const std::string_view kind(type);
      column.name = std::string_view(name, static_cast<std::size_t>(name_size));
      column.nullable = nullable != 0;
      if (kind == "int64") {
        column.type = ColumnType::Int64;
      } else if (kind == "string") {
        column.type = ColumnType::String;
      } else if (kind == "date32") {
        column.type = ColumnType::Date32;
      } else if (kind == "decimal" && 0 <= scale && scale <= 76) {
        column.type = ColumnType::Decimal;
        column.scale = static_cast<std::uint8_t>(scale);
      } else if (kind == "bool") {
        column.type = ColumnType::Bool;
      } else {
        PyErr_Format(PyExc_ValueError, "column %s: no type '%s' at scale %d", name, type, scale);
        return nullptr;
      }
      lists[i] = PyRef::steal(PySequence_Fast(values, "a column's values must be a sequence"));
      if (!lists[i]) {
        return nullptr;
      }
    }
    // Where rows are given, every column has as many values as the first, and the rows pick them.
    std::optional<std::vector<Py_ssize_t>> picked;
    if (rows != nullptr) {
      const Py_ssize_t values = count == 0 ? 0 : PySequence_Fast_GET_SIZE(lists[0].get());
      for (std::size_t i = 1; i < count; ++i) {
        if (PySequence_Fast_GET_SIZE(lists[i].get()) != values) {
          PyErr_Format(PyExc_ValueError, "column %s: not as long as the first",
                       columns[i].name.data());
          return nullptr;
        }
      }
      picked = row_indexes(rows, values);
      if (!picked) {
        return nullptr;
      }
    }
    for (std::size_t i = 0; i < count; ++i) {
      ColumnValues& column = columns[i];
      PyObject** items = PySequence_Fast_ITEMS(lists[i].get());
      const Py_ssize_t rows_out = picked ? static_cast<Py_ssize_t>(picked->size())
                                         : PySequence_Fast_GET_SIZE(lists[i].get());
      column.valid.reserve(static_cast<std::size_t>(rows_out));
      for (Py_ssize_t r = 0; r < rows_out; ++r) {
        PyObject* value = items[picked ? (*picked)[static_cast<std::size_t>(r)] : r];
        const bool valid = value != Py_None;
        column.valid.push_back(valid);
        const bool is_int = valid && PyLong_CheckExact(value);
        int overflow = 0;
        const long long small = is_int ? PyLong_AsLongLongAndOverflow(value, &overflow) : 0;
        bool fits = !valid;
        switch (column.type) {
          case ColumnType::Int64:
          case ColumnType::Date32:
            fits = fits || (is_int && overflow == 0);
            column.ints.push_back(small);
            break;
          case ColumnType::Bool:
            fits = fits || PyBool_Check(value);
            column.ints.push_back(value == Py_True ? 1 : 0);
            break;
          case ColumnType::String: {
            std::optional<std::string_view> text;
            if (valid && PyUnicode_Check(value)) {
              text = utf8_of(value);
              if (!text) {
                return nullptr;
              }
            }
            fits = fits || text.has_value();
            column.texts.push_back(text.value_or(std::string_view()));
            break;
          }
          case ColumnType::Decimal: {
            std::array<std::uint64_t, 4> words{};
            words.fill(small < 0 ? ~std::uint64_t{0} : 0);
            words[0] = static_cast<std::uint64_t>(small);
            if (is_int && overflow != 0) {
              // Past 64 bits, 64 at a time: Python's & and >> see an int as two's complement.
              PyRef rest = PyRef::borrow(value);
              PyRef mask = PyRef::steal(PyLong_FromUnsignedLongLong(~0ULL));
              PyRef shift = mask ? PyRef::steal(PyLong_FromLong(64)) : PyRef();
              for (std::uint64_t& word : words) {
                PyRef low =
                    rest && shift ? PyRef::steal(PyNumber_And(rest.get(), mask.get())) : PyRef();
                rest = low ? PyRef::steal(PyNumber_Rshift(rest.get(), shift.get())) : PyRef();
                if (!rest) {
                  return nullptr;
                }
                word = PyLong_AsUnsignedLongLong(low.get());
              }
              if (PyLong_AsLong(rest.get()) != ((words[3] >> 63) != 0 ? -1 : 0)) {
                PyErr_Format(PyExc_OverflowError, "column %s, row %zd: a decimal past 256 bits",
                             column.name.data(), r);
                return nullptr;
              }
            }
            fits = fits || is_int;
            column.decimals.push_back(words);
            break;
          }
        }
        if (!fits) {
          PyErr_Format(is_int && overflow != 0 ? PyExc_OverflowError : PyExc_TypeError,
                       "column %s, row %zd: not a value of its type: %R", column.name.data(), r,
                       value);
          return nullptr;
        }
      }
    }
    return new_table(state_of_module(module), built_table(columns, free_unlocked));
  } catch (const std::invalid_argument& e) {
    PyErr_SetString(PyExc_ValueError, e.what());
    return nullptr;
  } catch (...) {
    return raise_current();
  }
}

PyMethodDef kFunctions[] = {
    {"read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read)), METH_FASTCALL,
     kReadDoc},
    {"plain_amount", plain_amount_function, METH_O,
     "plain_amount(text, /)\n--\n\n"
     "The plain decimal form of an amount written with grouping spaces or a decimal comma, or "
     "None."},
    {"build_table", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(build_table)),
     METH_FASTCALL, kBuildTableDoc},
    {nullptr, nullptr, 0, nullptr},
};

// --- the module -------------------------------------------------------------------------------

int exec_module(PyObject* module) {
  ModuleState& state = state_of_module(module);
  state.table_type = PyType_FromModuleAndSpec(module, &kTableSpec, nullptr);
  state.repair_type =
      state.table_type ? PyType_FromModuleAndSpec(module, &kRepairSpec, nullptr) : nullptr;
  state.recording_type =
      state.repair_type ? PyType_FromModuleAndSpec(module, &kRecordingSpec, nullptr) : nullptr;
  state.observer_type =
      state.recording_type ? PyType_FromModuleAndSpec(module, &kObserverSpec, nullptr) : nullptr;
  state.read_type = state.observer_type
                        ? reinterpret_cast<PyObject*>(PyStructSequence_NewType(&kReadDesc))
                        : nullptr;
  if (state.read_type == nullptr || offer_native_hook(state.repair_type, kRepairHookType) < 0 ||
      offer_native_hook(state.recording_type, kRecordingHookType) < 0 ||
      offer_native_hook(state.observer_type, kObserverHookType) < 0) {
    return -1;
  }
  if (PyModule_AddObjectRef(module, "Table", state.table_type) < 0 ||
      PyModule_AddObjectRef(module, "Repair", state.repair_type) < 0 ||
      PyModule_AddObjectRef(module, "Recording", state.recording_type) < 0 ||
      PyModule_AddObjectRef(module, "Observer", state.observer_type) < 0 ||
      PyModule_AddObjectRef(module, "Read", state.read_type) < 0) {
    return -1;
  }
  auto* repair_type = reinterpret_cast<PyTypeObject*>(state.repair_type);
  PyRef repairs = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(kRepairs.size())));
  for (std::size_t i = 0; repairs && i < kRepairs.size(); ++i) {
    PyObject* repair = repair_type->tp_alloc(repair_type, 0);
    if (repair == nullptr) {
      return -1;
    }
    reinterpret_cast<RepairObject*>(repair)->repair = kRepairs[i];
    PyTuple_SET_ITEM(repairs.get(), static_cast<Py_ssize_t>(i), repair);
  }
  if (!repairs || PyModule_AddObjectRef(module, "REPAIRS", repairs.get()) < 0) {
    return -1;
  }
  return 0;
}

int traverse_module(PyObject* module, visitproc visit, void* arg) {
  ModuleState& state = state_of_module(module);
  Py_VISIT(state.table_type);
  Py_VISIT(state.repair_type);
  Py_VISIT(state.recording_type);
  Py_VISIT(state.observer_type);
  Py_VISIT(state.read_type);
  Py_VISIT(state.document_section);
  Py_VISIT(state.edit_type);
  return 0;
}

int clear_module(PyObject* module) {
  ModuleState& state = state_of_module(module);
  Py_CLEAR(state.table_type);
  Py_CLEAR(state.repair_type);
  Py_CLEAR(state.recording_type);
  Py_CLEAR(state.observer_type);
  Py_CLEAR(state.read_type);
  Py_CLEAR(state.document_section);
  Py_CLEAR(state.edit_type);
  return 0;
}

void free_module(void* module) { (void)clear_module(static_cast<PyObject*>(module)); }

PyModuleDef_Slot kModuleSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "tarvik._columns",
    "The tarvik package's native half: statements straight to Arrow tables, the shipped repairs, "
    "and the recording of a reading; see tarvik.to_arrow, tarvik.hooks and tarvik.read.",
    sizeof(ModuleState),
    kFunctions,
    kModuleSlots,
    traverse_module,
    clear_module,
    free_module,
};

}  // namespace
}  // namespace tarvik::columns

PyMODINIT_FUNC PyInit__columns() { return PyModuleDef_Init(&tarvik::columns::kModule); }
