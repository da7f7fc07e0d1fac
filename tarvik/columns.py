"""`to_arrow`: a statement as Apache Arrow tables, for pyarrow, polars, pandas and DuckDB.

    columns = tarvik.to_arrow("kl_to_1c.txt")
    columns.documents          # one row per document: its line, the record's 26 fields, extra
    columns.intervals          # one row per interval, the account number first
    columns.warnings, columns.changes

Dates are `date32`, amounts `decimal128(38, s)` with `s` the largest scale in the column
(`decimal256(76, s)` where some value needs more than 38 digits at that scale), texts UTF-8
strings; a column is null exactly where the `tarvik_py` record holds None. Each table is a
`pyarrow.Table` when pyarrow is installed, and otherwise an object that hands its rows out
through the Arrow PyCapsule interface (`__arrow_c_stream__`), which polars and DuckDB take as
they stand.
"""

from __future__ import annotations

import decimal
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any, Literal, Protocol, cast

from . import _columns, _extras
from ._encodings import ReadEncoding
from ._fields import Kind
from ._sources import Source, load
from ._tables import CHANGE_TABLE, DOCUMENT_TABLE, EXTRA, INTERVAL_TABLE, WARNING_TABLE, Column
from ._values import epoch_days, scale_of, unscaled
from .reading import Hook, Reading, read_loaded

__all__ = ["ArrowTable", "Column", "Columns", "to_arrow"]


class ArrowTable(Protocol):
    """A table that hands its rows out through the Arrow PyCapsule interface."""

    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object: ...


@dataclass(frozen=True)
class Columns:
    """What `to_arrow` gives: the statement as tables, and how its bytes were read."""

    header: dict[str, str]
    header_lines: tuple[tuple[str, str], ...]  # (key, value) as read, in order, repeats kept
    encoding: ReadEncoding  # as `Reading.encoding`
    byte_order_mark: bool  # a UTF-8 byte-order mark was dropped
    name: str | None  # the path read, where the source was one
    documents: ArrowTable  # line, the fields of tarvik_py.Document in its order, then extra
    intervals: ArrowTable  # line, account, then the fields of tarvik_py.Interval in its order
    warnings: ArrowTable  # line, message, section: sections left out, what hooks warned of
    changes: ArrowTable  # line, repair, key, old, new, message: as `Reading.changes`


def to_arrow(source: Source, *, hooks: Sequence[Hook] = (), repairs: bool = True) -> Columns:
    """A statement from a path, bytes or a binary file, as Arrow tables.

    `source`, `hooks` and `repairs` are as in `tarvik.read`, and so are the exceptions: what
    `tarvik_py.parse` raises, with a note naming the file.

    Without `hooks`, the statement is read and the tables built in C++, the repairs included,
    with the interpreter lock released, so threads read statements in parallel. Hooks are
    Python callables, so with them the statement is read as `tarvik.read` reads it and the
    tables are built from its records (which needs pyarrow).
    """
    loaded = load(source)
    native = None if hooks else _columns.read(loaded.text, repairs)
    if native is None:
        # A statement that does not read raises here exactly as `read` raises; hooks are Python
        # callables, so with them the tables are built from the records.
        return from_reading(read_loaded(loaded, hooks, repairs))
    return Columns(
        header=native.header,
        header_lines=tuple(native.header_lines),
        encoding=loaded.encoding(native.encoding),
        byte_order_mark=loaded.byte_order_mark,
        name=loaded.name,
        documents=_as_table(native.documents),
        intervals=_as_table(native.intervals),
        warnings=_as_table(native.warnings),
        changes=_as_table(native.changes),
    )


def _as_table(table: _columns.Table) -> ArrowTable:
    """A pyarrow.Table over the same buffers where pyarrow is installed, else the table itself."""
    pa = _optional_pyarrow()
    if pa is None:
        return table
    return cast(ArrowTable, pa.RecordBatchReader.from_stream(table).read_all())


def _optional_pyarrow() -> Any:
    """pyarrow where it is installed, else None: the native tables are then handed out as they
    are, as Arrow C streams."""
    return _extras.optional("pyarrow")


def from_reading(reading: Reading) -> Columns:
    """The tables of a `Reading`, built value by value from its records (needs pyarrow)."""
    pa = _extras.require("pyarrow", "building tables from a Reading")
    statement = reading.statement
    documents: dict[str, list[Any]] = {"line": reading.document_lines()}
    for column in DOCUMENT_TABLE[1:]:
        if column is not EXTRA:
            documents[column.name] = [getattr(doc, column.name) for doc in statement.documents]
    documents[EXTRA.name] = list(reading.document_extras())
    intervals: dict[str, list[Any]] = {c.name: [] for c in INTERVAL_TABLE}
    interval_lines = reading.interval_lines()
    for number, account in statement.accounts.items():
        for interval, line in zip(account.intervals, interval_lines[number], strict=True):
            intervals["line"].append(line)
            intervals["account"].append(number)
            for column in INTERVAL_TABLE[2:]:
                intervals[column.name].append(getattr(interval, column.name))
    warnings: dict[str, list[Any]] = {
        "line": [line for line, _ in statement.warnings],
        "message": [message for _, message in statement.warnings],
        "section": reading.warning_sections(),
    }
    changes: dict[str, list[Any]] = {
        "line": [c.lineno for c in reading.changes],
        "repair": [c.repair for c in reading.changes],
        "key": [c.key for c in reading.changes],
        "old": [c.old for c in reading.changes],
        "new": [c.new for c in reading.changes],
        "message": [c.message for c in reading.changes],
    }
    return Columns(
        header=dict(statement.header),
        header_lines=tuple(reading.header_lines()),
        encoding=reading.encoding,
        byte_order_mark=reading.byte_order_mark,
        name=reading.name,
        documents=_table(pa, DOCUMENT_TABLE, documents),
        intervals=_table(pa, INTERVAL_TABLE, intervals),
        warnings=_table(pa, WARNING_TABLE, warnings),
        changes=_table(pa, CHANGE_TABLE, changes),
    )


def _table(pa: Any, columns: Sequence[Column], values: dict[str, list[Any]]) -> Any:
    arrays = []
    fields = []
    for column in columns:
        array = _array(pa, column.kind, values[column.name])
        arrays.append(array)
        fields.append(pa.field(column.name, array.type, nullable=column.nullable))
    return pa.Table.from_arrays(arrays, schema=pa.schema(fields))


def _array(pa: Any, kind: Kind | None | Literal["map"], texts: list[Any]) -> Any:
    if kind is None:
        return pa.array(texts, pa.int64())
    if kind == "map":
        key = pa.field("key", pa.dictionary(pa.int32(), pa.string()), nullable=False)
        value = pa.field("value", pa.string(), nullable=False)
        offsets = [0]
        for m in texts:
            offsets.append(offsets[-1] + len(m))
        keys = pa.array([k for m in texts for k in m], pa.string()).dictionary_encode()
        values = pa.array([v for m in texts for v in m.values()], pa.string())
        return pa.MapArray.from_arrays(
            pa.array(offsets, pa.int32()), keys, values, type=pa.map_(key, value)
        )
    if kind is Kind.TEXT:
        return pa.array(texts, pa.string())
    if kind is Kind.DATE:
        days = [None if t is None else epoch_days(t) for t in texts]
        return pa.array(days, pa.int32()).view(pa.date32())
    scale, wide = decimal_shape(texts)
    decimal_type = pa.decimal256(76, scale) if wide else pa.decimal128(38, scale)
    # From unscaled integers through exact text, so that no context can round a value.
    values = [
        None if t is None else decimal.Decimal(f"{unscaled(t, scale)}E-{scale}") for t in texts
    ]
    return pa.array(values, decimal_type)


def decimal_shape(texts: Sequence[str | None]) -> tuple[int, bool]:
    """The column's scale (the largest among its values) and whether it needs 256 bits."""
    present = [t for t in texts if t is not None]
    scale = max((scale_of(t) for t in present), default=0)
    wide = any(abs(unscaled(t, scale)) >= 10**38 for t in present)
    return scale, wide
