"""`ledger`: each own account's money in and out over many statements, reconciled.

    book = tarvik.ledger("archive/")        # files, folders, glob patterns or bytes
    book.entries                            # one row per document and own account it moves
    book.balances                           # each account's balances and turnover by day
    for finding in book.findings:           # what does not add up, and where
        print(finding)

A statement's own accounts are its account sections' and its header's `РасчСчет`. A document
gives an entry for each own account it moves: `in` where the payee's account is one, `out` where
the payer's is (a transfer between two own accounts gives both). A document several statements
hold is one entry; a file that holds it twice gives two. Within each statement, the entries
booked in each interval must add up to its totals; across statements, each account's intervals
in date order must follow on from one another and agree where they overlap, and days that no
statement covers are a gap.

The work is a map and a merge: `read_statement` reads one file into a part that pickles (for a
process pool, Dask or Spark), and `combine` joins the parts in order. `ledger` is both, in this
process.
"""

from __future__ import annotations

import datetime
import decimal
import os
from collections.abc import Iterable, Sequence
from dataclasses import dataclass
from typing import Final, Literal

from . import _columns, _paths
from ._findings import Severity
from ._ledger_merge import Balance, Settlement, by_day, reconcile_all
from ._ledger_parts import (
    EXACT,
    KINDS,
    SEVERITY,
    Cover,
    Entry,
    Finding,
    Interval,
    Kind,
    StatementPart,
    finding,
    read_statement,
)
from .columns import ArrowTable, _as_table
from .reading import Source

__all__ = [
    "BALANCE_COLUMNS",
    "ENTRY_COLUMNS",
    "KINDS",
    "NO_MATCH",
    "SEVERITY",
    "Finding",
    "Kind",
    "Ledger",
    "Severity",
    "Sources",
    "StatementPart",
    "combine",
    "ledger",
    "read_statement",
]

OneSource = str | os.PathLike[str] | bytes | bytearray | memoryview
Sources = OneSource | Iterable[OneSource]
ColumnType = Literal["int64", "string", "date32", "decimal", "bool"]

NO_MATCH: Final = "no such file, folder or match"

# The tables' columns: name, type and whether it may be null.
ENTRY_COLUMNS: Final[tuple[tuple[str, ColumnType, bool], ...]] = (
    ("account", "string", False),
    ("direction", "string", False),  # "in" or "out"
    ("booked", "date32", False),
    ("amount", "decimal", False),
    ("signed", "decimal", False),  # negative for out
    ("counterparty_name", "string", True),
    ("counterparty_inn", "string", False),
    ("counterparty_kpp", "string", True),
    ("counterparty_account", "string", False),
    ("counterparty_bank", "string", False),
    ("counterparty_bic", "string", False),
    ("purpose", "string", False),
    ("doc_type", "string", False),
    ("doc_number", "string", False),
    ("doc_date", "date32", False),
    ("file", "string", False),
    ("line", "int64", False),
)
BALANCE_COLUMNS: Final[tuple[tuple[str, ColumnType, bool], ...]] = (
    ("account", "string", False),
    ("day", "date32", False),
    ("opening", "decimal", False),
    ("income", "decimal", False),
    ("expense", "decimal", False),
    ("closing", "decimal", False),
    ("derived", "bool", False),  # from the entries, not an account section of that one day
)
assert tuple(c[0] for c in ENTRY_COLUMNS) == Entry._fields[: len(ENTRY_COLUMNS)]
assert tuple(c[0] for c in BALANCE_COLUMNS) == Balance._fields

_MIN_SCALE: Final = 2  # kopecks, however round the amounts
_EPOCH: Final = datetime.date(1970, 1, 1).toordinal()


@dataclass(frozen=True)
class Ledger:
    """What `ledger` gives. The tables are `pyarrow.Table`s where pyarrow is installed, and
    otherwise objects that hand their rows out through the Arrow PyCapsule interface."""

    entries: ArrowTable  # ENTRY_COLUMNS, by account, day booked, statement and line
    balances: ArrowTable  # BALANCE_COLUMNS, by account and day
    findings: list[Finding]  # by statement and line


def ledger(sources: Sources, *, repairs: bool = True) -> Ledger:
    """The ledger of the statements in `sources`: paths, folders (read recursively), glob
    patterns or the bytes of a statement, one or many. Files come in the order named, each
    once, then the bytes, labelled `<bytes>` (`<bytes N>` where there are several).

    `repairs` is as in `tarvik.read`. Never raises for what a file holds: a file that does not
    read is an "error" finding, and so is a path that names no file.
    """
    named, given = _sources(sources)
    found = _paths.expand(named, skip_others=False)
    labelled: list[tuple[Source, str]] = [(path, path) for path in found.files]
    if len(given) == 1:
        labelled.append((given[0], "<bytes>"))
    else:
        labelled += [(data, f"<bytes {n}>") for n, data in enumerate(given, 1)]
    parts = (
        read_statement(source, order=order, name=label, repairs=repairs)
        for order, (source, label) in enumerate(labelled)
    )
    return combine(parts, unmatched=found.unmatched)


def _sources(sources: Sources) -> tuple[list[str], list[bytes]]:
    if isinstance(sources, (str, os.PathLike, bytes, bytearray, memoryview)):
        sources = [sources]
    named: list[str] = []
    given: list[bytes] = []
    for source in sources:
        if isinstance(source, (bytes, bytearray, memoryview)):
            given.append(bytes(source))
        elif isinstance(source, (str, os.PathLike)):
            named.append(os.fsdecode(source))
        else:
            raise TypeError(f"a source is a path, a pattern or bytes, not {type(source).__name__}")
    return named, given


def combine(parts: Iterable[StatementPart], *, unmatched: Iterable[str] = ()) -> Ledger:
    """The ledger of the statements whose parts `read_statement` gave, in their order (as
    `Executor.map` gives them); `unmatched` are paths that named no file, each an "error"
    finding. Each part is let go once taken in: what is held grows with the documents, not with
    the copies of them, nor with the bytes read."""
    settlement = Settlement()
    intervals: list[Interval] = []
    covers: list[Cover] = []
    found: list[Finding] = []
    orders: dict[str, int] = {}
    last = -1
    with decimal.localcontext(EXACT):
        for part in parts:
            if part.order <= last:
                raise ValueError(f"the parts must come in their order: {part.order} after {last}")
            last = orders[part.file] = part.order
            settlement.add(part.entries)
            intervals += part.intervals
            covers += part.covers
            found += part.findings
        entries = settlement.entries()
        balances, more = reconcile_all(intervals, covers, by_day(entries))
    return assemble(entries, balances, found + settlement.findings + more, orders, unmatched)


def assemble(
    entries: list[Entry],
    balances: list[Balance],
    found: Iterable[Finding],
    orders: dict[str, int],
    unmatched: Iterable[str] = (),
) -> Ledger:
    """The ledger of what the merge gave, in any order: its rows in theirs, as tables.
    `orders` gives each statement's place, by its file."""
    entries.sort(key=lambda e: (e.account, e.booked, e.order, e.line, e.direction))
    balances.sort(key=lambda b: (b.account, b.day))
    findings = sorted_findings(found, orders) + [
        finding(p, None, "error", NO_MATCH) for p in unmatched
    ]
    return Ledger(table(ENTRY_COLUMNS, entries), table(BALANCE_COLUMNS, balances), findings)


_RANK: Final = {kind: rank for rank, kind in enumerate(KINDS)}
# A statement's own findings, made in one order wherever it is read.
_OWN: Final = frozenset(KINDS[: KINDS.index("turnover") + 1])


def sorted_findings(found: Iterable[Finding], orders: dict[str, int]) -> list[Finding]:
    """By statement, line and kind; a statement's own in the order it made them, the merge's by
    their text, so that any split of the work gives one order."""
    return sorted(
        found,
        key=lambda f: (
            orders.get(f.file, len(orders)),
            f.line or 0,
            _RANK[f.kind],
            "" if f.kind in _OWN else f.message,
        ),
    )


def table(
    columns: Sequence[tuple[str, ColumnType, bool]], rows: Sequence[Sequence[object]]
) -> ArrowTable:
    """The rows as an Arrow table of `columns`: dates as date32, amounts as decimal128 at the
    largest scale among them (two at least), or decimal256 where one needs more than 38 digits."""
    spec = []
    for index, (name, kind, nullable) in enumerate(columns):
        values: list[object] = [row[index] for row in rows]
        scale = 0
        if kind == "date32":
            values = [None if v is None else v.toordinal() - _EPOCH for v in values]  # type: ignore[attr-defined]
        elif kind == "decimal":
            scale, values = _unscaled(values)  # type: ignore[arg-type]
        spec.append((name, kind, nullable, scale, values))
    return _as_table(_columns.build_table(spec))


def _unscaled(values: Sequence[decimal.Decimal | None]) -> tuple[int, list[object]]:
    exponents = [v.as_tuple().exponent for v in values if v is not None]
    scale = max([_MIN_SCALE, *(-e for e in exponents if isinstance(e, int))])
    unit = decimal.Decimal(1).scaleb(scale)
    with decimal.localcontext(EXACT):
        return scale, [None if v is None else int(v * unit) for v in values]
