"""tarvik.convert and tarvik.show, the library functions behind the commands of the same names."""

import csv
import datetime
import decimal
import json
import subprocess
import sys
from pathlib import Path

import pytest

import tarvik
from tarvik.converting import ConvertError
from tarvik.records import DOCUMENT_COLUMNS, INTERVAL_COLUMNS

ROOT = Path(__file__).resolve().parent.parent
SAMPLE = ROOT / "examples" / "statement_cp1251.txt"
CORPUS = ROOT.parent / "shared" / "corpus" / "real"
STATEMENTS = [*sorted(CORPUS.glob("*.txt")), SAMPLE]
FORMATS = ("csv", "jsonl", "parquet")

# Every case compares the three formats; Parquet is the arrow extra's, which a bare install lacks.
pq = pytest.importorskip("pyarrow.parquet")


def converted(path, out, *, intervals):
    # Scale 28 holds every amount the reader takes, so no file fails for Parquet alone.
    options = {"scale": 28} if out.suffix == ".parquet" else {}
    if out.suffix == ".csv":
        options["escape_formulas"] = False
    return tarvik.convert([str(path)], str(out), intervals=intervals, **options)


def value(cell):
    """A cell of any of the formats as one plain value: amounts by value, dates as text, no
    difference between an empty text and none."""
    if isinstance(cell, decimal.Decimal):
        return cell.normalize()
    if isinstance(cell, datetime.date):
        return cell.isoformat()
    if cell in ("", None):
        return None
    return cell


def rows_of(out, columns):
    if out.suffix == ".csv":
        with open(out, encoding="utf-8", newline="") as f:
            reader = csv.reader(f)
            assert tuple(next(reader)) == columns
            rows = [dict(zip(columns, row, strict=True)) for row in reader]
    elif out.suffix == ".jsonl":
        rows = [json.loads(line) for line in out.read_text(encoding="utf-8").splitlines()]
        assert all(tuple(row) == columns for row in rows)
    else:
        table = pq.read_table(out)
        assert tuple(table.column_names) == columns
        rows = table.to_pylist()
    amounts = {c for c in columns if c.endswith("amount") or c.startswith("total_")}
    out_rows = []
    for row in rows:
        cells = {c: value(row[c]) for c in columns}
        cells["line"] = int(cells["line"])
        if "extra" in cells:  # a JSON object in CSV, an object in JSON lines, a map in Parquet
            extra = row["extra"]
            cells["extra"] = json.loads(extra) if isinstance(extra, str) else dict(extra)
        for c in amounts:
            if cells[c] is not None:
                cells[c] = decimal.Decimal(cells[c]).normalize()
        out_rows.append(cells)
    return out_rows


@pytest.mark.parametrize("intervals", [False, True], ids=["documents", "intervals"])
@pytest.mark.parametrize("path", STATEMENTS, ids=lambda p: p.name)
def test_every_format_holds_the_same_rows_and_findings(tmp_path, path, intervals):
    columns = ("file", "line", *(INTERVAL_COLUMNS if intervals else DOCUMENT_COLUMNS))
    outputs = {kind: tmp_path / f"out.{kind}" for kind in FORMATS}
    done = {kind: converted(path, out, intervals=intervals) for kind, out in outputs.items()}
    rows = {kind: rows_of(out, columns) for kind, out in outputs.items()}
    assert rows["csv"] == rows["jsonl"] == rows["parquet"]
    assert done["csv"] == done["jsonl"] == done["parquet"]
    assert done["csv"].rows == len(rows["csv"]) and done["csv"].files == 1


def test_worker_processes_give_what_one_process_gives(tmp_path):
    paths = [str(p) for p in STATEMENTS]
    one = tarvik.convert(paths, str(tmp_path / "one.jsonl"), jobs=1)
    two = tarvik.convert(paths, str(tmp_path / "two.jsonl"), jobs=2)
    assert one == two
    assert (tmp_path / "one.jsonl").read_bytes() == (tmp_path / "two.jsonl").read_bytes()


def test_findings_arrive_as_they_are_made_and_folders_tell_what_they_skip(tmp_path):
    (tmp_path / "in").mkdir()
    (tmp_path / "in" / "a.txt").write_bytes(SAMPLE.read_bytes())
    (tmp_path / "in" / "notes.md").write_text("# notes\n", encoding="utf-8")
    found, skipped = [], []
    done = tarvik.convert(
        [str(tmp_path / "in"), str(tmp_path / "none")],
        str(tmp_path / "out.csv"),
        on_finding=found.append,
        on_skipped=skipped.append,
    )
    assert skipped == [[str(tmp_path / "in" / "notes.md")]]
    assert found == done.findings
    assert [(f.severity, f.message) for f in found] == [
        ("error", "no such file, folder or match"),
        ("repair", "Сумма '15000,00' read as 15000.00"),
    ]


@pytest.mark.parametrize(
    "paths, output, options, message",
    [
        ([], "out.xlsx", {}, "cannot tell the format of .*out.xlsx"),
        ([SAMPLE], "out.csv", {"partition_by": ["year"]}, "--partition-by applies to Parquet"),
        (["nosuch"], "out.csv", {}, "no statement to convert, nothing written"),
        ([SAMPLE], "out.parquet", {"partition_by": ["nosuch"]}, "cannot partition by nosuch"),
    ],
    ids=["format", "option of another format", "no statement", "partition column"],
)
def test_nothing_is_written_where_convert_refuses(tmp_path, paths, output, options, message):
    with pytest.raises(ConvertError, match=message):
        tarvik.convert([str(p) for p in paths], str(tmp_path / output), **options)
    assert list(tmp_path.iterdir()) == []


def test_the_command_prints_what_show_gives():
    summary = tarvik.show(SAMPLE)
    run = subprocess.run(
        [sys.executable, "-m", "tarvik", "show", str(SAMPLE)],
        capture_output=True, text=True, encoding="utf-8", timeout=60,
    )
    assert run.stdout == f"{summary}\n"
    assert summary.problems is False and summary.reading.statement.documents
