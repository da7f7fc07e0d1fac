"""The columns of every table tarvik gives, in order: those of `to_arrow` and `tarvik.many`, and
the rows that `convert` writes as CSV, JSON lines and Parquet alike.

A record's columns are its fields in the record's own order (`_fields`), after the line its
section opens on; an interval's have the account's number first.
"""

from __future__ import annotations

from collections.abc import Iterable
from dataclasses import dataclass
from typing import Final, Literal

from ._fields import ACCOUNT_NUMBER, DOCUMENT_FIELDS, INTERVAL_FIELDS, Field, Kind

__all__ = [
    "CHANGE_TABLE",
    "DOCUMENT_TABLE",
    "EXTRA",
    "FAILURE_TABLE",
    "FILE",
    "INTERVAL_TABLE",
    "RECORD_TABLES",
    "WARNING_TABLE",
    "Column",
]


@dataclass(frozen=True)
class Column:
    """One column of a table: its name, how its values read, and whether it may be null."""

    name: str
    # None: an integer (a line number); "map": text to text, the keys dictionary-encoded (the same
    # few dozen keys stand in every row)
    kind: Kind | None | Literal["map"]
    nullable: bool


def _fields(fields: Iterable[Field]) -> tuple[Column, ...]:
    return tuple(Column(f.attr, f.kind, not f.required) for f in fields)


LINE: Final = Column("line", None, False)
FILE: Final = Column("file", Kind.TEXT, False)  # the source, in tables of many files

# The keys of a section that its record has no field for, with their texts.
EXTRA: Final = Column("extra", "map", False)

DOCUMENT_TABLE: Final = (LINE, *_fields(DOCUMENT_FIELDS), EXTRA)
INTERVAL_TABLE: Final = (
    LINE,
    Column("account", ACCOUNT_NUMBER.kind, not ACCOUNT_NUMBER.required),
    *_fields(INTERVAL_FIELDS),
)
# What the reader left out, and of which kind of section: "document" or "account".
WARNING_TABLE: Final = (
    LINE,
    Column("message", Kind.TEXT, False),
    Column("section", Kind.TEXT, False),
)
CHANGE_TABLE: Final = (
    LINE,
    Column("repair", Kind.TEXT, False),
    Column("key", Kind.TEXT, False),
    Column("old", Kind.TEXT, True),
    Column("new", Kind.TEXT, False),
    Column("message", Kind.TEXT, False),
)
# A file that does not read, in tables of many files.
FAILURE_TABLE: Final = (
    Column("error", Kind.TEXT, False),  # the exception's class: tarvik_py.SyntaxError, OSError ...
    Column("message", Kind.TEXT, False),
    Column("line", None, True),  # where the reader stopped, where it says
)

# The tables of records, by name.
RECORD_TABLES: Final = {"documents": DOCUMENT_TABLE, "intervals": INTERVAL_TABLE}
