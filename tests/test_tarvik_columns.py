"""tarvik.to_arrow: the tables hold what tarvik_py's records hold, typed."""

from __future__ import annotations

import concurrent.futures
import datetime
import decimal
import pathlib

import pytest

import tarvik
from samples import MARKER, account_section, document_section
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


def statement_bytes(*sections: list[str]) -> bytes:
    lines = [MARKER, "ВерсияФормата=1.03"]
    for section in sections:
        lines.extend(section)
    lines.append("КонецФайла")
    return ("\r\n".join(lines) + "\r\n").encode("utf-8")


WIDEST = "79228162514264337593543950335"  # 2**96 - 1, the largest magnitude an amount holds


@pytest.mark.parametrize(
    ("amounts", "decimal_type"),
    [
        (["1500.00", "7"], pa.decimal128(38, 2)),
        (["0.0000000001", WIDEST[:28]], pa.decimal128(38, 10)),  # 28 + 10 digits still fit
        (["0.0000000001", WIDEST], pa.decimal256(76, 10)),  # 29 + 10 do not
        ([WIDEST[:19] + "." + WIDEST[19:], "-" + WIDEST], pa.decimal256(76, 10)),
        (["-0.0000000000000000000000000001", "1"], pa.decimal128(38, 28)),
    ],
)
def test_amount_columns_take_the_largest_scale_and_widen_past_38_digits(amounts, decimal_type):
    data = statement_bytes(*(document_section({"Сумма": a}) for a in amounts))
    table = tarvik.to_arrow(data).documents
    assert table.schema.field("amount").type == decimal_type
    assert table.column("amount").to_pylist() == [decimal.Decimal(a) for a in amounts]


def test_interval_columns_are_typed_each_on_its_own():
    data = statement_bytes(
        account_section({"НачальныйОстаток": "-" + WIDEST, "ВсегоСписано": None, "ДатаКонца": None}),
        account_section({"ДатаНачала": "01.02.2024", "НачальныйОстаток": "0.0000000001"}),
    )
    intervals = tarvik.to_arrow(data).intervals
    schema = intervals.schema
    assert schema.field("start_amount").type == pa.decimal256(76, 10)
    assert schema.field("total_expense").type == pa.decimal128(38, 2)
    assert not schema.field("account").nullable and not schema.field("date_start").nullable
    assert schema.field("date_end").nullable
    # Intervals stand by their start date, as the records do.
    rows = {r["start_amount"]: r for r in intervals.to_pylist()}
    assert set(rows) == {decimal.Decimal("-" + WIDEST), decimal.Decimal("0.0000000001")}
    assert rows[decimal.Decimal("-" + WIDEST)]["total_expense"] is None
    assert rows[decimal.Decimal("-" + WIDEST)]["date_end"] is None
    assert rows[decimal.Decimal("0.0000000001")]["date_end"] is not None


def without_pyarrow(monkeypatch: pytest.MonkeyPatch) -> None:
    monkeypatch.setattr(tarvik.columns, "_optional_pyarrow", lambda: None)


def test_without_pyarrow_the_tables_are_arrow_streams(monkeypatch):
    with_pyarrow = tarvik.to_arrow(SAMPLE)
    without_pyarrow(monkeypatch)
    columns = tarvik.to_arrow(SAMPLE)
    for name in ("documents", "intervals", "warnings", "changes"):
        table = getattr(columns, name)
        assert type(table).__name__ == "Table" and type(table).__module__ == "tarvik._columns"
        assert len(table) == getattr(with_pyarrow, name).num_rows
        # Read twice: each stream shares the same buffers and leaves the table whole.
        for _ in range(2):
            assert pa.table(table).equals(getattr(with_pyarrow, name))
        assert pa.schema(table).equals(getattr(with_pyarrow, name).schema)


@pytest.mark.parametrize("consumer", ["polars", "duckdb", "pandas"])
def test_capsule_consumers_take_the_streams(monkeypatch, consumer):
    module = pytest.importorskip(consumer)
    want = tarvik.to_arrow(SAMPLE).documents
    without_pyarrow(monkeypatch)
    documents = tarvik.to_arrow(SAMPLE).documents
    if consumer == "polars":
        frame = module.DataFrame(documents)
        assert frame.height == want.num_rows
        assert frame["amount"].to_list() == want.column("amount").to_pylist()
    elif consumer == "duckdb":
        rows = module.sql("select line, amount, doc_date from documents order by line").fetchall()
        assert rows == [(r["line"], r["amount"], r["doc_date"]) for r in
                        want.select(["line", "amount", "doc_date"]).to_pylist()]
    else:
        frame = pa.table(documents).to_pandas()
        assert list(frame.columns) == want.column_names
        assert frame["payee"].tolist() == want.column("payee").to_pylist()


def test_threads_read_at_once_as_one_reads_alone():
    data = [statement_bytes(*(document_section({"Номер": str(n), "Сумма": f"{n} 000,50"})
                              for n in range(k, k + 200))) for k in (1, 1000, 5000, 9000)]
    alone = [tarvik.to_arrow(d) for d in data]
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        together = list(pool.map(tarvik.to_arrow, data * 3))
    for got, want in zip(together, alone * 3):
        assert got.documents.equals(want.documents) and got.changes.equals(want.changes)


def test_hooks_take_the_way_of_read():
    def shout(section_type, attrs, header):
        if "Получатель" in attrs:
            attrs["Получатель"] = attrs["Получатель"].upper()

    columns = tarvik.to_arrow(SAMPLE, hooks=[shout])
    assert columns.documents.column("payee").to_pylist() == [
        d.payee for d in tarvik.read(SAMPLE, hooks=[shout]).statement.documents]
    assert all(p is None or p == p.upper() for p in columns.documents.column("payee").to_pylist())
