import pytest

import tarvik_py
from samples import (
    MARKER,
    account_section,
    cp1251,
    document_section,
    line_of,
    statement_lines,
    text,
    utf8,
)

GOOD_LINES = statement_lines(account_section(), document_section())
GOOD = utf8(GOOD_LINES)

AFTER_END = [*statement_lines(document_section()), "  КонецФайла"]
NO_NUMBER = statement_lines(account_section({"РасчСчет": None}))
BAD_START = statement_lines(account_section({"ДатаНачала": "2024-03-01"}))
NO_START = statement_lines(account_section({"ДатаНачала": None}))
BETWEEN = [MARKER, *account_section(), "Ключ = значение", "КонецФайла"]


def _raiser(exc):
    def hook(section_type, attrs, header):
        raise exc

    return hook


class Outer:
    class Inner:
        pass


def _hook_sequence_failing_with(exc):
    class Hooks:
        def __len__(self):
            return 1

        def __getitem__(self, i):
            raise exc

    return Hooks()


# Each row: what the call is, the exception class and message it must end with, and for a
# syntax failure the detail class with its fields.
FAILURES = [
    # Binding, worded as the interpreter words it for def parse(statement, hooks=None).
    (
        "no-arguments",
        lambda: tarvik_py.parse(),
        TypeError,
        "parse() missing 1 required positional argument: 'statement'",
        None,
    ),
    (
        "hooks-keyword-only",
        lambda: tarvik_py.parse(hooks=None),
        TypeError,
        "parse() missing 1 required positional argument: 'statement'",
        None,
    ),
    (
        "three-positional",
        lambda: tarvik_py.parse(GOOD, None, None),
        TypeError,
        "parse() takes from 1 to 2 positional arguments but 3 were given",
        None,
    ),
    (
        "unknown-keyword",
        lambda: tarvik_py.parse(GOOD, hook=[]),
        TypeError,
        "parse() got an unexpected keyword argument 'hook'",
        None,
    ),
    (
        "unknown-keyword-cyrillic",
        lambda: tarvik_py.parse(GOOD, **{"выписка": 1}),
        TypeError,
        "parse() got an unexpected keyword argument 'выписка'",
        None,
    ),
    (
        "statement-twice",
        lambda: tarvik_py.parse(GOOD, statement=GOOD),
        TypeError,
        "parse() got multiple values for argument 'statement'",
        None,
    ),
    (
        "hooks-twice",
        lambda: tarvik_py.parse(GOOD, [], hooks=[]),
        TypeError,
        "parse() got multiple values for argument 'hooks'",
        None,
    ),
    # hooks is converted before statement is looked at.
    (
        "hooks-str",
        lambda: tarvik_py.parse(GOOD, "hook"),
        TypeError,
        "argument 'hooks': Can't extract `str` to `Vec`",
        None,
    ),
    (
        "hooks-str-before-bad-statement",
        lambda: tarvik_py.parse(42, hooks=""),
        TypeError,
        "argument 'hooks': Can't extract `str` to `Vec`",
        None,
    ),
    (
        "hooks-int",
        lambda: tarvik_py.parse(GOOD, 1),
        TypeError,
        "argument 'hooks': 'int' object cannot be converted to 'Sequence'",
        None,
    ),
    (
        "hooks-generator",
        lambda: tarvik_py.parse(GOOD, (h for h in [])),
        TypeError,
        "argument 'hooks': 'generator' object cannot be converted to 'Sequence'",
        None,
    ),
    (
        "hooks-set",
        lambda: tarvik_py.parse(GOOD, {print}),
        TypeError,
        "argument 'hooks': 'set' object cannot be converted to 'Sequence'",
        None,
    ),
    (
        "hooks-dict",
        lambda: tarvik_py.parse(GOOD, {}),
        TypeError,
        "argument 'hooks': 'dict' object cannot be converted to 'Sequence'",
        None,
    ),
    (
        "hooks-nested-class",
        lambda: tarvik_py.parse(GOOD, Outer.Inner()),
        TypeError,
        "argument 'hooks': 'Outer.Inner' object cannot be converted to 'Sequence'",
        None,
    ),
    (
        "hooks-iteration-typeerror",
        lambda: tarvik_py.parse(GOOD, _hook_sequence_failing_with(TypeError("no hooks today"))),
        TypeError,
        "argument 'hooks': no hooks today",
        None,
    ),
    (
        "hooks-iteration-valueerror",
        lambda: tarvik_py.parse(GOOD, _hook_sequence_failing_with(ValueError("as raised"))),
        ValueError,
        "as raised",
        None,
    ),
    ("statement-int", lambda: tarvik_py.parse(42), TypeError, "statement must be bytes or str", None),
    ("statement-none", lambda: tarvik_py.parse(None), TypeError, "statement must be bytes or str", None),
    (
        "statement-bytearray",
        lambda: tarvik_py.parse(bytearray(GOOD)),
        TypeError,
        "statement must be bytes or str",
        None,
    ),
    (
        "statement-memoryview",
        lambda: tarvik_py.parse(memoryview(GOOD)),
        TypeError,
        "statement must be bytes or str",
        None,
    ),
    (
        "statement-lone-surrogate",
        lambda: tarvik_py.parse(MARKER + "\n\udc80\n"),
        TypeError,
        "statement must be bytes or str",
        None,
    ),
    # Failures of the statement itself.
    (
        "empty-bytes",
        lambda: tarvik_py.parse(b""),
        tarvik_py.NotStatementError,
        "Input is not a 1C statement",
        None,
    ),
    (
        "empty-str",
        lambda: tarvik_py.parse(""),
        tarvik_py.NotStatementError,
        "Input is not a 1C statement",
        None,
    ),
    (
        "not-a-statement",
        lambda: tarvik_py.parse(b"wrong format"),
        tarvik_py.NotStatementError,
        "Input is not a 1C statement",
        None,
    ),
    (
        "byte-order-mark-utf8",
        lambda: tarvik_py.parse(b"\xef\xbb\xbf" + GOOD),
        tarvik_py.NotStatementError,
        "Input is not a 1C statement",
        None,
    ),
    (
        "marker-only",
        lambda: tarvik_py.parse(MARKER),
        tarvik_py.UnfinishedError,
        "Statement is not finished",
        None,
    ),
    (
        "no-end-of-file",
        lambda: tarvik_py.parse(text([MARKER, *account_section()])),
        tarvik_py.UnfinishedError,
        "Statement is not finished",
        None,
    ),
    (
        "unrecognized-line",
        lambda: tarvik_py.parse(text([MARKER, "ВерсияФормата=1.03", 'it\'s "odd"'])),
        tarvik_py.SyntaxError,
        "Unrecognized line: 'it's \"odd\"'",
        (tarvik_py.UnrecognizedLine, {"lineno": 3, "line": 'it\'s "odd"'}),
    ),
    (
        "unrecognized-after-end",
        lambda: tarvik_py.parse(text(AFTER_END)),
        tarvik_py.SyntaxError,
        "Unrecognized line: '  КонецФайла'",
        (tarvik_py.UnrecognizedLine, {"lineno": len(AFTER_END), "line": "  КонецФайла"}),
    ),
    (
        "end-in-header",
        lambda: tarvik_py.parse(text([MARKER, "A=1", "КонецФайла"])),
        tarvik_py.SyntaxError,
        "Unexpected section 'КонецФайла' in context 'header'",
        (tarvik_py.UnexpectedSection, {"lineno": 3, "found": "КонецФайла", "context": "header"}),
    ),
    (
        "document-end-in-account",
        lambda: tarvik_py.parse(text([MARKER, "СекцияРасчСчет", "КонецДокумента"])),
        tarvik_py.SyntaxError,
        "Unexpected section 'КонецДокумента' in context 'account'",
        (tarvik_py.UnexpectedSection, {"lineno": 3, "found": "КонецДокумента", "context": "account"}),
    ),
    (
        "attribute-between-sections",
        lambda: tarvik_py.parse(text(BETWEEN)),
        tarvik_py.SyntaxError,
        "Unexpected attribute 'Ключ ' = ' значение'",
        (
            tarvik_py.UnexpectedAttribute,
            {"lineno": line_of(BETWEEN, "Ключ = значение"), "key": "Ключ ", "value": " значение"},
        ),
    ),
    (
        "account-without-number",
        lambda: tarvik_py.parse(utf8(NO_NUMBER)),
        tarvik_py.SyntaxError,
        "Missing field 'РасчСчет' in context 'account'",
        (
            tarvik_py.MissingField,
            {"lineno": line_of(NO_NUMBER, "КонецРасчСчет"), "field": "РасчСчет", "context": "account"},
        ),
    ),
    (
        "account-bad-date",
        lambda: tarvik_py.parse(utf8(BAD_START)),
        tarvik_py.SyntaxError,
        "Account parse error: input contains invalid characters",
        (
            tarvik_py.AccountParseError,
            {"lineno": line_of(BAD_START, "КонецРасчСчет"), "message": "input contains invalid characters"},
        ),
    ),
    (
        "account-without-start",
        lambda: tarvik_py.parse(cp1251(NO_START)),
        tarvik_py.SyntaxError,
        "Account parse error: missing field `ДатаНачала`",
        (
            tarvik_py.AccountParseError,
            {"lineno": line_of(NO_START, "КонецРасчСчет"), "message": "missing field `ДатаНачала`"},
        ),
    ),
    # The account section closes first, so that is where a hook fails.
    (
        "hook-raises",
        lambda: tarvik_py.parse(GOOD, [_raiser(ValueError("bad"))]),
        tarvik_py.SyntaxError,
        "Hook error: ValueError: bad",
        (tarvik_py.HookError, {"lineno": line_of(GOOD_LINES, "КонецРасчСчет"), "message": "ValueError: bad"}),
    ),
    (
        "hook-not-callable",
        lambda: tarvik_py.parse(GOOD, [1]),
        tarvik_py.SyntaxError,
        "Hook error: TypeError: 'int' object is not callable",
        (
            tarvik_py.HookError,
            {
                "lineno": line_of(GOOD_LINES, "КонецРасчСчет"),
                "message": "TypeError: 'int' object is not callable",
            },
        ),
    ),
]


@pytest.mark.parametrize(
    "call, exc_class, message, detail", [row[1:] for row in FAILURES], ids=[row[0] for row in FAILURES]
)
def test_failure(call, exc_class, message, detail):
    with pytest.raises(BaseException) as info:
        call()
    error = info.value
    assert type(error) is exc_class
    assert error.args == (message,)
    if detail is None:
        assert not hasattr(error, "detail")
        return
    detail_class, fields = detail
    assert type(error.detail) is detail_class
    assert {name: getattr(error.detail, name) for name in fields} == fields
    assert vars(error) == {"detail": error.detail}


def test_hooks_error_keeps_the_cause_of_the_replaced_error():
    inner = KeyError("root")
    replaced = TypeError("no hooks today")
    replaced.__cause__ = inner
    with pytest.raises(TypeError) as info:
        tarvik_py.parse(GOOD, _hook_sequence_failing_with(replaced))
    assert info.value is not replaced
    assert info.value.__cause__ is inner


def test_hooks_error_of_a_typeerror_subclass_is_not_rewritten():
    class Special(TypeError):
        pass

    special = Special("as raised")
    with pytest.raises(Special) as info:
        tarvik_py.parse(GOOD, _hook_sequence_failing_with(special))
    assert info.value is special


def test_failing_length_of_hooks_is_only_a_missing_hint():
    calls = []

    class Hooks:
        def __len__(self):
            raise RuntimeError("no length")

        def __getitem__(self, i):
            if i > 0:
                raise IndexError(i)
            return lambda *args: calls.append(args[0])

    statement = tarvik_py.parse(GOOD, Hooks())
    assert len(calls) == 2
    assert len(statement.documents) == 1


def test_a_fantastic_length_of_hooks_is_harmless():
    class Hooks(list):
        def __len__(self):
            return 2**62

    assert tarvik_py.parse(GOOD, Hooks([lambda *a: None])).documents


@pytest.mark.parametrize(
    "hooks",
    [None, [], (), [lambda *a: None], (lambda *a: None,)],
    ids=["none", "list", "tuple", "one", "tuple-one"],
)
def test_accepted_hooks(hooks):
    plain = tarvik_py.parse(GOOD)
    statement = tarvik_py.parse(GOOD, hooks)
    assert statement.documents == plain.documents
    assert statement.accounts == plain.accounts
    assert statement.header == plain.header


def test_statement_by_keyword():
    assert tarvik_py.parse(hooks=None, statement=GOOD).documents


@pytest.mark.parametrize(
    "make, encoding",
    [
        (lambda lines: utf8(lines), "utf-8"),
        (lambda lines: cp1251(lines), "cp1251"),
        (lambda lines: text(lines), "utf-8"),
        (lambda lines: type("Text", (str,), {})(text(lines)), "utf-8"),
        (lambda lines: type("Raw", (bytes,), {})(cp1251(lines)), "cp1251"),
    ],
    ids=["utf8-bytes", "cp1251-bytes", "str", "str-subclass", "bytes-subclass"],
)
def test_input_kinds(make, encoding):
    lines = statement_lines(account_section(), document_section())
    statement = tarvik_py.parse(make(lines))
    assert statement.encoding == encoding
    assert statement.header["Отправитель"] == "Бухгалтерия"
    assert statement.documents[0].counterparty_bank1 == "ПАО Сбербанк"


def test_result_content():
    lines = statement_lines(
        account_section(),
        document_section({"ВидОплаты": "01"}),
        document_section({"ПлательщикБИК": None, "Номер": "18"}),
        document_section({"Сумма": "полторы тысячи"}),
        header=["Б=2", "А=1", "Б=3"],
    )
    statement = tarvik_py.parse(cp1251(lines))
    assert statement.encoding == "cp1251"
    assert list(statement.header.items()) == [("Б", "3"), ("А", "1")]
    assert list(statement.accounts) == ["40702810000000000001"]
    assert len(statement.documents) == 1
    assert statement.documents[0].payment_type == "01"
    assert statement.warnings == [
        (line_of(lines, "КонецДокумента", 2), "missing field `ПлательщикБИК`"),
        (
            line_of(lines, "КонецДокумента", 3),
            'invalid value: string "полторы тысячи", expected a Decimal type representing a '
            "fixed-point number",
        ),
    ]
    assert all(type(lineno) is int and type(message) is str for lineno, message in statement.warnings)


def test_parse_never_raises_empty_input_error():
    for empty in (b"", "", b"\xff\xfe"):
        with pytest.raises(tarvik_py.ParseError) as info:
            tarvik_py.parse(empty)
        assert type(info.value) is tarvik_py.NotStatementError


def test_syntax_error_is_caught_by_parse_error():
    with pytest.raises(tarvik_py.ParseError):
        tarvik_py.parse(text([MARKER, "КонецФайла"]))
