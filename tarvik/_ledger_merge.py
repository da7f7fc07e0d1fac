"""The ledger's merge: the statements' entries as one set, and each account's days in order.

Two steps, each over a part of the whole that it needs and no more, so that Dask can run them
apart (`tarvik.dask.ledger`):

- `Settlement` takes the entries of some documents, all the copies of each, statement by
  statement, and keeps one entry per document and own account, reporting copies that
  disagree. A document is its type, number, date, amount and the payer's and payee's accounts
  (see `tarvik._ledger_parts.DocumentKey`). It keeps the entries as columns, and sums them by
  account and day as it goes.
- `reconcile` takes one account's intervals, the periods its statements declare and its kept
  entries summed by day, and checks the intervals, in date order, against one another: a
  closing balance against the next opening, overlapping intervals, days no statement covers.
  It gives the account's balance of each day.

Every value is a plain int: days are day numbers, amounts units of a scale, so every sum is
exact; an amount of a part of another scale is brought to the larger one.
"""

from __future__ import annotations

import bisect
import collections
import operator
import zlib
from collections.abc import Iterable, Mapping, Sequence
from typing import Any, Final, Literal, NamedTuple

from ._ledger_parts import (
    ENTRY_FIELDS,
    MIN_SCALE,
    Cover,
    DocumentKey,
    Finding,
    Identity,
    Interval,
    StatementPart,
    Version,
    amount_text,
    date_of,
    finding,
    key_fields,
    version_fields,
)

__all__ = [
    "BOOK_COLUMNS",
    "Balance",
    "Book",
    "DaySums",
    "Merge",
    "Settlement",
    "bucket",
    "reconcile",
    "reconcile_all",
]

# A day's money in and out of one account.
Day = tuple[int, int]
_NOTHING: Day = (0, 0)

# What a book keeps of each entry: the part's columns, then where it comes from.
BOOK_COLUMNS: Final = (*ENTRY_FIELDS, "file", "order", "scale")


class Balance(NamedTuple):
    """One account's day: the balance at its start and end, the money in and out."""

    account: str
    day: int
    opening: int
    income: int
    expense: int
    closing: int
    derived: bool  # not the figures of an account section of that one day, but from the entries


def bucket(key: Sequence[object], buckets: int) -> int:
    """Which of `buckets` a key goes to, the same in every process (unlike `hash` of a str)."""
    text = "\x1f".join(map(str, key))
    return zlib.crc32(text.encode("utf-8", "surrogatepass")) % buckets


def _rescaled(units: int, scale: int, wanted: int) -> int:
    return units if scale == wanted else units * 10 ** (wanted - scale)


class Book:
    """Entries as columns (`BOOK_COLUMNS`), appended statement by statement; a row that a later
    statement's copies take the place of is let go (`dead`) and left out of `rows`."""

    def __init__(self) -> None:
        self.columns: dict[str, list[Any]] = {name: [] for name in BOOK_COLUMNS}
        self.dead: set[int] = set()

    def __len__(self) -> int:
        return len(self.columns["line"])

    def extend(self, part: StatementPart, rows: Sequence[int]) -> None:
        """Appends the rows `rows` of `part`'s entries."""
        count = len(rows)
        entries = part.entries
        if count == len(entries.line):  # every row, in order: the usual case
            for name in ENTRY_FIELDS:
                self.columns[name].extend(getattr(entries, name))
        else:
            take = operator.itemgetter(*rows)
            for name in ENTRY_FIELDS:
                picked = take(getattr(entries, name))
                self.columns[name].extend(picked if count > 1 else (picked,))
        self.columns["file"].extend([part.file] * count)
        self.columns["order"].extend([part.order] * count)
        self.columns["scale"].extend([part.scale] * count)

    def rows(self) -> dict[str, list[Any]]:
        """The columns without the rows let go."""
        if not self.dead:
            return self.columns
        alive = [r for r in range(len(self)) if r not in self.dead]
        take = operator.itemgetter(*alive) if alive else None
        out: dict[str, list[Any]] = {}
        for name, values in self.columns.items():
            out[name] = (
                [] if take is None else list(take(values)) if len(alive) > 1 else [values[alive[0]]]
            )
        return out


class DaySums:
    """The money in and out of each account on each day with entries, in units of `scale`,
    which grows to the largest scale added."""

    def __init__(self) -> None:
        self.scale = MIN_SCALE
        self.sums: dict[str, dict[int, list[int]]] = {}

    def add(
        self,
        accounts: Iterable[object],
        days: Iterable[object],
        directions: Iterable[object],
        amounts: Iterable[object],
        scale: int,
        sign: int = 1,
    ) -> None:
        """Adds (or with `sign` -1 takes away) entries of amounts in units of `scale`."""
        if scale > self.scale:
            self.rescale(scale)
        factor = sign * 10 ** (self.scale - scale)
        sums = self.sums
        for account, day, direction, units in zip(accounts, days, directions, amounts, strict=True):
            by_day = sums.get(account)  # type: ignore[call-overload]
            if by_day is None:
                by_day = sums[account] = {}  # type: ignore[index]
            pair = by_day.get(day)
            if pair is None:
                pair = by_day[day] = [0, 0]
            pair[direction == "out"] += units * factor

    def merge(self, other: DaySums) -> None:
        for account, days in other.sums.items():
            for day, (income, expense) in days.items():
                self.add(
                    (account, account), (day, day), ("in", "out"), (income, expense), other.scale
                )

    def rescale(self, scale: int) -> None:
        factor = 10 ** (scale - self.scale)
        for days in self.sums.values():
            for pair in days.values():
                pair[0] *= factor
                pair[1] *= factor
        self.scale = scale

    def at(self, scale: int) -> dict[str, dict[int, Day]]:
        """The sums in units of `scale`, no smaller than theirs."""
        factor = 10 ** (scale - self.scale)
        return {
            account: {
                day: (income * factor, expense * factor) for day, (income, expense) in days.items()
            }
            for account, days in self.sums.items()
        }


# What each place of a `Version` is, as a conflict names it.
_FIELDS = (
    "amount",
    "purpose",
    "payer's INN",
    "payer's KPP",
    "payer's BIC",
    "payee's INN",
    "payee's KPP",
    "payee's BIC",
)


class Settlement:
    """The entries to keep, and the copies of a document that disagree, statement by statement.

    A document is kept as many times as the one statement that holds it most often has it (twice
    where a file holds it twice), with that statement's entries: the earliest such statement's.
    Where the earliest statement that holds a document (its type, number, date and accounts) and
    a later one hold it differently, neither holding all the other's versions, that is a
    conflict, and the later one's versions are left out.

    What it keeps grows with the documents, not the copies: of each statement it keeps only the
    rows it takes, and of the others' documents their versions.
    """

    def __init__(self) -> None:
        # The earliest holder's versions of each document, each with its first row in the book.
        self._first: dict[DocumentKey, dict[Version, int]] = {}
        self._kept: dict[Identity, list[int]] = {}  # rows of the book
        self.book = Book()
        self.days = DaySums()
        self.findings: list[Finding] = []

    def add(self, part: StatementPart) -> None:
        """One statement's entries, after those of every statement before it."""
        entries = part.entries
        keys = entries.key
        if not keys:
            return
        versions = entries.versions()
        held: dict[DocumentKey, dict[Version, int]] = {}
        for row, (key, version) in enumerate(zip(keys, versions, strict=True)):
            its = held.get(key)
            if its is None:
                held[key] = {version: row}
            elif version not in its:
                its[version] = row
        first = self._first
        new: list[tuple[DocumentKey, dict[Version, int]]] = []
        refused: set[tuple[DocumentKey, Version]] = set()
        for key, its in held.items():
            earlier = first.get(key)
            if earlier is None:
                new.append((key, its))
            elif not (its.keys() <= earlier.keys() or earlier.keys() <= its.keys()):
                ours = next(row for version, row in its.items() if version not in earlier)
                theirs = next(v for v in earlier.items() if v[0] not in its)
                self.findings.append(self._conflict(part, key, ours, theirs))
                refused.update((key, version) for version in its if version not in earlier)
        copies: dict[Identity, list[int]] = {}
        for row, identity in enumerate(entries.identities()):
            if refused and (keys[row], versions[row]) in refused:
                continue
            rows = copies.get(identity)
            if rows is None:
                copies[identity] = [row]
            else:
                rows.append(row)
        kept, book = self._kept, self.book
        base = len(book)
        taken: list[list[int]] = []
        for identity, rows in copies.items():
            before = kept.get(identity)
            if before is None or len(rows) > len(before):
                if before is not None:
                    self._let_go(before)
                kept[identity] = rows  # the part's rows, made the book's below
                taken.append(rows)
        if not taken:
            return
        # The book keeps each statement's rows in their order: by line, and in before out.
        take = sorted(row for rows in taken for row in rows)
        at = {row: base + n for n, row in enumerate(take)}
        for rows in taken:
            rows[:] = [at[row] for row in rows]
        book.extend(part, take)
        self._sum(range(base, base + len(take)), part.scale)
        if new:
            for key, its in new:
                first[key] = {version: at[row] for version, row in its.items()}

    def _sum(self, rows: range | Sequence[int], scale: int, sign: int = 1) -> None:
        columns = self.book.columns
        if isinstance(rows, range) and rows.step == 1:
            pick = slice(rows.start, rows.stop)
            values = [columns[c][pick] for c in ("account", "booked", "direction", "amount")]
        else:
            values = [
                [columns[c][r] for r in rows] for c in ("account", "booked", "direction", "amount")
            ]
        accounts, days, directions, amounts = values
        self.days.add(accounts, days, directions, amounts, scale, sign)

    def _let_go(self, rows: Sequence[int]) -> None:
        """Rows a later statement's copies take the place of: no longer kept, nor summed."""
        self.book.dead.update(rows)
        scales = self.book.columns["scale"]
        for row in rows:
            self._sum((row,), scales[row], -1)

    def _conflict(
        self, part: StatementPart, key: DocumentKey, ours: int, theirs: tuple[Version, int]
    ) -> Finding:
        version, row = theirs
        book = self.book.columns
        mine = version_fields(part.entries.versions()[ours])
        other = version_fields(version)
        amounts = (
            amount_text(book["amount"][row], book["scale"][row]),
            amount_text(part.entries.amount[ours], part.scale),
        )
        differences = []
        for n, field in enumerate(_FIELDS):
            if mine[n] != other[n]:  # an amount by its value: 150.00 is 150
                there, here = amounts if n == 0 else (_shown(other[n]), _shown(mine[n]))
                differences.append(f"{field} {there} there, {here} here")
        doc_type, number, day, payer, payee = key_fields(key)
        line = part.entries.line[ours]
        return finding(
            part.file,
            line,
            "conflict",
            f"{doc_type} № {number} of {date_of(day)} from {payer} to {payee} differs from its "
            f"copy at {book['file'][row]}:{book['line'][row]}: {'; '.join(differences)}",
        )


def _shown(value: object) -> str:
    return "none" if value is None else repr(value)


class Merge:
    """Whole statements' parts, taken in their order as they come: the settlement of their
    entries, and what `reconcile_all` needs of the rest. Of each part it keeps the entries the
    settlement keeps, its intervals, declared periods and findings."""

    def __init__(self) -> None:
        self.settlement = Settlement()
        self.intervals: list[Interval] = []
        self.covers: list[Cover] = []
        self.findings: list[Finding] = []  # the statements' own
        self.orders: dict[str, int] = {}  # each statement's place, by its file
        self.scale = MIN_SCALE  # the largest among the statements'
        self._last = -1

    def add(self, part: StatementPart) -> None:
        if part.order <= self._last:
            raise ValueError(f"the parts must come in their order: {part.order} after {self._last}")
        self._last = self.orders[part.file] = part.order
        self.settlement.add(part)
        self.intervals += part.intervals
        self.covers += part.covers
        self.findings += part.findings
        self.scale = max(self.scale, part.scale)

    def reconciled(self) -> tuple[list[Balance], list[Finding]]:
        """The balances of every account, and what the statements say of one another: copies
        that disagree, balances that do not follow on, days no statement covers."""
        days = self.settlement.days.at(self.scale)
        balances, found = reconcile_all(self.intervals, self.covers, days, self.scale)
        return balances, self.settlement.findings + found


class _Point(NamedTuple):
    """A balance an interval states: at the end of day `t`, its opening (of the day after) or
    its closing. On one day, closings come before openings."""

    t: int
    opening: bool
    order: int
    line: int
    value: int
    interval: Interval

    def what(self) -> str:
        day = date_of(self.t + 1 if self.opening else self.t)
        return f"{'opening' if self.opening else 'closing'} balance of {day}"


class _Net:
    """An account's money in less out, summed over any stretch of days."""

    def __init__(self, days: Mapping[int, Day]) -> None:
        self.days = sorted(days)
        self.sums = [0]
        for day in self.days:
            income, expense = days[day]
            self.sums.append(self.sums[-1] + income - expense)

    def after(self, first: int, last: int) -> int:
        """Over the days after `first` up to `last`."""
        return (
            self.sums[bisect.bisect_right(self.days, last)]
            - self.sums[bisect.bisect_right(self.days, first)]
        )


class _Span(NamedTuple):
    """Days an interval covers, or a period a statement declares."""

    start: int
    order: int
    line: int
    end: int
    file: str
    interval: Interval | None


def reconcile(
    account: str,
    intervals: Iterable[Interval],
    covers: Iterable[Cover],
    days: Mapping[int, Day],
    scale: int,
) -> tuple[list[Balance], list[Finding]]:
    """One account's balances of each day that its intervals give, and its findings; the
    intervals and the day sums in units of `scale`.

    An interval that several statements hold alike counts once, as the earliest's. Days are
    covered by intervals and by the periods statements declare; days between covered ones that
    none covers are a gap, over which nothing is compared. Within covered days, each balance an
    interval states is compared with the one before it in date order, and the entries booked in
    between: a closing against the next opening is continuity, any other pair overlapping
    intervals. A day is derived unless an account section of that one day gives its figures.
    """
    distinct: dict[tuple[object, ...], Interval] = {}
    for interval in sorted(intervals, key=lambda i: (i.order, i.line)):
        if interval.end >= interval.start:
            distinct.setdefault(interval[1:7], interval)
    # An account section before its statement's declared period, where both start on one day.
    spans = sorted(
        [_Span(i.start, i.order, i.line, i.end, i.file, i) for i in distinct.values()]
        + [_Span(c.start, c.order, c.line, c.end, c.file, None) for c in covers],
        key=lambda s: (s.start, s.order, s.interval is None, s.line),
    )
    net = _Net(days)
    found: list[Finding] = []
    balances: list[Balance] = []
    run: list[_Span] = []
    reach: _Span | None = None  # of the run's spans, the one that reaches furthest
    for span in spans:
        if reach is not None and span.start > reach.end + 1:
            found += _run(account, run, reach.end, net, days, balances, scale)
            found.append(
                finding(
                    span.file,
                    span.line,
                    "gap",
                    f"account {account}: no statement covers "
                    f"{date_of(reach.end + 1)}..{date_of(span.start - 1)}, "
                    f"the days between the statement at {reach.file}:{reach.line} and this one",
                )
            )
            run, reach = [], None
        run.append(span)
        if reach is None or span.end > reach.end:
            reach = span
    if reach is not None:
        found += _run(account, run, reach.end, net, days, balances, scale)
    return balances, found


def reconcile_all(
    intervals: Iterable[Interval],
    covers: Iterable[Cover],
    days: Mapping[str, Mapping[int, Day]],
    scale: int,
) -> tuple[list[Balance], list[Finding]]:
    """`reconcile` of each account that has intervals or a declared period; the intervals are
    brought to `scale`, the day sums are in its units."""
    by_account: dict[str, tuple[list[Interval], list[Cover]]] = collections.defaultdict(
        lambda: ([], [])
    )
    for interval in intervals:
        if interval.scale != scale:
            opening, income, expense, closing = (
                None if v is None else _rescaled(v, interval.scale, scale) for v in interval[3:7]
            )
            assert opening is not None
            interval = interval._replace(
                opening=opening, income=income, expense=expense, closing=closing, scale=scale
            )
        by_account[interval.account][0].append(interval)
    for cover in covers:
        by_account[cover.account][1].append(cover)
    balances: list[Balance] = []
    found: list[Finding] = []
    for account, (its_intervals, its_covers) in by_account.items():
        rows, more = reconcile(account, its_intervals, its_covers, days.get(account, {}), scale)
        balances += rows
        found += more
    return balances, found


def _run(
    account: str,
    run: Sequence[_Span],
    last: int,
    net: _Net,
    days: Mapping[int, Day],
    balances: list[Balance],
    scale: int,
) -> list[Finding]:
    """The findings of one stretch of covered days; its balances go to `balances`."""
    inside = [span.interval for span in run if span.interval is not None]
    points = sorted(
        [_Point(i.start - 1, True, i.order, i.line, i.opening, i) for i in inside]
        + [
            _Point(i.end, False, i.order, i.line, i.closing, i)
            for i in inside
            if i.closing is not None
        ]
    )
    found: list[Finding] = []
    for before, point in zip(points, points[1:], strict=False):
        if before.interval is point.interval:
            continue
        expected = before.value + net.after(before.t, point.t)
        if point.value == expected:
            continue
        stated = f"{before.what()} at {before.interval.file}:{before.interval.line}"
        if before.t < point.t:
            booked = f"{date_of(before.t + 1)}..{date_of(point.t)}"
            stated += (
                f", {amount_text(before.value, scale)}, and the entries booked {booked} make it"
            )
        else:
            stated += " is"
        kind: Literal["continuity", "overlap"] = (
            "continuity" if point.opening and not before.opening else "overlap"
        )
        message = (
            f"account {account}: the {point.what()} is {amount_text(point.value, scale)}, but the "
            f"{'overlapping interval' + chr(39) + 's ' if kind == 'overlap' else ''}"
            f"{stated} {amount_text(expected, scale)} "
            f"(difference {amount_text(point.value - expected, scale)})"
        )
        found.append(finding(point.interval.file, point.interval.line, kind, message))
    if points:
        _balances(account, inside, points[0], last, days, balances)
    return found


def _balances(
    account: str,
    inside: Sequence[Interval],
    first: _Point,
    last: int,
    days: Mapping[int, Day],
    out: list[Balance],
) -> None:
    """Each day from the first opening balance on: the figures an interval states for it where
    one does (the earliest statement's), the rest from the entries and the day before."""
    one_day: dict[int, Interval] = {}
    starts: dict[int, Interval] = {}
    ends: dict[int, Interval] = {}
    for interval in sorted(inside, key=lambda i: (i.order, i.line)):
        if interval.start == interval.end:
            one_day.setdefault(interval.start, interval)
        starts.setdefault(interval.start, interval)
        if interval.closing is not None:
            ends.setdefault(interval.end, interval)
    balance = first.value
    for day in range(first.t + 1, last + 1):
        income, expense = days.get(day, _NOTHING)
        stated = one_day.get(day)
        begun = stated or starts.get(day)
        opening = balance if begun is None else begun.opening
        if stated is not None:
            income = income if stated.income is None else stated.income
            expense = expense if stated.expense is None else stated.expense
        ended = stated if stated is not None and stated.closing is not None else ends.get(day)
        closing = (
            opening + income - expense if ended is None or ended.closing is None else ended.closing
        )
        out.append(Balance(account, day, opening, income, expense, closing, stated is None))
        balance = closing
