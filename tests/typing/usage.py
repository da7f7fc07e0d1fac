"""Typed use of tarvik_py, checked with `mypy --strict` against the installed stubs.

Every `# type: ignore[code]` below marks a misuse that the stubs must reject: with
warn_unused_ignores (part of --strict) a stub that grew too loose fails the check.
"""

import copy
import pickle
from decimal import Decimal
from typing import Literal, assert_type

import tarvik_py
from tarvik_py import SectionType


def fix_payee(section_type: SectionType, attrs: dict[str, str], header: dict[str, str]) -> None:
    if section_type == SectionType.Document and "Получатель" not in attrs:
        attrs["Получатель"] = attrs.get("Получатель1", header.get("Получатель", ""))


def returns_something(section_type: SectionType, attrs: dict[str, str], _: dict[str, str]) -> bool:
    return bool(attrs) and int(section_type) == 0


def wrong_arity(section_type: SectionType) -> None:
    pass


def read(data: bytes) -> tarvik_py.Statement:
    statement = tarvik_py.parse(data, [fix_payee, returns_something, lambda t, a, h: None])
    tarvik_py.parse(data, hooks=(fix_payee,))
    tarvik_py.parse(statement=data.decode("utf-8"), hooks=None)
    tarvik_py.parse(bytearray(data))  # type: ignore[arg-type]
    tarvik_py.parse(data, [wrong_arity])  # type: ignore[list-item]
    tarvik_py.parse(data, fix_payee)  # type: ignore[arg-type]
    return statement


def inspect_result(statement: tarvik_py.Statement) -> Decimal:
    assert_type(statement.encoding, Literal["cp1251", "utf-8"])
    assert_type(statement.header, dict[str, str])
    assert_type(statement.warnings, list[tuple[int, str]])
    total = Decimal(0)
    for number, account in statement.accounts.items():
        assert_type(number, str)
        assert_type(account.number, str)
        for interval in account.intervals:
            assert_type(interval.date_start, str)
            assert_type(interval.date_end, str | None)
            assert_type(interval.start_amount, str)
            assert_type(interval.end_amount, str | None)
            assert_type(interval.total_income, str | None)
            assert_type(interval.total_expense, str | None)
            Decimal(interval.end_amount)  # type: ignore[arg-type]
    for doc in statement.documents:
        assert_type(doc.amount, str)
        assert_type(doc.payee, str | None)
        assert_type(doc.income_date, str | None)
        assert_type(doc.counterparty_1, str | None)
        total += Decimal(doc.amount)
        doc.amount = "0"  # type: ignore[misc]
    statement.documents.append(statement.documents[0])
    return total


def handle(data: bytes) -> str:
    try:
        read(data)
    except tarvik_py.SyntaxError as exc:
        detail = exc.detail
        assert_type(detail.lineno, int)
        if isinstance(detail, tarvik_py.MissingField):
            return f"{detail.field} in {detail.context}"
        if isinstance(detail, tarvik_py.UnexpectedSection):
            return f"{detail.found} in {detail.context}"
        if isinstance(detail, tarvik_py.UnexpectedAttribute):
            return f"{detail.key}={detail.value}"
        if isinstance(detail, tarvik_py.UnrecognizedLine):
            return detail.line
        assert_type(detail, tarvik_py.AccountParseError | tarvik_py.HookError)
        return detail.message
    except (tarvik_py.NotStatementError, tarvik_py.UnfinishedError) as exc:
        return str(exc)
    except tarvik_py.ParseError as exc:
        return str(exc)
    return ""


def details() -> None:
    hook_error = tarvik_py.HookError(3, "boom")
    assert_type(hook_error.__getnewargs__(), tuple[int, str])
    assert_type(copy.copy(hook_error), tarvik_py.HookError)
    pickle.loads(pickle.dumps(hook_error))
    tarvik_py.MissingField(lineno=1, field="Номер", context="document")
    tarvik_py.UnexpectedSection(True, "КонецФайла", "header")
    tarvik_py.DocumentParseError(1, "x", "y")  # type: ignore[call-arg]
    tarvik_py.HookError("1", "boom")  # type: ignore[arg-type]
    tarvik_py.HookError(1, 2)  # type: ignore[arg-type]
    assert_type(int(SectionType.Account), int)


def exception_hierarchy() -> list[type[Exception]]:
    return [
        tarvik_py.ParseError,
        tarvik_py.NotStatementError,
        tarvik_py.EmptyInputError,
        tarvik_py.UnfinishedError,
        tarvik_py.SyntaxError,
    ]


assert_type(tarvik_py.__all__, list[str])
