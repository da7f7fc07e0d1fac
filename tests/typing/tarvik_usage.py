"""Typed use of the tarvik package, checked with `mypy --strict` against the installed package.

Every `# type: ignore[code]` below marks a misuse that the annotations must reject.
"""

import datetime
import decimal
import pathlib
from typing import assert_type

import tarvik
import tarvik_py
from tarvik.ledger import Kind


def payee_upper(section_type: tarvik_py.SectionType, attrs: dict[str, str], _: dict[str, str]) -> None:
    if "Получатель" in attrs:
        attrs["Получатель"] = attrs["Получатель"].upper()


def read_all(path: pathlib.Path) -> list[tarvik_py.Document]:
    reading = tarvik.read(path, hooks=[payee_upper, tarvik.hooks.comma_amounts])
    assert_type(reading.statement, tarvik_py.Statement)
    for change in reading.changes:
        assert_type(change.lineno, int)
        assert_type(change.old, str | None)
    values = tarvik.as_dict(reading.statement.documents[0])
    when = values["doc_date"]
    if isinstance(when, datetime.date):
        print(when.year)
    tarvik.read(path.read_bytes(), repairs=False)
    tarvik.read(open(path, "rb"))
    tarvik.read(42)  # type: ignore[arg-type]
    return reading.statement.documents


def write_orders(documents: list[tarvik_py.Document]) -> bytes:
    order: dict[str, object] = {
        "doc_number": "1",
        "doc_date": datetime.date(2024, 3, 4),
        "amount": decimal.Decimal("10.00"),
        "extra": {"Получатель1": "ООО Ромашка"},
    }
    data = tarvik.write([*documents, order], encoding="utf-8", direction="to_bank")
    tarvik.write(documents, encoding="koi8-r")  # type: ignore[arg-type]
    tarvik.write(documents, direction="from_bank")  # type: ignore[arg-type]
    try:
        tarvik.write([order])
    except tarvik.WriteError as exc:
        assert_type(exc.field, str | None)
    return data


def findings(path: str) -> int:
    return sum(1 for f in tarvik.check(path) if f.severity in ("warning", "mismatch"))


def arrow_tables(path: pathlib.Path) -> int:
    columns = tarvik.to_arrow(path, repairs=False)
    assert_type(columns, tarvik.Columns)
    assert_type(columns.header, dict[str, str])
    assert_type(columns.name, str | None)
    table: tarvik.ArrowTable = columns.documents
    table.__arrow_c_stream__()
    columns.documents = columns.intervals  # type: ignore[misc]
    tarvik.to_arrow(path, hooks=[payee_upper])
    return len(columns.header)


def ledger(folder: pathlib.Path, data: bytes) -> int:
    book = tarvik.ledger([str(folder), data], repairs=False)
    assert_type(book, tarvik.Ledger)
    for finding in book.findings:
        assert_type(finding.line, int | None)
        assert_type(finding.kind, Kind)
        print(str(finding))
    tarvik.ledger(42)  # type: ignore[arg-type]
    return len(book.findings)


def show_and_convert(path: str) -> int:
    summary = tarvik.show(path, repairs=False)
    assert_type(summary.problems, bool)
    print(summary)
    done = tarvik.convert([path], "out.parquet", partition_by=["year"], scale=3, jobs=2)
    assert_type(done, tarvik.Conversion)
    tarvik.convert([path], "out.csv", on_finding=lambda f: print(f.lineno))
    tarvik.convert(pathlib.Path(path), "out.jsonl", intervals=True)
    tarvik.convert([path], "out.csv", intervals="yes")  # type: ignore[arg-type]
    return done.rows


def report(folder: pathlib.Path) -> int:
    page = tarvik.report([str(folder)], title="Март")
    assert_type(page, str)
    again = tarvik.reporting.render(tarvik.ledger(str(folder)))
    assert_type(tarvik.reporting.format_amount(decimal.Decimal("1.5")), str)
    tarvik.report([str(folder)], title=5)  # type: ignore[arg-type]
    return len(page) + len(again)
