"""`ledger`: each own account's money in and out over many statements, reconciled.

    book = tarvik.ledger("archive/")        # files, folders, glob patterns or bytes
    book.entries                            # one row per document and own account it moves
    book.balances                           # each account's balances and turnover by day
    for finding in book.findings:           # what does not add up, and where
        print(finding)
    book.write("entries.parquet")           # or CSV, JSON lines; balances=True for the balances

A statement's own accounts are its account sections' and its header's `РасчСчет`. A document
gives an entry for each own account it moves: `in` where the payee's account is one, `out` where
the payer's is (a transfer between two own accounts gives both). A document several statements
hold is one entry; a file that holds it twice gives two. Within each statement, the entries
booked in each interval must add up to its totals; across statements, each account's intervals
in date order must follow on from one another and agree where they overlap, and days that no
statement covers are a gap.

The work is a map and a merge: `read_statement` reads one file into a part that pickles (for a
process pool, Dask or Spark), and `combine` joins the parts in order. `ledger` is both, the map
in `jobs` worker processes where asked.
"""

from __future__ import annotations

import functools
import itertools
import os
from collections.abc import Callable, Iterable, Iterator, Sequence
from typing import Any, Final, Literal

from . import _columns, _console, _extras, _output, _paths, _workers
from ._findings import Severity, unread_paths
from ._ledger_merge import BOOK_COLUMNS, Balance, Book, Merge
from ._ledger_parts import (
    KINDS,
    SEVERITY,
    Finding,
    Kind,
    Parts,
    StatementPart,
    amount_text,
    date_of,
    finding,
    read_statement,
)
from ._output import ConvertError
from .columns import ArrowTable, _as_table

__all__ = [
    "BALANCE_COLUMNS",
    "ENTRY_COLUMNS",
    "KINDS",
    "NO_MATCH",
    "SEVERITY",
    "ConvertError",
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
assert tuple(c[0] for c in BALANCE_COLUMNS) == Balance._fields
assert {c[0] for c in ENTRY_COLUMNS} - {"signed"} <= set(BOOK_COLUMNS)


class _Table:
    """A table's columns as Python values (days as day numbers, amounts as units of `scale`),
    made into an Arrow table when first asked for."""

    def __init__(
        self,
        columns: Sequence[tuple[str, ColumnType, bool]],
        values: Sequence[Sequence[Any]],
        scale: int,
        order: Sequence[int] | None = None,
    ) -> None:
        self.columns = columns
        self.values = values
        self.scale = scale
        self.order = order  # the rows of `values` in the table's order, where not theirs
        self._arrow: ArrowTable | None = None

    def __len__(self) -> int:
        return len(self.values[0]) if self.order is None else len(self.order)

    def arrow(self) -> ArrowTable:
        if self._arrow is None:
            given = [
                (name, kind, nullable, self.scale if kind == "decimal" else 0, values)
                for (name, kind, nullable), values in zip(self.columns, self.values, strict=True)
            ]
            self._arrow = _as_table(_columns.build_table(given, self.order))
        return self._arrow

    def rows(self) -> Iterator[dict[str, str | int | None]]:
        """Each row as text: dates YYYY-MM-DD, amounts plain decimals; line numbers and yes or
        no as they are."""
        names = [name for name, _, _ in self.columns]
        shown: list[Iterable[object]] = []
        for (_, kind, _), values in zip(self.columns, self.values, strict=True):
            if self.order is not None:
                values = list(map(values.__getitem__, self.order))
            if kind == "date32":
                shown.append(map(_iso_day, values))
            elif kind == "decimal":
                shown.append(map(amount_text, values, itertools.repeat(self.scale)))
            else:
                shown.append(values)
        for row in zip(*shown, strict=True):
            yield dict(zip(names, row, strict=True))


@functools.lru_cache(maxsize=4096)
def _iso_day(day: object) -> str:
    return date_of(day).isoformat()  # type: ignore[arg-type]


class Ledger:
    """What `ledger` gives. The tables are `pyarrow.Table`s where pyarrow is installed, and
    otherwise objects that hand their rows out through the Arrow PyCapsule interface; each is
    made when first asked for."""

    def __init__(
        self, entries: _Table, balances: _Table, findings: list[Finding], files: int = 0
    ) -> None:
        self._entries = entries
        self._balances = balances
        self.findings = findings  # by statement and line
        self.files = files  # statements read, or tried
        self.written: int | None = None  # rows written, where `ledger` was given an output

    @property
    def entries(self) -> ArrowTable:
        """ENTRY_COLUMNS, by account, day booked, statement and line."""
        return self._entries.arrow()

    @property
    def balances(self) -> ArrowTable:
        """BALANCE_COLUMNS, by account and day."""
        return self._balances.arrow()

    def __repr__(self) -> str:
        return (
            f"<Ledger of {self.files} statements: {len(self._entries)} entries, "
            f"{len(self._balances)} balances, {len(self.findings)} findings>"
        )

    def write(
        self,
        output: str,
        *,
        balances: bool = False,
        format: str | None = None,
        delimiter: str | None = None,
        encoding: str | None = None,
        decimal_comma: bool = False,
        escape_formulas: bool = True,
    ) -> int:
        """Writes the entries, or with `balances` the balances, to `output` (`-`: standard
        output) as `ledger` does; returns how many rows. Raises ConvertError for an option that
        cannot be followed, before anything is written. A row that the encoding cannot hold is
        an "error" finding, added to `findings`, and not written."""
        return self._write(
            _plan(output, format, delimiter, encoding, decimal_comma, escape_formulas), balances
        )

    def _write(self, plan: _output.Output, balances: bool) -> int:
        table = self._balances if balances else self._entries
        if plan.kind == "parquet":
            pq = _extras.require("pyarrow.parquet", "Parquet")
            pq.write_table(table.arrow(), plan.path)
            return len(table)
        names = [name for name, _, _ in table.columns]
        amounts = frozenset(name for name, kind, _ in table.columns if kind == "decimal")

        def unwritten(row: _output.Row, message: str) -> None:
            if balances:
                place = f"{row['account']} {row['day']}"
                self.findings.append(finding(plan.path, None, "error", f"{place}: {message}"))
            else:
                line = row["line"] if isinstance(row["line"], int) else None
                self.findings.append(finding(str(row["file"]), line, "error", message))

        written = _output.write_text(plan, names, [table.rows()], unwritten, amounts=amounts)
        if plan.path == _output.STDOUT and _console.closed():
            raise BrokenPipeError("the reader of standard output has gone")
        return written


def _plan(
    output: str,
    format: str | None,
    delimiter: str | None,
    encoding: str | None,
    decimal_comma: bool,
    escape_formulas: bool,
) -> _output.Output:
    plan = _output.plan(
        output,
        kind=format,
        encoding=encoding,
        delimiter=delimiter,
        decimal_comma=decimal_comma,
        escape_formulas=escape_formulas,
    )
    if plan.kind == "parquet":
        _extras.require("pyarrow.parquet", "Parquet")
        _output.check_place(output)
    return plan


def ledger(
    sources: Sources,
    *,
    repairs: bool = True,
    jobs: int = 1,
    output: str | None = None,
    balances: bool = False,
    format: str | None = None,
    delimiter: str | None = None,
    encoding: str | None = None,
    decimal_comma: bool = False,
    escape_formulas: bool = True,
    on_skipped: Callable[[list[str]], None] | None = None,
    progress: bool = False,
) -> Ledger:
    """The ledger of the statements in `sources`: paths, folders (read recursively), glob
    patterns or the bytes of a statement, one or many. Files come in the order named, each
    once, then the bytes, labelled `<bytes>` (`<bytes N>` where there are several).

    `repairs` is as in `tarvik.read`. `jobs` worker processes read the files; above 1, a script
    that calls this must guard its own code with `if __name__ == "__main__":`, as the workers
    import it. With `on_skipped`, files of folders that do not begin like a statement are left
    out, as the command leaves them, and passed to it before any file is read; without it, each
    is read, and is an "error" finding. `progress` shows a bar on a terminal.

    With `output`, the entries (with `balances`, the balances) are written there too, as
    `Ledger.write` writes them, and `written` says how many rows; the options are checked first,
    and one that cannot be followed is a ConvertError before any file is read. Where no
    statement was read at all, nothing is written.

    Never raises for what a file holds: a file that does not read is an "error" finding, and so
    is a path that names no file and a folder that holds none.
    """
    plan = None
    if output is not None:
        plan = _plan(output, format, delimiter, encoding, decimal_comma, escape_formulas)
    named, given = _sources(sources)
    exclude = None if plan is None or plan.path == _output.STDOUT else plan.path
    found = _paths.expand(named, skip_others=on_skipped is not None, exclude=exclude)
    if found.skipped and on_skipped is not None:
        on_skipped(found.skipped)
    labels = ["<bytes>"] if len(given) == 1 else [f"<bytes {n}>" for n in range(1, len(given) + 1)]
    items = list(enumerate(found.files))
    read_path = functools.partial(_read_path, repairs=repairs)
    chunk = _workers.chunk_size(len(items), jobs)
    parts = itertools.chain(
        _workers.in_workers(
            read_path, items, jobs, "ledger", progress=progress, chunk=chunk, pack=Parts
        ),
        (
            read_statement(data, order=len(items) + n, name=label, repairs=repairs)
            for n, (data, label) in enumerate(zip(given, labels, strict=True))
        ),
    )
    unread = [
        finding(f.name, f.lineno, "error", f.message)
        for f in unread_paths(found.unmatched, found.no_statement)
    ]
    book = _combine(parts, unread)
    if plan is not None and book.files:
        book.written = book._write(plan, balances)
    return book


def _read_path(item: tuple[int, str], *, repairs: bool) -> StatementPart:
    order, path = item
    return read_statement(path, order=order, name=path, repairs=repairs)


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
    return _combine(parts, [finding(path, None, "error", NO_MATCH) for path in unmatched])


def _combine(parts: Iterable[StatementPart], unread: list[Finding]) -> Ledger:
    merge = Merge()
    for part in parts:
        merge.add(part)
    balances, found = merge.reconciled()
    book = assemble(
        [merge.settlement.book], balances, merge.findings + found, merge.orders, merge.scale
    )
    book.findings += unread
    return book


def assemble(
    books: Sequence[Book],
    balances: list[Balance],
    found: Iterable[Finding],
    orders: dict[str, int],
    scale: int,
) -> Ledger:
    """The ledger of what the merge gave, in any order: the entries the books keep, the
    balances, the findings, each in their order; amounts in units of `scale`, the largest of
    the statements'. `orders` gives each statement's place, by its file."""
    return Ledger(
        _entry_table(books, scale),
        _balance_table(balances, scale),
        sorted_findings(found, orders),
        len(orders),
    )


def _entry_table(books: Sequence[Book], scale: int) -> _Table:
    """The entries the books keep, by account, day booked, statement, line and direction."""
    if len(books) == 1:
        columns = books[0].rows()  # by statement, line and direction already
        order = list(range(len(columns["line"])))
    else:
        columns = {name: [] for name in BOOK_COLUMNS}
        for book in books:
            for name, values in book.rows().items():
                columns[name] += values
        order = list(range(len(columns["line"])))
        for name in ("direction", "line", "order"):
            order.sort(key=columns[name].__getitem__)
    for name in ("booked", "account"):  # stable: each sort keeps the order of the ones after
        order.sort(key=columns[name].__getitem__)
    amounts: list[Any] = columns["amount"]
    if any(s != scale for s in columns["scale"]):
        amounts = [u * 10 ** (scale - s) for u, s in zip(amounts, columns["scale"], strict=True)]
    direction = columns["direction"]
    signed = [-u if d == "out" else u for u, d in zip(amounts, direction, strict=True)]
    named = {**columns, "amount": amounts, "signed": signed}
    return _Table(ENTRY_COLUMNS, [named[name] for name, _, _ in ENTRY_COLUMNS], scale, order)


def _balance_table(balances: list[Balance], scale: int) -> _Table:
    balances.sort(key=lambda b: (b.account, b.day))
    values = list(zip(*balances, strict=True)) or [() for _ in BALANCE_COLUMNS]
    return _Table(BALANCE_COLUMNS, values, scale)


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
