"""tarvik.to_arrow: the tables hold what tarvik_py's records hold, typed."""

from __future__ import annotations

import datetime
import decimal
import pathlib

import pytest

import tarvik
from tarvik.columns import epoch_days

pa = pytest.importorskip("pyarrow")

SAMPLE = pathlib.Path(__file__).resolve().parent.parent / "examples" / "statement_cp1251.txt"


def test_sample_tables_hold_the_records() -> None:
    columns = tarvik.to_arrow(SAMPLE)
    reading = tarvik.read(SAMPLE)
    assert columns.header == reading.statement.header
    assert columns.encoding == "cp1251" and columns.name == str(SAMPLE)
    documents = columns.documents
    assert documents.column_names == ["line", *tarvik.records.DOCUMENT_COLUMNS]
    assert documents.column("line").to_pylist() == reading.document_lines()
    first = reading.statement.documents[0]
    row = documents.slice(0, 1).to_pylist()[0]
    assert row["amount"] == decimal.Decimal(first.amount)
    assert row["doc_date"] == datetime.date.fromisoformat(first.doc_date)
    assert row["payee"] == first.payee
    assert columns.changes.to_pylist() == [
        {"line": c.lineno, "repair": c.repair, "key": c.key, "old": c.old, "new": c.new, "message": c.message}
        for c in reading.changes
    ]


@pytest.mark.parametrize(
    ("text", "days"),
    [
        ("1970-01-01", 0),
        ("2024-03-01", (datetime.date(2024, 3, 1) - datetime.date(1970, 1, 1)).days),
        ("0001-01-01", (datetime.date(1, 1, 1) - datetime.date(1970, 1, 1)).days),
        ("9999-12-31", (datetime.date(9999, 12, 31) - datetime.date(1970, 1, 1)).days),
        ("+10000-01-01", (datetime.date(9999, 12, 31) - datetime.date(1970, 1, 1)).days + 1),
        ("0000-12-31", (datetime.date(1, 1, 1) - datetime.date(1970, 1, 1)).days - 1),
        ("0000-02-29", (datetime.date(1, 1, 1) - datetime.date(1970, 1, 1)).days - 307),
    ],
)
def test_epoch_days(text: str, days: int) -> None:
    assert epoch_days(text) == days


def test_capsule_consumers_take_the_tables() -> None:
    columns = tarvik.to_arrow(SAMPLE)
    polars = pytest.importorskip("polars")
    frame = polars.DataFrame(columns.documents)
    assert frame.height == columns.documents.num_rows
