"""Many statements as one set of tables: each row names its file, and a file that fails is a row.

`to_arrow` types a statement's amounts by the largest scale in each column, so two files may
give `decimal128(38, 2)` and `decimal128(38, 3)`; tables of many files need one type that is
known before any file is read. Here an amount column is `decimal128(38, scale)`, `scale`
fraction digits for all (2 by default, kopecks): a file with an amount that has more
non-zero fraction digits fails with `ScaleError` rather than lose them. Every amount the
format reads (below 2**96, so at most 29 integer digits) fits at any scale it allows: past
scale 9 the type is `decimal256(76, scale)`. At scale 2, sums of ten million of the largest
amounts still fit.

    tables = tarvik.many.read_file("kl_to_1c.txt")
    tables.documents     # file, then the columns of to_arrow's documents
    tables.failures      # file, error, message, line: one row when the file does not read

`read_file` does not raise for what a file holds, and what it returns pickles, so it is the
unit of work for a process pool, Dask (`tarvik.dask`) or Spark. Needs pyarrow.
"""

from __future__ import annotations

import decimal
from collections.abc import Iterable, Sequence
from dataclasses import dataclass
from typing import Any, Final, Literal

from . import _extras, _paths, _sources
from ._faults import FILE_FAULTS, LinedFault, error_name, line_of, message_of
from ._fields import Kind
from ._tables import (
    CHANGE_TABLE,
    DOCUMENT_TABLE,
    FAILURE_TABLE,
    FILE,
    INTERVAL_TABLE,
    WARNING_TABLE,
)
from ._values import INTEGER_DIGITS, MAX_SCALE, check_scale
from .columns import to_arrow
from .reading import Source

__all__ = [
    "DEFAULT_SCALE",
    "MAX_SCALE",
    "TABLES",
    "FileTables",
    "ScaleError",
    "concat",
    "missing",
    "read_file",
    "schema",
    "statement_paths",
]

DEFAULT_SCALE: Final = 2

# Each table of a FileTables, by name, with its columns after `file`.
TABLES: Final = {
    "documents": DOCUMENT_TABLE,
    "intervals": INTERVAL_TABLE,
    "warnings": WARNING_TABLE,
    "changes": CHANGE_TABLE,
    "failures": FAILURE_TABLE,
}


class ScaleError(LinedFault):
    """An amount with more non-zero fraction digits than the tables' scale holds."""


@dataclass(frozen=True)
class FileTables:
    """The tables of one or many statement files, each a `pyarrow.Table` with `file` first.

    Typed Any: pyarrow ships no type hints.
    """

    documents: Any
    intervals: Any
    warnings: Any  # sections left out: file, line, message, section
    changes: Any  # what the repairs changed
    failures: Any  # files that did not read: file, error, message, line


def schema(table: str, scale: int = DEFAULT_SCALE) -> Any:
    """The `pyarrow.Schema` of one of `TABLES` at `scale`."""
    pa = _pyarrow()
    return pa.schema(
        [
            pa.field(c.name, _arrow_type(pa, c.kind, scale), nullable=c.nullable)
            for c in (FILE, *TABLES[table])
        ]
    )


def read_file(
    source: Source, *, name: str | None = None, repairs: bool = True, scale: int = DEFAULT_SCALE
) -> FileTables:
    """One statement's tables; a file that does not read is one row of `failures`.

    `source` is what `tarvik.to_arrow` takes; `name` fills the `file` column (default: the
    path). Raises only for what is no fault of the file (a bad `scale`, no pyarrow, memory).
    """
    check_scale(scale)
    pa = _pyarrow()
    label = _sources.label(source, name)
    try:
        columns = to_arrow(source, repairs=repairs)
        tables = {
            t: _conform(pa, t, getattr(columns, t), label, scale) for t in TABLES if t != "failures"
        }
    except (*FILE_FAULTS, ScaleError) as exc:
        return _failed(pa, label, exc, scale)
    return FileTables(**tables, failures=_empty(pa, "failures", scale))


def concat(parts: Iterable[FileTables], scale: int = DEFAULT_SCALE) -> FileTables:
    """The tables of many files as one, in the order given; for none, empty tables at `scale`.

    The parts must have been read at one scale.
    """
    pa = _pyarrow()
    parts = list(parts)
    if not parts:
        return FileTables(**{t: _empty(pa, t, scale) for t in TABLES})
    return FileTables(**{t: pa.concat_tables([getattr(p, t) for p in parts]) for t in TABLES})


def missing(patterns: Iterable[str], scale: int = DEFAULT_SCALE) -> FileTables:
    """Patterns that named no file, as rows of `failures`, so none is lost without a trace."""
    pa = _pyarrow()
    return concat(
        [_failed(pa, p, FileNotFoundError(_paths.NO_MATCH), scale) for p in patterns], scale
    )


def statement_paths(patterns: Sequence[str]) -> tuple[list[str], list[str]]:
    """Files named, files under folders (recursively, in name order) and glob matches, each file
    once, its path normalised; and the patterns that gave none."""
    found = _paths.expand(patterns, skip_others=False)
    return found.files, found.unmatched


def _failed(pa: Any, label: str, exc: BaseException, scale: int) -> FileTables:
    row = {
        "file": [label],
        "error": [error_name(exc)],
        "message": [message_of(exc)],
        "line": [line_of(exc)],
    }
    failures = pa.Table.from_pydict(row, schema=schema("failures", scale))
    return FileTables(
        **{t: _empty(pa, t, scale) for t in TABLES if t != "failures"}, failures=failures
    )


def _empty(pa: Any, table: str, scale: int) -> Any:
    return schema(table, scale).empty_table()


def _conform(pa: Any, table: str, given: Any, label: str, scale: int) -> Any:
    """`given` (a to_arrow table) with `file` first and amounts at `scale`, each value exact."""
    target = schema(table, scale)
    given = pa.table(given)
    arrays = [pa.array([label] * given.num_rows, pa.string())]
    for column in TABLES[table]:
        values = given.column(column.name)
        wanted = target.field(column.name).type
        try:
            arrays.append(values.cast(wanted))
        except pa.ArrowInvalid:
            if column.kind is not Kind.AMOUNT:
                raise
            raise _scale_error(given, column.name, scale) from None
    return pa.Table.from_arrays(arrays, schema=target)


def _scale_error(table: Any, column: str, scale: int) -> ScaleError:
    unit = decimal.Decimal(1).scaleb(-scale)
    with decimal.localcontext(prec=100):
        for row, value in enumerate(table.column(column).to_pylist()):
            if value is not None and value != value.quantize(unit, rounding=decimal.ROUND_DOWN):
                line = table.column("line")[row].as_py()
                where = (
                    f"account {table.column('account')[row].as_py()}: "
                    if "account" in table.column_names
                    else ""
                )
                return ScaleError(
                    f"{where}{column} {value} has more fraction digits than the scale, {scale}",
                    line,
                )
    return ScaleError(f"{column} does not fit decimal at scale {scale}", None)


def _arrow_type(pa: Any, kind: Kind | None | Literal["map"], scale: int) -> Any:
    if kind is None:
        return pa.int64()
    if kind == "map":
        key = pa.field("key", pa.dictionary(pa.int32(), pa.string()), nullable=False)
        return pa.map_(key, pa.field("value", pa.string(), nullable=False))
    if kind is Kind.TEXT:
        return pa.string()
    if kind is Kind.DATE:
        return pa.date32()
    if INTEGER_DIGITS + scale <= 38:
        return pa.decimal128(38, scale)
    return pa.decimal256(76, scale)


def _pyarrow() -> Any:
    return _extras.require("pyarrow", "tarvik.many")
