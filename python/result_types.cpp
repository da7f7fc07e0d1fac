#include "result_types.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "amount.h"
#include "create_once.h"
#include "date.h"
#include "fields.h"
#include "py_convert.h"
#include "py_ref.h"
#include "quoted_text.h"

namespace tarvik::py {
namespace {

// Instances keep the core's records as they are; texts are made on each attribute read.
struct IntervalObject {
  PyObject ob_base;
  Interval value;
};
struct AccountObject {
  PyObject ob_base;
  Account value;
};
struct DocumentObject {
  PyObject ob_base;
  Document value;
};
struct SectionTypeObject {
  PyObject ob_base;
  SectionType value;
};
// The containers are the caller's to change; the counts stay as built, for the representation.
struct StatementObject {
  PyObject ob_base;
  PyObject* header;  // the four containers: owned references, nullptr only after tp_clear
  PyObject* accounts;
  PyObject* documents;
  PyObject* warnings;
  Py_ssize_t document_count;
  Py_ssize_t warning_count;
  Encoding encoding;
};

template <class Object>
auto& value_of(PyObject* self) noexcept {
  return reinterpret_cast<Object*>(self)->value;
}

// A new instance of a payload-carrying type. The payload is constructed in place after
// tp_alloc; only non-throwing constructions are allowed, so there is no half-built object to undo.
template <class Object, class Value>
PyObject* new_instance(PyObject* type, Value&& value) noexcept {
  using Payload = decltype(Object::value);
  static_assert(std::is_nothrow_constructible_v<Payload, Value&&>);
  auto* tp = reinterpret_cast<PyTypeObject*>(type);
  PyObject* self = tp->tp_alloc(tp, 0);
  if (self == nullptr) {
    return nullptr;
  }
  ::new (static_cast<void*>(&value_of<Object>(self))) Payload(std::forward<Value>(value));
  return self;
}

template <class Object>
void dealloc(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  std::destroy_at(&value_of<Object>(self));
  tp->tp_free(self);
  Py_DECREF(tp);
}

// ==, != by value against the same class; every other case is left to Python.
template <class Object>
PyObject* richcompare(PyObject* self, PyObject* other, int op) {
  if (!PyObject_TypeCheck(other, Py_TYPE(self)) || (op != Py_EQ && op != Py_NE)) {
    Py_RETURN_NOTIMPLEMENTED;
  }
  const bool equal = value_of<Object>(self) == value_of<Object>(other);
  return PyBool_FromLong(equal == (op == Py_EQ));
}

// Value texts: every read makes a new str.

PyObject* to_python(std::string_view text) { return new_str(text); }

PyObject* to_python(const Date& date) {
  std::string text;
  append_date_text(text, date);
  return new_str(text);
}

PyObject* to_python(const Amount& amount) {
  std::string text;
  append_amount_text(text, amount);
  return new_str(text);
}

template <class T>
PyObject* to_python(const std::optional<T>& value) {
  if (!value) {
    Py_RETURN_NONE;
  }
  return to_python(*value);
}

// Representations: quoted texts, optional ones as None or Some("...").

void append_quoted_value(std::string& out, const Date& date) {
  append_quoted(out, date_text(date));
}

void append_quoted_value(std::string& out, const Amount& amount) {
  append_quoted(out, amount_text(amount));
}

template <class T>
void append_optional(std::string& out, const std::optional<T>& value) {
  if (!value) {
    out += "None";
    return;
  }
  out += "Some(";
  append_quoted_value(out, *value);
  out += ')';
}

PyObject* finish_repr(const std::string& text) { return new_str(text); }

// Each entry point catches once: allocation failure in C++ becomes MemoryError.
template <PyObject* (*F)(PyObject*)>
PyObject* guarded_repr(PyObject* self) {
  try {
    return F(self);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

template <PyObject* (*F)(PyObject*)>
PyObject* guarded_getter(PyObject* self, void*) {
  try {
    return F(self);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

// Function pointers go into slot tables as void*, the form PyType_Slot takes.
template <class F>
void* slot(F* function) {
  return reinterpret_cast<void*>(function);
}

// A new type object from its slot table. New reference or nullptr.
PyObject* make_type(PyType_Spec& type_spec) { return PyType_FromSpec(&type_spec); }

// ---- Interval

PyObject* interval_repr(PyObject* self) {
  const Interval& v = value_of<IntervalObject>(self);
  std::string out = "Interval(date_start=";
  append_quoted_value(out, v.date_start);
  out += ", date_end=";
  append_optional(out, v.date_end);
  out += ", start_amount=";
  append_quoted_value(out, v.start_amount);
  out += ", end_amount=";
  append_optional(out, v.end_amount);
  out += ')';
  return finish_repr(out);
}

template <IntervalField F>
PyObject* interval_field(PyObject* self) {
  const Interval& v = value_of<IntervalObject>(self);
  if constexpr (F == IntervalField::DateStart) {
    return to_python(v.date_start);
  } else if constexpr (F == IntervalField::DateEnd) {
    return to_python(v.date_end);
  } else if constexpr (F == IntervalField::StartAmount) {
    return to_python(v.start_amount);
  } else if constexpr (F == IntervalField::EndAmount) {
    return to_python(v.end_amount);
  } else if constexpr (F == IntervalField::TotalIncome) {
    return to_python(v.total_income);
  } else {
    static_assert(F == IntervalField::TotalExpense);
    return to_python(v.total_expense);
  }
}

// The interval's figures, named and ordered by their rows; the number is the account's.
template <std::size_t... I>
constexpr auto interval_getset(std::index_sequence<I...>) {
  return std::array<PyGetSetDef, sizeof...(I) + 1>{{
      {kIntervalFields[I].py_name, guarded_getter<interval_field<IntervalField(I)>>, nullptr, "",
       nullptr}...,
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  }};
}
static_assert(std::size_t(IntervalField::Number) == kIntervalFieldCount - 1);
constinit auto g_interval_getset =
    interval_getset(std::make_index_sequence<std::size_t(IntervalField::Number)>{});

PyType_Slot g_interval_slots[] = {
    {Py_tp_dealloc, slot(dealloc<IntervalObject>)},
    {Py_tp_repr, slot(guarded_repr<interval_repr>)},
    {Py_tp_richcompare, slot(richcompare<IntervalObject>)},
    {Py_tp_hash, slot(PyObject_HashNotImplemented)},
    {Py_tp_getset, g_interval_getset.data()},
    {0, nullptr},
};

PyType_Spec g_interval_spec = {
    .name = "builtins.Interval",
    .basicsize = sizeof(IntervalObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = g_interval_slots,
};

constinit CreateOnce g_interval_type;

// ---- Account

PyObject* account_number(PyObject* self) { return to_python(value_of<AccountObject>(self).number); }

// A new list of new Interval objects each read: the account's own intervals cannot be reached.
PyObject* account_intervals(PyObject* self) {
  const Account& account = value_of<AccountObject>(self);
  PyObject* type = interval_type();
  if (type == nullptr) {
    return nullptr;
  }
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(account.intervals.size())));
  if (!list) {
    return nullptr;
  }
  Py_ssize_t i = 0;
  for (const Interval& interval : account.intervals) {
    PyObject* item = new_instance<IntervalObject>(type, interval);
    if (item == nullptr) {
      return nullptr;
    }
    PyList_SET_ITEM(list.get(), i++, item);
  }
  return list.release();
}

PyObject* account_repr(PyObject* self) {
  const Account& v = value_of<AccountObject>(self);
  std::string out = "Account(number=";
  append_quoted(out, v.number);
  out += ", intervals=[...";
  out += std::to_string(v.intervals.size());
  out += "])";
  return finish_repr(out);
}

PyGetSetDef g_account_getset[] = {
    {kIntervalFields[std::size_t(IntervalField::Number)].py_name, guarded_getter<account_number>,
     nullptr, "", nullptr},
    {"intervals", guarded_getter<account_intervals>, nullptr, "", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot g_account_slots[] = {
    {Py_tp_dealloc, slot(dealloc<AccountObject>)},
    {Py_tp_repr, slot(guarded_repr<account_repr>)},
    {Py_tp_richcompare, slot(richcompare<AccountObject>)},
    {Py_tp_hash, slot(PyObject_HashNotImplemented)},
    {Py_tp_getset, g_account_getset},
    {0, nullptr},
};

PyType_Spec g_account_spec = {
    .name = "builtins.Account",
    .basicsize = sizeof(AccountObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = g_account_slots,
};

constinit CreateOnce g_account_type;

// ---- Document

template <DocField F>
PyObject* document_field(PyObject* self) {
  const Document& d = value_of<DocumentObject>(self);
  constexpr FieldKind kind = kind_of(F);
  if constexpr (kind == FieldKind::Text) {
    return to_python(d.text(F));
  } else if constexpr (kind == FieldKind::OptionalText) {
    return to_python(d.optional_text(F));
  } else if constexpr (kind == FieldKind::Date) {
    static_assert(F == DocField::DocDate);
    return to_python(d.doc_date);
  } else if constexpr (kind == FieldKind::OptionalDate) {
    static_assert(F == DocField::OutcomeDate || F == DocField::IncomeDate);
    return to_python(F == DocField::OutcomeDate ? d.outcome_date : d.income_date);
  } else {
    static_assert(F == DocField::Amount);
    return to_python(d.amount);
  }
}

PyObject* document_repr(PyObject* self) {
  const Document& d = value_of<DocumentObject>(self);
  std::string out = "Document(doc_number=";
  append_quoted(out, d.text(DocField::DocNumber));
  out += ", doc_type=";
  append_quoted(out, d.text(DocField::DocType));
  out += ", doc_date=";
  append_quoted_value(out, d.doc_date);
  out += ", amount=";
  append_quoted_value(out, d.amount);
  out += ')';
  return finish_repr(out);
}

// In the order of the record's fields, which is the order Python lists them in.
template <std::size_t... I>
constexpr auto document_getset(std::index_sequence<I...>) {
  return std::array<PyGetSetDef, sizeof...(I) + 1>{{
      {kDocFields[I].py_name, guarded_getter<document_field<DocField(I)>>, nullptr, "", nullptr}...,
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  }};
}
constinit auto g_document_getset = document_getset(std::make_index_sequence<kDocFieldCount>{});

PyType_Slot g_document_slots[] = {
    {Py_tp_dealloc, slot(dealloc<DocumentObject>)},
    {Py_tp_repr, slot(guarded_repr<document_repr>)},
    {Py_tp_richcompare, slot(richcompare<DocumentObject>)},
    {Py_tp_hash, slot(PyObject_HashNotImplemented)},
    {Py_tp_getset, g_document_getset.data()},
    {0, nullptr},
};

PyType_Spec g_document_spec = {
    .name = "builtins.Document",
    .basicsize = sizeof(DocumentObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = g_document_slots,
};

constinit CreateOnce g_document_type;

// ---- Statement

StatementObject* as_statement(PyObject* self) noexcept {
  return reinterpret_cast<StatementObject*>(self);
}

PyObject* statement_encoding(PyObject* self) {
  return new_str(encoding_name(as_statement(self)->encoding));
}

// The same container on every read. A statement emptied by the collector (its containers were
// cleared to break a cycle) reads None rather than crashing the finalizer that looks at it.
template <PyObject* StatementObject::*Member>
PyObject* statement_container(PyObject* self) {
  PyObject* container = as_statement(self)->*Member;
  return Py_NewRef(container != nullptr ? container : Py_None);
}

PyObject* statement_repr(PyObject* self) {
  const StatementObject* s = as_statement(self);
  std::string out = "Statement(encoding=";
  append_quoted(out, encoding_name(s->encoding));
  out += ", documents=[...";
  out += std::to_string(s->document_count);
  out += "], warnings=[...";
  out += std::to_string(s->warning_count);
  out += "])";
  return finish_repr(out);
}

// The containers are the user's to fill, with the statement itself too, so a statement can sit
// in a reference cycle; the collector must see through it.
int statement_traverse(PyObject* self, visitproc visit, void* arg) {
  StatementObject* s = as_statement(self);
  Py_VISIT(Py_TYPE(self));
  Py_VISIT(s->header);
  Py_VISIT(s->accounts);
  Py_VISIT(s->documents);
  Py_VISIT(s->warnings);
  return 0;
}

int statement_clear(PyObject* self) {
  StatementObject* s = as_statement(self);
  Py_CLEAR(s->header);
  Py_CLEAR(s->accounts);
  Py_CLEAR(s->documents);
  Py_CLEAR(s->warnings);
  return 0;
}

void statement_dealloc(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  statement_clear(self);
  tp->tp_free(self);
  Py_DECREF(tp);
}

PyGetSetDef g_statement_getset[] = {
    {"encoding", guarded_getter<statement_encoding>, nullptr, "", nullptr},
    {"header", guarded_getter<statement_container<&StatementObject::header>>, nullptr, "", nullptr},
    {"accounts", guarded_getter<statement_container<&StatementObject::accounts>>, nullptr, "",
     nullptr},
    {"documents", guarded_getter<statement_container<&StatementObject::documents>>, nullptr, "",
     nullptr},
    {"warnings", guarded_getter<statement_container<&StatementObject::warnings>>, nullptr, "",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot g_statement_slots[] = {
    {Py_tp_dealloc, slot(statement_dealloc)}, {Py_tp_traverse, slot(statement_traverse)},
    {Py_tp_clear, slot(statement_clear)},     {Py_tp_repr, slot(guarded_repr<statement_repr>)},
    {Py_tp_getset, g_statement_getset},       {0, nullptr},
};

PyType_Spec g_statement_spec = {
    .name = "builtins.Statement",
    .basicsize = sizeof(StatementObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_HAVE_GC,
    .slots = g_statement_slots,
};

constinit CreateOnce g_statement_type;

// ---- SectionType

PyObject* section_type_repr(PyObject* self) {
  switch (value_of<SectionTypeObject>(self)) {
    case SectionType::Document:
      return PyUnicode_FromString("SectionType.Document");
    case SectionType::Account:
      return PyUnicode_FromString("SectionType.Account");
  }
  return nullptr;
}

PyObject* section_type_int(PyObject* self) {
  return PyLong_FromLong(static_cast<long>(value_of<SectionTypeObject>(self)));
}

// Pickle protocols 0 and 1 go through copyreg, which needs no constructor and finds this class
// by its module name (the other result classes claim to live in builtins and are not found
// there), so they would write a pickle that no load can turn back into an object. Refusing the
// state refuses them with the words that protocols 2 and later use.
PyObject* section_type_getstate(PyObject* self, PyObject*) {
  PyErr_Format(PyExc_TypeError, "cannot pickle '%s' object", Py_TYPE(self)->tp_name);
  return nullptr;
}

PyMethodDef g_section_type_methods[] = {
    {"__getstate__", section_type_getstate, METH_NOARGS, "__getstate__($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot g_section_type_slots[] = {
    {Py_tp_doc, const_cast<char*>("Тип секции выписки для использования в hooks.")},
    {Py_tp_dealloc, slot(dealloc<SectionTypeObject>)},
    {Py_tp_repr, slot(section_type_repr)},
    {Py_tp_richcompare, slot(richcompare<SectionTypeObject>)},
    {Py_tp_hash, slot(PyObject_HashNotImplemented)},
    {Py_nb_int, slot(section_type_int)},
    {Py_tp_methods, g_section_type_methods},
    {0, nullptr},
};

PyType_Spec g_section_type_spec = {
    .name = "tarvik_py.SectionType",
    .basicsize = sizeof(SectionTypeObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = g_section_type_slots,
};

constinit CreateOnce g_section_type_type;

// The type with its two class attributes, Document first.
PyObject* make_section_type_type() {
  PyRef type = PyRef::steal(make_type(g_section_type_spec));
  if (!type) {
    return nullptr;
  }
  const std::pair<const char*, SectionType> members[] = {
      {"Document", SectionType::Document},
      {"Account", SectionType::Account},
  };
  for (const auto& [name, value] : members) {
    PyRef member = PyRef::steal(new_instance<SectionTypeObject>(type.get(), value));
    if (!member || PyObject_SetAttrString(type.get(), name, member.get()) < 0) {
      return nullptr;
    }
  }
  PyType_Modified(reinterpret_cast<PyTypeObject*>(type.get()));
  return type.release();
}

// Warnings come in runs of one message (a defect repeated through a file), so each str is
// shared with the warning before when their texts agree.
PyObject* new_warning(const ParseWarning& warning, PyRef& last_message,
                      const std::string*& last_text) {
  PyRef lineno = PyRef::steal(PyLong_FromUnsignedLongLong(warning.lineno));
  if (!lineno) {
    return nullptr;
  }
  if (last_text == nullptr || *last_text != warning.message) {
    last_message = PyRef::steal(new_str(warning.message));
    if (!last_message) {
      return nullptr;
    }
    last_text = &warning.message;
  }
  PyRef message = PyRef::borrow(last_message.get());
  PyObject* tuple = PyTuple_New(2);
  if (tuple == nullptr) {
    return nullptr;
  }
  PyTuple_SET_ITEM(tuple, 0, lineno.release());
  PyTuple_SET_ITEM(tuple, 1, message.release());
  return tuple;
}

}  // namespace

PyObject* interval_type() {
  return g_interval_type.get([] { return make_type(g_interval_spec); });
}

PyObject* account_type() {
  return g_account_type.get([] { return make_type(g_account_spec); });
}

PyObject* document_type() {
  return g_document_type.get([] { return make_type(g_document_spec); });
}

PyObject* statement_type() {
  return g_statement_type.get([] { return make_type(g_statement_spec); });
}

PyObject* section_type_type() { return g_section_type_type.get(make_section_type_type); }

PyObject* new_section_type(SectionType value) {
  PyObject* type = section_type_type();
  if (type == nullptr) {
    return nullptr;
  }
  return new_instance<SectionTypeObject>(type, value);
}

PyObject* attr_map_to_dict(const AttrMap& map) {
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) {
    return nullptr;
  }
  for (const AttrMap::Entry& entry : map) {
    PyRef key = PyRef::steal(new_str(entry.key));
    if (!key) {
      return nullptr;
    }
    PyRef value = PyRef::steal(new_str(entry.value));
    if (!value || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) {
      return nullptr;
    }
  }
  return dict.release();
}

PyObject* build_statement(Statement&& statement) {
  PyObject* account_cls = account_type();
  PyObject* document_cls = document_type();
  PyObject* statement_cls = statement_type();
  if (account_cls == nullptr || document_cls == nullptr || statement_cls == nullptr) {
    return nullptr;
  }

  PyRef header = PyRef::steal(attr_map_to_dict(statement.header));
  if (!header) {
    return nullptr;
  }

  PyRef accounts = PyRef::steal(PyDict_New());
  if (!accounts) {
    return nullptr;
  }
  for (Account& account : statement.accounts) {
    PyRef number = PyRef::steal(new_str(account.number));
    if (!number) {
      return nullptr;
    }
    PyRef object = PyRef::steal(new_instance<AccountObject>(account_cls, std::move(account)));
    if (!object || PyDict_SetItem(accounts.get(), number.get(), object.get()) < 0) {
      return nullptr;
    }
  }

  const auto document_count = static_cast<Py_ssize_t>(statement.documents.size());
  PyRef documents = PyRef::steal(PyList_New(document_count));
  if (!documents) {
    return nullptr;
  }
  for (Py_ssize_t i = 0; i < document_count; ++i) {
    PyObject* object = new_instance<DocumentObject>(
        document_cls, std::move(statement.documents[static_cast<std::size_t>(i)]));
    if (object == nullptr) {
      return nullptr;
    }
    PyList_SET_ITEM(documents.get(), i, object);
  }

  const auto warning_count = static_cast<Py_ssize_t>(statement.warnings.size());
  PyRef warnings = PyRef::steal(PyList_New(warning_count));
  if (!warnings) {
    return nullptr;
  }
  PyRef last_message;
  const std::string* last_text = nullptr;
  for (Py_ssize_t i = 0; i < warning_count; ++i) {
    PyObject* item =
        new_warning(statement.warnings[static_cast<std::size_t>(i)], last_message, last_text);
    if (item == nullptr) {
      return nullptr;
    }
    PyList_SET_ITEM(warnings.get(), i, item);
  }

  auto* tp = reinterpret_cast<PyTypeObject*>(statement_cls);
  PyObject* self = tp->tp_alloc(tp, 0);
  if (self == nullptr) {
    return nullptr;
  }
  StatementObject* s = as_statement(self);
  s->header = header.release();
  s->accounts = accounts.release();
  s->documents = documents.release();
  s->warnings = warnings.release();
  s->document_count = document_count;
  s->warning_count = warning_count;
  s->encoding = statement.encoding;
  return self;
}

}  // namespace tarvik::py
