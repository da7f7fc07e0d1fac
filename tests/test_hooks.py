import pytest

import tarvik_py
from samples import (
    ACCOUNT,
    DOCUMENT,
    HEADER,
    account_section,
    document_section,
    line_of,
    statement_lines,
    utf8,
)

LINES = statement_lines(account_section(), document_section())
GOOD = utf8(LINES)
ACCOUNT_END = line_of(LINES, "КонецРасчСчет")
DOCUMENT_END = line_of(LINES, "КонецДокумента")
HEADER_DICT = dict(line.split("=", 1) for line in HEADER)


def hook_error(hooks, data=GOOD):
    with pytest.raises(tarvik_py.SyntaxError) as info:
        tarvik_py.parse(data, hooks)
    detail = info.value.detail
    assert type(detail) is tarvik_py.HookError
    assert info.value.args == ("Hook error: " + detail.message,)
    return detail


def only(section_type, hook):
    """Runs `hook` for sections of one type only."""

    def run(kind, attrs, header):
        if kind == section_type:
            return hook(kind, attrs, header)

    return run


def test_hook_receives_fresh_objects_per_section():
    calls = []

    def hook(*args, **kwargs):
        calls.append((args, kwargs))

    tarvik_py.parse(GOOD, [hook])
    assert [len(args) for args, _ in calls] == [3, 3]
    assert all(kwargs == {} for _, kwargs in calls)
    (account_type, account_attrs, header1), (document_type, document_attrs, header2) = (
        args for args, _ in calls
    )
    assert type(account_type) is tarvik_py.SectionType
    assert account_type == tarvik_py.SectionType.Account
    assert account_type is not tarvik_py.SectionType.Account
    assert document_type == tarvik_py.SectionType.Document
    assert document_type is not tarvik_py.SectionType.Document
    assert list(account_attrs.items()) == list(ACCOUNT.items())
    # The document type of the opening line is not an attribute.
    assert list(document_attrs.items()) == list(DOCUMENT.items())
    assert header1 == header2 == HEADER_DICT
    assert list(header1) == list(HEADER_DICT)
    assert header1 is not header2


def test_section_types_differ_between_calls():
    seen = []
    tarvik_py.parse(
        utf8(statement_lines(document_section(), document_section())), [lambda t, a, h: seen.append(t)]
    )
    assert seen[0] == seen[1] and seen[0] is not seen[1]


@pytest.mark.parametrize(
    "change, want",
    [
        pytest.param(lambda a: a.update({"Новый": "1"}), [*DOCUMENT, "Новый"], id="added-key-last"),
        pytest.param(lambda a: a.update({"Номер": "99"}), list(DOCUMENT), id="changed-value-keeps-place"),
        pytest.param(lambda a: a.pop("Дата"), [k for k in DOCUMENT if k != "Дата"], id="deleted-key"),
        pytest.param(
            lambda a: [a.update({k: a.pop(k)}) for k in list(reversed(a))],
            list(reversed(DOCUMENT)),
            id="reinserted-reversed",
        ),
        pytest.param(lambda a: a.clear(), [], id="cleared"),
    ],
)
def test_write_back_order(change, want):
    seen = []
    hooks = [
        only(tarvik_py.SectionType.Document, lambda t, a, h: change(a)),
        only(tarvik_py.SectionType.Document, lambda t, a, h: seen.append(list(a))),
    ]
    tarvik_py.parse(GOOD, hooks)
    assert seen == [want]


def test_changed_values_reach_the_record():
    def hook(kind, attrs, header):
        attrs["Номер"] = "99"
        attrs["ВидОплаты"] = ""

    statement = tarvik_py.parse(GOOD, [only(tarvik_py.SectionType.Document, hook)])
    document = statement.documents[0]
    assert document.doc_number == "99"
    assert document.payment_type == ""


@pytest.mark.parametrize(
    "change",
    [
        pytest.param(
            lambda a: a.update({"Номер": a["НазначениеПлатежа"], "НазначениеПлатежа": a["Номер"]}),
            id="values-swapped-in-place",
        ),
        pytest.param(
            lambda a: a.update({"Номер": a.pop("НазначениеПлатежа"), "НазначениеПлатежа": a.pop("Номер")}),
            id="values-swapped-and-moved",
        ),
    ],
)
def test_values_moved_between_keys_keep_their_text(change):
    plain = tarvik_py.parse(GOOD).documents[0]
    swapped = tarvik_py.parse(GOOD, [only(tarvik_py.SectionType.Document, lambda t, a, h: change(a))])
    document = swapped.documents[0]
    assert (document.doc_number, document.purpose) == (plain.purpose, plain.doc_number)


def test_deleting_every_key_is_left_to_the_builders():
    def hook(kind, attrs, header):
        attrs.clear()

    statement = tarvik_py.parse(GOOD, [only(tarvik_py.SectionType.Document, hook)])
    assert statement.documents == []
    assert statement.warnings == [(DOCUMENT_END, "missing field `Номер`")]
    detail = pytest.raises(
        tarvik_py.SyntaxError, tarvik_py.parse, GOOD, [only(tarvik_py.SectionType.Account, hook)]
    ).value.detail
    assert type(detail) is tarvik_py.AccountParseError
    assert (detail.lineno, detail.message) == (ACCOUNT_END, "missing field `ДатаНачала`")


def test_added_document_type_attribute_does_not_change_doc_type():
    def hook(kind, attrs, header):
        attrs["СекцияДокумент"] = "Другое"

    statement = tarvik_py.parse(GOOD, [only(tarvik_py.SectionType.Document, hook)])
    assert statement.documents[0].doc_type == "Платежное поручение"


def test_header_writes_are_lost():
    seen = []

    def writer(kind, attrs, header):
        header["Отправитель"] = "подмена"
        header.clear()

    statement = tarvik_py.parse(GOOD, [writer, lambda t, a, h: seen.append(dict(h))])
    assert seen == [HEADER_DICT, HEADER_DICT]
    assert statement.header == HEADER_DICT


def test_each_call_gets_a_new_header_dict():
    seen = []

    def hook(kind, attrs, header):
        seen.append((dict(header), header))
        header["Отправитель"] = "подмена"
        header.clear()

    tarvik_py.parse(GOOD, [hook])
    assert len(seen) == 2
    assert [copy for copy, _ in seen] == [HEADER_DICT, HEADER_DICT]
    assert seen[0][1] is not seen[1][1]


def test_return_value_is_ignored():
    assert tarvik_py.parse(GOOD, [lambda *a: True]).documents == tarvik_py.parse(GOOD).documents


class Outer:
    class Boom(Exception):
        pass


class BadStr(Exception):
    def __str__(self):
        raise RuntimeError("no text")


class SurrogateStr(Exception):
    def __str__(self):
        return "a\udc80b"


def raising(exc):
    def hook(kind, attrs, header):
        raise exc

    return hook


@pytest.mark.parametrize(
    "hook, message",
    [
        pytest.param(raising(ValueError("bad")), "ValueError: bad", id="value-error"),
        pytest.param(raising(ValueError), "ValueError: ", id="no-arguments"),
        pytest.param(raising(KeyError("Сумма")), "KeyError: 'Сумма'", id="key-error-str"),
        pytest.param(raising(KeyboardInterrupt()), "KeyboardInterrupt: ", id="keyboard-interrupt"),
        pytest.param(raising(SystemExit(3)), "SystemExit: 3", id="system-exit"),
        pytest.param(raising(MemoryError("hook's own")), "MemoryError: hook's own", id="memory-error"),
        pytest.param(raising(Outer.Boom("x")), "Outer.Boom: x", id="qualified-name"),
        pytest.param(raising(BadStr()), "BadStr: <exception str() failed>", id="str-fails"),
        pytest.param(raising(SurrogateStr()), "SurrogateStr: a\ufffd\ufffd\ufffdb", id="surrogate"),
        pytest.param(1, "TypeError: 'int' object is not callable", id="not-callable"),
        pytest.param(
            [].append, "TypeError: list.append() takes exactly one argument (3 given)", id="wrong-arity"
        ),
        pytest.param(
            lambda t, a, h: a.update({"Сумма": 1500}),
            "TypeError: 'int' object cannot be converted to 'PyString'",
            id="int-value",
        ),
        pytest.param(
            lambda t, a, h: a.update({7: "x"}),
            "TypeError: 'int' object cannot be converted to 'PyString'",
            id="int-key",
        ),
        pytest.param(
            lambda t, a, h: a.update({"k": Outer()}),
            "TypeError: 'Outer' object cannot be converted to 'PyString'",
            id="object-value",
        ),
        pytest.param(
            lambda t, a, h: a.update({"k": None}),
            "TypeError: 'NoneType' object cannot be converted to 'PyString'",
            id="none-value",
        ),
        pytest.param(
            lambda t, a, h: a.update({"k": "\udc80"}),
            "UnicodeEncodeError: 'utf-8' codec can't encode character '\\udc80' in position 0: "
            "surrogates not allowed",
            id="surrogate-value",
        ),
    ],
)
def test_hook_failure_text(hook, message):
    detail = hook_error([hook])
    assert detail.lineno == ACCOUNT_END
    assert detail.message == message


def test_str_subclass_values_are_accepted():
    class Text(str):
        pass

    def hook(kind, attrs, header):
        attrs[Text("Номер")] = Text("42")

    statement = tarvik_py.parse(GOOD, [only(tarvik_py.SectionType.Document, hook)])
    assert statement.documents[0].doc_number == "42"


def test_failing_hook_stops_the_later_ones():
    called = []
    detail = hook_error(
        [
            only(tarvik_py.SectionType.Document, raising(ValueError("bad"))),
            lambda t, a, h: called.append(t),
        ]
    )
    assert detail.lineno == DOCUMENT_END
    assert called == [tarvik_py.SectionType.Account]


def test_failed_write_back_in_document_section():
    detail = hook_error([only(tarvik_py.SectionType.Document, lambda t, a, h: a.update({"Сумма": 1.5}))])
    assert detail.lineno == DOCUMENT_END
    assert detail.message == "TypeError: 'float' object cannot be converted to 'PyString'"


def test_hook_error_is_not_chained():
    with pytest.raises(tarvik_py.SyntaxError) as info:
        tarvik_py.parse(GOOD, [raising(ValueError("bad"))])
    assert info.value.__cause__ is None
    assert info.value.__context__ is None


def test_hook_kept_references_stay_valid():
    kept = []

    def hook(kind, attrs, header):
        kept.append((kind, attrs, header))
        attrs["later"] = "x"

    tarvik_py.parse(GOOD, [hook])
    (account_kind, account_attrs, header), (document_kind, document_attrs, _) = kept
    assert account_kind == tarvik_py.SectionType.Account
    assert account_attrs["later"] == "x"
    assert document_attrs["Номер"] == DOCUMENT["Номер"]
    assert header == HEADER_DICT
    account_attrs["after the parse"] = "still a dict"


def test_hooks_are_taken_when_the_call_starts():
    hooks = []
    calls = []

    def hook(kind, attrs, header):
        calls.append(kind)
        hooks.append(hook)

    hooks.append(hook)
    tarvik_py.parse(GOOD, hooks)
    assert len(calls) == 2


def test_bound_methods_and_callable_objects():
    class Recorder:
        def __init__(self):
            self.kinds = []

        def method(self, kind, attrs, header):
            self.kinds.append(int(kind))

        def __call__(self, kind, attrs, header):
            self.kinds.append(-int(kind))

    recorder = Recorder()
    tarvik_py.parse(GOOD, [recorder.method, recorder])
    assert recorder.kinds == [1, -1, 0, 0]


def test_parse_inside_a_hook():
    inner = []

    def hook(kind, attrs, header):
        inner.append(tarvik_py.parse(GOOD).documents[0].doc_number)

    tarvik_py.parse(GOOD, [hook])
    assert inner == [DOCUMENT["Номер"]] * 2
