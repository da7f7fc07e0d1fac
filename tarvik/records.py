"""Records as plain values: typed dictionaries for code, rows of text for files.

`as_dict` gives dates as `datetime.date` and amounts as `decimal.Decimal`, the glue every caller
of `tarvik_py` otherwise writes; `document_rows` and `interval_rows` give the text of each value
with the file and the line it came from, for CSV and JSON lines, in the columns of `to_arrow`'s
tables.
"""

from __future__ import annotations

import datetime
import decimal
from collections.abc import Iterator
from typing import Final

import tarvik_py

from ._fields import DOCUMENT_FIELDS, INTERVAL_FIELDS, Kind
from ._tables import DOCUMENT_TABLE, EXTRA, INTERVAL_TABLE
from ._values import to_date, to_decimal
from .reading import Reading

__all__ = [
    "DOCUMENT_COLUMNS",
    "INTERVAL_COLUMNS",
    "Row",
    "Value",
    "as_dict",
    "document_rows",
    "interval_rows",
]

Value = str | datetime.date | decimal.Decimal | None
Row = dict[str, str | int | dict[str, str] | None]

# The columns of a row after `file` and `line`: the record's attributes, in its order; an
# interval's after the number of its account.
DOCUMENT_COLUMNS: Final = tuple(c.name for c in DOCUMENT_TABLE[1:])
_DOCUMENT_FIELD_COLUMNS: Final = tuple(c.name for c in DOCUMENT_TABLE[1:] if c is not EXTRA)
INTERVAL_COLUMNS: Final = tuple(c.name for c in INTERVAL_TABLE[1:])

_DOCUMENT_KINDS: Final = {f.attr: f.kind for f in DOCUMENT_FIELDS}
_INTERVAL_KINDS: Final = {f.attr: f.kind for f in INTERVAL_FIELDS}


def as_dict(record: tarvik_py.Document | tarvik_py.Interval) -> dict[str, Value]:
    """The fields of a record by attribute name, dates as `date` and amounts as `Decimal`.

    ValueError for a date whose year `datetime.date` cannot hold (outside 1 to 9999).
    """
    kinds = _DOCUMENT_KINDS if isinstance(record, tarvik_py.Document) else _INTERVAL_KINDS
    out: dict[str, Value] = {}
    for attr, kind in kinds.items():
        text = getattr(record, attr)
        if text is None or kind is Kind.TEXT:
            out[attr] = text
        elif kind is Kind.DATE:
            try:
                out[attr] = to_date(text)
            except ValueError:
                raise ValueError(f"{attr}: {text} has no datetime.date") from None
        else:
            out[attr] = to_decimal(text)
    return out


def document_rows(reading: Reading) -> Iterator[Row]:
    """One row per document: `file`, `line` (where its section opens), its fields as text, then
    `extra`, the keys its record has no field for."""
    lines = reading.document_lines()
    extras = reading.document_extras()
    for doc, line, extra in zip(reading.statement.documents, lines, extras, strict=True):
        row: Row = {"file": reading.name, "line": line}
        for attr in _DOCUMENT_FIELD_COLUMNS:
            row[attr] = getattr(doc, attr)
        row[EXTRA.name] = extra
        yield row


def interval_rows(reading: Reading) -> Iterator[Row]:
    """One row per interval: `file`, `line`, `account`, then the interval's fields as text."""
    lines = reading.interval_lines()
    for number, account in reading.statement.accounts.items():
        for interval, line in zip(account.intervals, lines[number], strict=True):
            row: Row = {"file": reading.name, "line": line, "account": number}
            for attr in INTERVAL_COLUMNS[1:]:
                row[attr] = getattr(interval, attr)
            yield row
