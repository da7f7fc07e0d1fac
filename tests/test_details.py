import copy
import inspect
import pickle

import pytest

import tarvik_py

# name, text fields after lineno
DETAILS = [
    ("UnexpectedSection", ["found", "context"]),
    ("UnexpectedAttribute", ["key", "value"]),
    ("UnrecognizedLine", ["line"]),
    ("MissingField", ["field", "context"]),
    ("AccountParseError", ["message"]),
    ("DocumentParseError", ["message"]),
    ("HookError", ["message"]),
]
IDS = [name for name, _ in DETAILS]


def make(name, fields, lineno=7):
    values = {field: f"{field}-значение" for field in fields}
    return getattr(tarvik_py, name)(lineno, *values.values()), values


@pytest.mark.parametrize("name, fields", DETAILS, ids=IDS)
def test_class(name, fields):
    cls = getattr(tarvik_py, name)
    params = ["lineno", *fields]
    assert cls.__module__ == "tarvik_py"
    assert cls.__qualname__ == name
    assert cls.__doc__ == ""  # the docstring is only the text signature
    assert cls.__text_signature__ == "(" + ", ".join(params) + ")"
    signature = inspect.signature(cls)
    assert list(signature.parameters) == params
    assert all(p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD for p in signature.parameters.values())
    assert cls.__getnewargs__.__text_signature__ == "($self)"
    declared = [k for k, v in vars(cls).items() if type(v).__name__ == "getset_descriptor"]
    assert declared == params
    assert all(getattr(cls, p).__doc__ == "" for p in params)
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


@pytest.mark.parametrize("name, fields", DETAILS, ids=IDS)
def test_fields_and_repr(name, fields):
    detail, values = make(name, fields)
    assert detail.lineno == 7
    assert {f: getattr(detail, f) for f in fields} == values
    shown = ", ".join(f'{f}="{v}"' for f, v in values.items())
    assert repr(detail) == str(detail) == f"{name}(lineno=7, {shown})"


@pytest.mark.parametrize("name, fields", DETAILS, ids=IDS)
def test_keywords_in_any_order(name, fields):
    cls = getattr(tarvik_py, name)
    kwargs = {f: f for f in reversed(fields)}
    detail = cls(**kwargs, lineno=3)
    assert detail.lineno == 3
    assert [getattr(detail, f) for f in fields] == fields


@pytest.mark.parametrize("name, fields", DETAILS, ids=IDS)
def test_copy_and_pickle(name, fields):
    detail, values = make(name, fields, lineno=2**64 - 1)
    assert detail.__getnewargs__() == (2**64 - 1, *values.values())
    copies = [copy.copy(detail), copy.deepcopy(detail)]
    copies += [
        pickle.loads(pickle.dumps(detail, protocol)) for protocol in range(2, pickle.HIGHEST_PROTOCOL + 1)
    ]
    for other in copies:
        assert type(other) is type(detail)
        assert other.__getnewargs__() == detail.__getnewargs__()
        assert other != detail  # equality is identity
    assert detail == detail
    assert hash(detail) == hash(detail)
    assert len({detail, *copies}) == len(copies) + 1


@pytest.mark.parametrize("name, fields", DETAILS, ids=IDS)
def test_immutable(name, fields):
    detail, _ = make(name, fields)
    for attribute in ["lineno", *fields]:
        with pytest.raises(AttributeError):
            setattr(detail, attribute, "x")
        with pytest.raises(AttributeError):
            delattr(detail, attribute)
    with pytest.raises(AttributeError):
        detail.other = 1
    assert not hasattr(detail, "__dict__")


class Index:
    def __index__(self):
        return 12


class Text(str):
    pass


@pytest.mark.parametrize(
    "call, exc_class, message",
    [
        pytest.param(
            lambda: tarvik_py.HookError(1),
            TypeError,
            "HookError.__new__() missing 1 required positional argument: 'message'",
            id="missing-one",
        ),
        pytest.param(
            lambda: tarvik_py.MissingField(1),
            TypeError,
            "MissingField.__new__() missing 2 required positional arguments: 'field' and 'context'",
            id="missing-two",
        ),
        pytest.param(
            lambda: tarvik_py.UnexpectedSection(),
            TypeError,
            "UnexpectedSection.__new__() missing 3 required positional arguments: "
            "'lineno', 'found', and 'context'",
            id="missing-three",
        ),
        pytest.param(
            lambda: tarvik_py.UnexpectedAttribute(key="k"),
            TypeError,
            "UnexpectedAttribute.__new__() missing 2 required positional arguments: 'lineno' and 'value'",
            id="missing-around-keyword",
        ),
        pytest.param(
            lambda: tarvik_py.HookError(1, "a", "b"),
            TypeError,
            "HookError.__new__() takes 2 positional arguments but 3 were given",
            id="too-many",
        ),
        pytest.param(
            lambda: tarvik_py.MissingField(1, "a", "b", "c", "d"),
            TypeError,
            "MissingField.__new__() takes 3 positional arguments but 5 were given",
            id="too-many-3",
        ),
        pytest.param(
            lambda: tarvik_py.HookError(1, "a", msg="b"),
            TypeError,
            "HookError.__new__() got an unexpected keyword argument 'msg'",
            id="unknown-keyword",
        ),
        pytest.param(
            lambda: tarvik_py.HookError(1, "a", lineno=2),
            TypeError,
            "HookError.__new__() got multiple values for argument 'lineno'",
            id="twice",
        ),
        pytest.param(
            lambda: tarvik_py.HookError(-1, "m"),
            OverflowError,
            "can't convert negative int to unsigned",
            id="negative-lineno",
        ),
        pytest.param(
            lambda: tarvik_py.HookError(2**64, "m"), OverflowError, "int too big to convert", id="huge-lineno"
        ),
        pytest.param(
            lambda: tarvik_py.HookError("1", "m"),
            TypeError,
            "argument 'lineno': 'str' object cannot be interpreted as an integer",
            id="str-lineno",
        ),
        pytest.param(
            lambda: tarvik_py.HookError(1.0, "m"),
            TypeError,
            "argument 'lineno': 'float' object cannot be interpreted as an integer",
            id="float-lineno",
        ),
        pytest.param(
            lambda: tarvik_py.HookError(1, 2),
            TypeError,
            "argument 'message': 'int' object cannot be converted to 'PyString'",
            id="int-message",
        ),
        pytest.param(
            lambda: tarvik_py.MissingField(1, "f", b"c"),
            TypeError,
            "argument 'context': 'bytes' object cannot be converted to 'PyString'",
            id="bytes-context",
        ),
        pytest.param(
            lambda: tarvik_py.MissingField("x", None, "c"),
            TypeError,
            "argument 'lineno': 'str' object cannot be interpreted as an integer",
            id="first-failure-wins",
        ),
        pytest.param(
            lambda: tarvik_py.UnrecognizedLine(1, "\udc80"),
            UnicodeEncodeError,
            "'utf-8' codec can't encode character '\\udc80' in position 0: surrogates not allowed",
            id="lone-surrogate",
        ),
    ],
)
def test_constructor_errors(call, exc_class, message):
    with pytest.raises(BaseException) as info:
        call()
    assert type(info.value) is exc_class
    assert str(info.value) == message


def test_converted_type_error_names_its_cause():
    with pytest.raises(TypeError) as info:
        tarvik_py.HookError(1, 2)
    cause = info.value.__cause__
    assert type(cause) is TypeError
    assert str(cause) == "'int' object cannot be converted to 'PyString'"
    with pytest.raises(TypeError) as info:
        tarvik_py.HookError(object(), "m")
    assert str(info.value.__cause__) == "'object' object cannot be interpreted as an integer"


def test_index_error_subclass_is_not_rewritten():
    class Odd(TypeError):
        pass

    class BadIndex:
        def __index__(self):
            raise Odd("odd")

    with pytest.raises(Odd):
        tarvik_py.HookError(BadIndex(), "m")


@pytest.mark.parametrize(
    "lineno, want",
    [(0, 0), (True, 1), (Index(), 12), (2**64 - 1, 2**64 - 1)],
    ids=["zero", "bool", "index", "max"],
)
def test_lineno_as_index(lineno, want):
    detail = tarvik_py.HookError(lineno, "m")
    assert detail.lineno == want and type(detail.lineno) is int


def test_str_subclass_is_stored_as_str():
    detail = tarvik_py.HookError(1, Text("boom"))
    assert type(detail.message) is str and detail.message == "boom"


@pytest.mark.parametrize(
    "detail, want",
    [
        (tarvik_py.HookError(3, "boom"), 'HookError(lineno=3, message="boom")'),
        (
            tarvik_py.MissingField(lineno=1, field="РасчСчет", context="счёт"),
            'MissingField(lineno=1, field="РасчСчет", context="счёт")',
        ),
        (tarvik_py.UnrecognizedLine(4, 'a"b\\c\td'), 'UnrecognizedLine(lineno=4, line="a\\"b\\\\c\\td")'),
        (tarvik_py.UnrecognizedLine(4, "\r\n\0'"), 'UnrecognizedLine(lineno=4, line="\\r\\n\\0\'")'),
        (tarvik_py.UnrecognizedLine(4, "е\u0301"), 'UnrecognizedLine(lineno=4, line="е\\u{301}")'),
        (tarvik_py.UnexpectedAttribute(0, "", ""), 'UnexpectedAttribute(lineno=0, key="", value="")'),
        (tarvik_py.DocumentParseError(9, "\xa0"), 'DocumentParseError(lineno=9, message="\\u{a0}")'),
    ],
    ids=["plain", "cyrillic", "quote-backslash-tab", "controls", "combining", "empty", "no-break-space"],
)
def test_repr_quoting(detail, want):
    assert repr(detail) == want


def test_getnewargs_of_unexpected_section():
    detail = tarvik_py.UnexpectedSection(5, "a", "b")
    args = detail.__getnewargs__()
    assert args == (5, "a", "b")
    assert type(args[0]) is int
    clone = pickle.loads(pickle.dumps(detail))
    assert (clone.lineno, clone.found, clone.context) == (5, "a", "b")
    assert (clone == detail) is False


def test_index_that_empties_the_callers_keyword_dict():
    # A C caller may hand its own dict over as the keywords; __index__ runs Python code that can
    # empty it while the other arguments are still to be read.
    import ctypes

    call = ctypes.pythonapi.PyObject_Call
    call.restype = ctypes.py_object
    call.argtypes = [ctypes.py_object, ctypes.py_object, ctypes.py_object]
    kwargs = {}

    class Emptying:
        def __index__(self):
            kwargs.clear()
            return 4

    kwargs.update(lineno=Emptying(), message="".join(["Сообщ", "ение"]))
    detail = call(tarvik_py.HookError, (), kwargs)
    assert (detail.lineno, detail.message) == (4, "Сообщение")
