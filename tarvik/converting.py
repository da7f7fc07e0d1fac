"""`convert`: the records of many statements as one CSV, JSON lines or Parquet output.

    tarvik.convert(["statements/"], "documents.csv", delimiter=";", decimal_comma=True)
    tarvik.convert(["statements/"], "ledger.parquet", partition_by=["year", "month"])

One row per document (per interval with `intervals=True`): the `file` it came from, the `line`
its section opens on, then the columns of `to_arrow`'s table of the same name. Every format
holds the same rows, in the same columns and order: file after file as the paths name them,
record after record as `tarvik_py` lists them. CSV and JSON lines hold each value's text as the
record has it (dates `YYYY-MM-DD`, amounts plain decimals); Parquet holds them typed, as
`tarvik.many` types them. The text comes from `tarvik.read`, the typed columns from
`tarvik.to_arrow`, which builds them in C++ with no record in between: one reader, read once.

A file that does not read, a row the output's encoding cannot hold and a path that names no
statement are findings, and the others go on; an option that cannot be followed, or nothing to
convert, is a `ConvertError` before anything is written.
"""

from __future__ import annotations

import functools
import os
from collections.abc import Callable, Iterable, Iterator, Sequence
from dataclasses import dataclass
from typing import Any, Final

from . import _console, _extras, _output, _paths, _workers, many
from ._dataset import write_partitioned
from ._faults import FILE_FAULTS
from ._fields import Kind
from ._findings import Finding, failure, notices, unread_paths
from ._output import ConvertError
from ._paths import Paths
from ._tables import FILE, RECORD_TABLES
from ._values import check_scale
from .reading import read
from .records import Row, document_rows, interval_rows

__all__ = ["PERIOD_COLUMNS", "Conversion", "ConvertError", "Paths", "convert"]

# What `partition_by` takes besides a table's own columns: the year and month of its date (the
# document's, or the interval's start). pyarrow.compute has a function of each name.
PERIOD_COLUMNS: Final = ("year", "month")


@dataclass(frozen=True)
class Conversion:
    """What `convert` did."""

    rows: int  # written
    files: int  # statements read, or tried
    findings: list[Finding]  # every one reported, in the order it was


def convert(
    paths: Paths,
    output: str,
    *,
    format: str | None = None,
    intervals: bool = False,
    delimiter: str | None = None,
    encoding: str | None = None,
    decimal_comma: bool = False,
    escape_formulas: bool = True,
    partition_by: Sequence[str] = (),
    scale: int | None = None,
    jobs: int = 1,
    repairs: bool = True,
    on_finding: Callable[[Finding], None] | None = None,
    on_skipped: Callable[[list[str]], None] | None = None,
    progress: bool = False,
) -> Conversion:
    """Writes the records of the statements `paths` name to `output` (`-`: standard output).

    The arguments are the options of `tarvik convert`: `paths` are files, folders (read
    recursively; in them only files that begin like a statement) and glob patterns, or one; `format`
    is "csv", "jsonl" or "parquet" (default: from the output's suffix); `delimiter`,
    `encoding`, `decimal_comma` and `escape_formulas` shape CSV, `partition_by` and `scale`
    Parquet (see `tarvik.many` on the scale). `jobs` worker processes read the files; above 1,
    a script that calls this must guard its own code with `if __name__ == "__main__":`, as the
    workers import it.

    Each finding goes to `on_finding` as soon as it is made, and the files of folders that do
    not begin like a statement to `on_skipped`, before any is read; `progress` shows a bar on a
    terminal. Raises ConvertError (a ValueError) where nothing is written for the options,
    ImportError for Parquet without pyarrow, OSError where the output cannot be written, and
    BrokenPipeError where the reader of standard output has gone.
    """
    plan = _output.plan(
        output,
        kind=format,
        encoding=encoding,
        delimiter=delimiter,
        decimal_comma=decimal_comma,
        escape_formulas=escape_formulas,
        partitioned=bool(partition_by),
        scale=scale,
    )
    if scale is not None:
        check_scale(scale)
    findings: list[Finding] = []

    def report(found: Iterable[Finding]) -> None:
        for f in found:
            findings.append(f)
            if on_finding is not None:
                on_finding(f)

    # A rerun into a folder it reads must not take its own last output for a statement.
    found = _paths.expand(_paths.patterns(paths), exclude=plan.path)
    if found.skipped and on_skipped is not None:
        on_skipped(found.skipped)
    report(unread_paths(found.unmatched, found.no_statement))
    if not found.files:
        raise ConvertError("no statement to convert, nothing written")
    table = "intervals" if intervals else "documents"
    typed = plan.kind == "parquet"
    if typed:
        scale = many.DEFAULT_SCALE if scale is None else scale
        write_rows = _parquet_writer(plan.path, table, scale, partition_by)
    else:
        write_rows = functools.partial(_write_text, plan, table, report)

    def parts() -> Iterator[Any]:
        read_one = functools.partial(
            _rows, table=table, repairs=repairs, scale=scale if typed else None
        )
        for rows, found_in_file in _workers.in_workers(
            read_one, found.files, jobs, "convert", progress=progress
        ):
            report(found_in_file)
            yield rows
            if _console.closed():
                raise BrokenPipeError("the reader of standard output has gone")

    rows = write_rows(parts())
    if _console.closed():
        raise BrokenPipeError("the reader of standard output has gone")
    return Conversion(rows, len(found.files), findings)


def _rows(path: str, *, table: str, repairs: bool, scale: int | None) -> tuple[Any, list[Finding]]:
    """One file's rows of `table`, and what reading it found: the records' texts (`scale`
    None), or a pyarrow table typed at `scale`."""
    if scale is None:
        try:
            reading = read(path, repairs=repairs)
        except FILE_FAULTS as exc:
            return [], [failure(path, exc)]
        rows = list(interval_rows(reading) if table == "intervals" else document_rows(reading))
        changes = [(c.lineno, c.repair, c.message) for c in reading.changes]
        return rows, notices(path, changes, reading.statement.warnings, reading.warning_sections())
    tables = many.read_file(path, repairs=repairs, scale=scale)
    found = [Finding(path, f["line"], "error", f["message"]) for f in tables.failures.to_pylist()]
    changes = _columns_of(tables.changes, "line", "repair", "message")
    warnings = _columns_of(tables.warnings, "line", "message")
    sections = tables.warnings["section"].to_pylist()
    return getattr(tables, table), found + notices(path, changes, warnings, sections)


def _columns_of(table: Any, *names: str) -> list[Any]:
    """The rows of `table` as tuples of the columns `names`."""
    return list(zip(*(table[name].to_pylist() for name in names), strict=True))


# --- CSV and JSON lines -----------------------------------------------------------------------


def _write_text(
    plan: _output.Output,
    table: str,
    report: Callable[[Iterable[Finding]], None],
    parts: Iterable[list[Row]],
) -> int:
    """Writes the rows as CSV or JSON lines; how many. A row the encoding cannot hold is a
    finding, and none of it is written."""

    def unwritten(row: _output.Row, message: str) -> None:
        line = row["line"] if isinstance(row["line"], int) else None
        report([Finding(str(row["file"]), line, "error", message)])

    columns = (FILE.name, *(c.name for c in RECORD_TABLES[table]))
    return _output.write_text(plan, columns, parts, unwritten)


# --- Parquet ----------------------------------------------------------------------------------


def _parquet_writer(
    path: str, table: str, scale: int, partition_by: Sequence[str]
) -> Callable[[Iterable[Any]], int]:
    """What writes the typed rows to one Parquet file, or to a dataset folder partitioned by
    `partition_by`; ConvertError or ImportError where it cannot be."""
    pa = _extras.require("pyarrow", "Parquet")
    pc = _extras.require("pyarrow.compute", "Parquet")
    pq = _extras.require("pyarrow.parquet", "Parquet")
    schema = many.schema(table, scale)
    unknown = [c for c in partition_by if c not in schema.names and c not in PERIOD_COLUMNS]
    if unknown:
        known = ", ".join([*PERIOD_COLUMNS, *schema.names])
        raise ConvertError(f"cannot partition by {', '.join(unknown)}: choose from {known}")
    periods = [c for c in PERIOD_COLUMNS if c in partition_by]
    for period in periods:
        schema = schema.append(pa.field(period, pa.int32()))
    if partition_by and os.path.isdir(path) and os.listdir(path):
        raise ConvertError(
            f"{path} is a folder that holds files already: remove it or name another"
        )
    if not partition_by and os.path.isdir(path):
        raise ConvertError(f"{path} is a folder: name a file, or give --partition-by")
    date = next(c.name for c in RECORD_TABLES[table] if c.kind is Kind.DATE)

    def batches(parts: Iterable[Any], counted: list[int]) -> Iterator[Any]:
        for rows in parts:
            for period in periods:
                days = rows.column(date)
                rows = rows.append_column(period, getattr(pc, period)(days).cast(pa.int32()))
            counted[0] += rows.num_rows
            yield from rows.to_batches()

    def write(parts: Iterable[Any]) -> int:
        counted = [0]
        if partition_by:
            write_partitioned(batches(parts, counted), path, schema, partition_by)
        else:
            with pq.ParquetWriter(path, schema) as writer:
                for batch in batches(parts, counted):
                    writer.write_batch(batch)
        return counted[0]

    return write
