"""Rules of the module's Python face that the other suites leave open: type flags, the
NotImplemented answers, pickling at every protocol, equality of records read from equivalent
input, and the order in which parse looks at its arguments."""

import gc
import pickle

import pytest

import tarvik_py
from samples import MARKER, account_section, document_section, statement_lines, utf8

GOOD = utf8(statement_lines(account_section(), document_section()))

DISALLOW_INSTANTIATION = 1 << 7
BASETYPE = 1 << 10
HAVE_GC = 1 << 14


def _read():
    statement = tarvik_py.parse(GOOD)
    account = statement.accounts["40702810000000000001"]
    seen = []
    tarvik_py.parse(GOOD, [lambda kind, attrs, header: seen.append(kind)])
    return {
        "Statement": statement,
        "Account": account,
        "Interval": account.intervals[0],
        "Document": statement.documents[0],
        "SectionType": tarvik_py.SectionType.Document,
        "SectionType-from-hook": seen[0],
    }


OBJECTS = _read()


# name, instantiation refused by the flag, collector support. None may be subclassed; only the
# Statement, whose containers are the caller's and can hold the Statement itself, is collected.
CLASS_FLAGS = [
    ("Statement", True, True),
    ("Account", True, False),
    ("Document", True, False),
    ("Interval", True, False),
    ("SectionType", True, False),
    ("UnexpectedSection", False, False),
    ("UnexpectedAttribute", False, False),
    ("UnrecognizedLine", False, False),
    ("MissingField", False, False),
    ("AccountParseError", False, False),
    ("DocumentParseError", False, False),
    ("HookError", False, False),
]


@pytest.mark.parametrize(
    "name, disallowed, collected",
    CLASS_FLAGS,
    ids=[
        f"{n}-{'no-instantiation' if d else 'constructible'}-{'gc' if g else 'no-gc'}"
        for n, d, g in CLASS_FLAGS
    ],
)
def test_type_flags(name, disallowed, collected):
    cls = getattr(tarvik_py, name)
    assert bool(cls.__flags__ & DISALLOW_INSTANTIATION) is disallowed
    assert bool(cls.__flags__ & HAVE_GC) is collected
    assert not cls.__flags__ & BASETYPE
    assert (cls.__dictoffset__, cls.__weakrefoffset__) == (0, 0)


def test_detail_instances_are_not_tracked():
    assert not gc.is_tracked(tarvik_py.MissingField(1, "Номер", "document"))


# The comparison slots answer NotImplemented themselves, for a foreign operand and for every
# ordering; the interpreter then falls back to identity or raises.
NOT_IMPLEMENTED = [
    ("Account", "__eq__", "Interval"),
    ("Account", "__ne__", "Document"),
    ("Account", "__lt__", "Account"),
    ("Interval", "__eq__", "Account"),
    ("Interval", "__le__", "Interval"),
    ("Document", "__ne__", "Statement"),
    ("Document", "__gt__", "Document"),
    ("SectionType", "__eq__", 0),
    ("SectionType", "__ne__", 1),
    ("SectionType", "__ge__", "SectionType-from-hook"),
    ("Statement", "__lt__", "Statement"),
]


@pytest.mark.parametrize(
    "name, method, other",
    NOT_IMPLEMENTED,
    ids=[f"{n}-{m.strip('_')}-{o}" for n, m, o in NOT_IMPLEMENTED],
)
def test_comparison_answers_not_implemented(name, method, other):
    operand = OBJECTS[other] if isinstance(other, str) else other
    assert getattr(OBJECTS[name], method)(operand) is NotImplemented


PROTOCOLS = range(pickle.HIGHEST_PROTOCOL + 1)


@pytest.mark.parametrize(
    "name, protocol",
    [(name, protocol) for name in OBJECTS for protocol in PROTOCOLS],
    ids=[f"{name}-protocol-{protocol}" for name in OBJECTS for protocol in PROTOCOLS],
)
def test_result_objects_cannot_be_pickled_at_any_protocol(name, protocol):
    # Protocols 0 and 1 must not write a pickle that no load can rebuild either.
    with pytest.raises((TypeError, pickle.PicklingError)):
        pickle.dumps(OBJECTS[name], protocol)


def test_section_type_refuses_pickling_with_the_interpreters_words():
    for protocol in PROTOCOLS:
        with pytest.raises(TypeError) as info:
            pickle.dumps(tarvik_py.SectionType.Account, protocol)
        assert str(info.value) == "cannot pickle 'tarvik_py.SectionType' object"


def test_section_type_class_attributes_are_set_document_first():
    names = [name for name in vars(tarvik_py.SectionType) if name in ("Document", "Account")]
    assert names == ["Document", "Account"]


def _document(changes):
    return tarvik_py.parse(utf8(statement_lines(document_section(changes)))).documents[0]


def _interval(changes):
    statement = tarvik_py.parse(utf8(statement_lines(account_section(changes))))
    (account,) = statement.accounts.values()
    return account.intervals[0]


# Records compare by the values they expose: how an absent optional value was written (key left
# out, or given blank) does not take part.
EQUAL_RECORDS = [
    ("document-blank-outcome-date-equals-absent", _document, {"ДатаСписано": ""}, {}),
    ("document-spaces-income-date-equals-absent", _document, {"ДатаПоступило": "   "}, {}),
    (
        "document-blank-dates-equal-each-other",
        _document,
        {"ДатаСписано": "", "ДатаПоступило": " "},
        {"ДатаСписано": " ", "ДатаПоступило": ""},
    ),
    ("interval-blank-end-date-equals-absent", _interval, {"ДатаКонца": ""}, {"ДатаКонца": None}),
]


@pytest.mark.parametrize(
    "read, left, right", [row[1:] for row in EQUAL_RECORDS], ids=[row[0] for row in EQUAL_RECORDS]
)
def test_records_from_equivalent_input_are_equal(read, left, right):
    a, b = read(left), read(right)
    fields = [k for k, v in vars(type(a)).items() if type(v).__name__ == "getset_descriptor"]
    assert [getattr(a, f) for f in fields] == [getattr(b, f) for f in fields]
    assert a == b
    assert not a != b


class Text(str):
    pass


class Table(dict):
    def __getitem__(self, key):
        return lambda *args: None


class NotIterable:
    __iter__ = None

    def __len__(self):
        return 1

    def __getitem__(self, index):
        return lambda *args: None


ARGUMENT_FAILURES = [
    (
        "hooks-str-subclass",
        lambda: tarvik_py.parse(GOOD, Text("hook")),
        TypeError,
        "argument 'hooks': Can't extract `str` to `Vec`",
    ),
    (
        "hooks-dict-subclass-is-no-sequence",
        lambda: tarvik_py.parse(GOOD, Table()),
        TypeError,
        "argument 'hooks': 'Table' object cannot be converted to 'Sequence'",
    ),
    (
        "hooks-sequence-that-cannot-be-iterated",
        lambda: tarvik_py.parse(GOOD, NotIterable()),
        TypeError,
        "argument 'hooks': 'NotIterable' object is not iterable",
    ),
    (
        "hooks-bytes-pass-the-sequence-test",
        lambda: tarvik_py.parse(GOOD, b"\x01"),
        tarvik_py.SyntaxError,
        "Hook error: TypeError: 'int' object is not callable",
    ),
    (
        "statement-str-subclass-with-lone-surrogate",
        lambda: tarvik_py.parse(Text(MARKER + "\n\udc80\n")),
        TypeError,
        "statement must be bytes or str",
    ),
]


@pytest.mark.parametrize(
    "call, exc_class, message",
    [row[1:] for row in ARGUMENT_FAILURES],
    ids=[row[0] for row in ARGUMENT_FAILURES],
)
def test_argument_failure(call, exc_class, message):
    with pytest.raises(BaseException) as info:
        call()
    assert type(info.value) is exc_class
    assert info.value.args == (message,)


class Recorded:
    """A hooks sequence that logs how parse uses it; its elements log any use of them."""

    def __init__(self, events, count):
        self.events = events
        self.count = count

    def __len__(self):
        self.events.append("len")
        return self.count

    def __getitem__(self, index):
        self.events.append(f"item {index}")
        if index >= self.count:
            raise IndexError(index)
        return Untouchable(self.events)


class Untouchable:
    def __init__(self, events):
        object.__setattr__(self, "events", events)

    def __getattribute__(self, name):
        object.__getattribute__(self, "events").append(f"element.{name}")
        return object.__getattribute__(self, name)


@pytest.mark.parametrize(
    "statement, outcome",
    [(42, TypeError), (GOOD, tarvik_py.SyntaxError)],
    ids=["bad-statement-refused-after-the-hooks", "hook-not-callable-fails-when-called"],
)
def test_hooks_length_is_asked_once_then_the_sequence_is_iterated(statement, outcome):
    events = []
    with pytest.raises(outcome):
        tarvik_py.parse(statement, Recorded(events, 2))
    # Nothing of an element is looked at while the argument is converted, nor when it is called.
    assert events == ["len", "item 0", "item 1", "item 2"]
