"""tarvik.many: one amount type for the tables of many files, exact or refused; failures as rows."""

from __future__ import annotations

import decimal
import pathlib
import pickle
import subprocess
import sys

import pytest

import tarvik
import tarvik.many

pa = pytest.importorskip("pyarrow")

SAMPLE = pathlib.Path(__file__).resolve().parent.parent / "examples" / "statement_cp1251.txt"
D = decimal.Decimal


def with_amount(text: str, *, where: str) -> bytes:
    """The sample with one document's amount, or one interval's opening balance, as `text`."""
    key = {"document": "Сумма=43200.00", "interval": "НачальныйОстаток=125000.00"}[where]
    data = SAMPLE.read_bytes()
    return data.replace(key.encode("cp1251"), f"{key.split('=')[0]}={text}".encode("cp1251"), 1)


@pytest.mark.parametrize(
    ("text", "where", "scale", "type_", "value"),
    [
        ("43200.00", "document", 2, pa.decimal128(38, 2), D("43200.00")),
        ("43200.5", "document", 2, pa.decimal128(38, 2), D("43200.50")),
        ("43200.500", "document", 2, pa.decimal128(38, 2), D("43200.50")),  # zeros lose nothing
        ("0.005", "document", 3, pa.decimal128(38, 3), D("0.005")),
        ("79228162514264337593543950335", "document", 9, pa.decimal128(38, 9), D(2**96 - 1)),
        ("7922816251426433759354395.0335", "document", 10, pa.decimal256(76, 10), D("7922816251426433759354395.0335")),
        ("0.0000000000000000000000000001", "interval", 28, pa.decimal256(76, 28), D("1E-28")),
    ],
    ids=["as written", "finer type", "trailing zeros", "scale 3", "largest at 9", "past 9: 256 bits", "finest"],
)
def test_amounts_take_the_scale_exactly(text, where, scale, type_, value):
    tables = tarvik.many.read_file(with_amount(text, where=where), scale=scale)
    assert tables.failures.num_rows == 0, tables.failures.to_pylist()
    table, column = (tables.documents, "amount") if where == "document" else (tables.intervals, "start_amount")
    assert table.schema.field(column).type == type_
    assert table.column(column)[0].as_py() == value


@pytest.mark.parametrize(
    ("text", "where", "scale", "line", "message"),
    [
        ("43200.001", "document", 2, 39, "amount 43200.001 has more fraction digits than the scale, 2"),
        ("0.5", "document", 0, 39, "amount 0.50 has more fraction digits than the scale, 0"),
        ("125000.125", "interval", 2, 12,
         "account 40702810900000012345: start_amount 125000.125 has more fraction digits than the scale, 2"),
    ],
    ids=["document", "scale 0", "interval"],
)
def test_a_finer_amount_fails_the_file_with_its_place(text, where, scale, line, message):
    tables = tarvik.many.read_file(with_amount(text, where=where), name="x.txt", scale=scale)
    assert tables.documents.num_rows == tables.intervals.num_rows == 0
    assert tables.failures.to_pylist() == [
        {"file": "x.txt", "error": "tarvik.many.ScaleError", "message": message, "line": line}
    ]


@pytest.mark.parametrize(
    ("make", "error", "line"),
    [
        (lambda tmp: tmp / "missing.txt", "FileNotFoundError", None),
        (lambda tmp: tmp, "IsADirectoryError", None),
        (lambda tmp: SAMPLE.read_bytes().replace("КонецРасчСчет".encode("cp1251"), b"", 1), "tarvik_py.SyntaxError", 21),
        (lambda tmp: b"", "tarvik_py.NotStatementError", None),
    ],
    ids=["no file", "a folder", "syntax", "empty"],
)
def test_a_file_that_does_not_read_is_one_failure_row(tmp_path, make, error, line):
    tables = tarvik.many.read_file(make(tmp_path), name="f")
    assert [(f["file"], f["error"], f["line"]) for f in tables.failures.to_pylist()] == [("f", error, line)]
    assert all(getattr(tables, t).schema == tarvik.many.schema(t) for t in tarvik.many.TABLES)


def test_tables_of_many_files_concatenate_and_pickle():
    parts = [tarvik.many.read_file(SAMPLE), tarvik.many.read_file(b"junk", name="junk")]
    tables = pickle.loads(pickle.dumps(tarvik.many.concat(parts)))
    assert tables.documents.num_rows == 5 and tables.failures.column("file").to_pylist() == ["junk"]
    assert set(tables.documents.column("file").to_pylist()) == {str(SAMPLE)}
    assert tarvik.many.concat([]).documents.schema == tarvik.many.schema("documents")
    assert tarvik.many.concat([], scale=3).documents.schema == tarvik.many.schema("documents", 3)
    fine = tarvik.many.concat([tarvik.many.read_file(SAMPLE, scale=4)] * 2)
    assert fine.documents.schema.field("amount").type == pa.decimal128(38, 4)
    with pytest.raises(ValueError, match="scale must be 0 to 28, not 29"):
        tarvik.many.read_file(SAMPLE, scale=29)


def test_importing_the_package_imports_neither_pyarrow_nor_dask():
    code = ("import sys, tarvik, tarvik.many, tarvik.dask, tarvik.cli; "
            "print(sorted(m for m in ('pyarrow', 'dask', 'pandas') if m in sys.modules))")
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert run.stdout == "[]\n"
