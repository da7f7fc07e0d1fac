"""The ledger's merge: the statements' entries as one set, and each account's days in order.

Two steps, each over a part of the whole that it needs and no more, so that Dask can run them
apart (`tarvik.dask.ledger`):

- `Settlement` takes the entries of some documents, all the copies of each, statement by
  statement, and keeps one entry per document and own account, reporting copies that
  disagree. A document is its type, number, date, amount and the payer's and payee's accounts
  (see `document_key`).
- `reconcile` takes one account's intervals, the periods its statements declare and its kept
  entries summed by day, and checks the intervals, in date order, against one another: a
  closing balance against the next opening, overlapping intervals, days no statement covers.
  It gives the account's balance of each day.

Every sum is exact (run it in `tarvik._ledger_parts.EXACT`).
"""

from __future__ import annotations

import bisect
import collections
import datetime
import decimal
import zlib
from collections.abc import Iterable, Mapping, Sequence
from typing import Literal, NamedTuple

from ._ledger_parts import Cover, Entry, Finding, Interval, finding

__all__ = [
    "Balance",
    "Settlement",
    "bucket",
    "by_day",
    "document_key",
    "reconcile",
    "reconcile_all",
    "settle",
]

DocumentKey = tuple[str, str, datetime.date, str, str]
Version = tuple[decimal.Decimal, str, str, str | None, str, str, str | None, str]
# A day's money in and out of one account.
Day = tuple[decimal.Decimal, decimal.Decimal]
_NOTHING: Day = (decimal.Decimal(0), decimal.Decimal(0))


class Balance(NamedTuple):
    """One account's day: the balance at its start and end, the money in and out."""

    account: str
    day: datetime.date
    opening: decimal.Decimal
    income: decimal.Decimal
    expense: decimal.Decimal
    closing: decimal.Decimal
    derived: bool  # not the figures of an account section of that one day, but from the entries


def document_key(entry: Entry) -> DocumentKey:
    """What names a document: its type, number, date, and the payer's and payee's accounts.

    Its amount makes it one document among those of one key (fees of a day, one number each
    day), so it is part of a document's identity but not of its key: copies of one key that
    differ in it disagree."""
    return entry.doc_type, entry.doc_number, entry.doc_date, entry.payer, entry.payee


def version(entry: Entry) -> Version:
    """What two copies of a document must agree on: the amount, the purpose, and each side's
    INN, KPP and BIC, which a bank copies as they are. Names and banks are left out: banks
    write them in different forms (`ИНН 7701234567 ООО ...` or the name alone)."""
    if entry.direction == "in":
        payer = (entry.counterparty_inn, entry.counterparty_kpp, entry.counterparty_bic)
        payee = (entry.own_inn, entry.own_kpp, entry.own_bic)
    else:
        payer = (entry.own_inn, entry.own_kpp, entry.own_bic)
        payee = (entry.counterparty_inn, entry.counterparty_kpp, entry.counterparty_bic)
    return (entry.amount, entry.purpose, *payer, *payee)


def bucket(key: Sequence[object], buckets: int) -> int:
    """Which of `buckets` a key goes to, the same in every process (unlike `hash` of a str)."""
    text = "\x1f".join(map(str, key))
    return zlib.crc32(text.encode("utf-8", "surrogatepass")) % buckets


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


Identity = tuple[DocumentKey, decimal.Decimal, str, str]  # a document's, and the own account's side


class Settlement:
    """The entries to keep, and the copies of a document that disagree, statement by statement.

    A document is kept as many times as the one statement that holds it most often has it (twice
    where a file holds it twice), with that statement's entries: the earliest such statement's.
    Where the earliest statement that holds a document (its type, number, date and accounts) and
    a later one hold it differently, neither holding all the other's versions, that is a
    conflict, and the later one's versions are left out.

    What it keeps grows with the documents, not the copies: a statement's entries that are not
    kept are let go as the next one is added.
    """

    def __init__(self) -> None:
        self._first: dict[DocumentKey, dict[Version, Entry]] = {}  # the earliest holder's versions
        self._kept: dict[Identity, list[Entry]] = {}
        self.findings: list[Finding] = []

    def add(self, entries: Sequence[Entry]) -> None:
        """One statement's entries, after those of every statement before it."""
        held: dict[DocumentKey, dict[Version, Entry]] = {}
        keyed = []
        for entry in entries:
            key, its = document_key(entry), version(entry)
            held.setdefault(key, {}).setdefault(its, entry)
            keyed.append((key, its, entry))
        refused: set[tuple[DocumentKey, Version]] = set()
        for key, versions in held.items():
            earlier = self._first.setdefault(key, versions)
            if (
                earlier is versions
                or versions.keys() <= earlier.keys()
                or earlier.keys() <= versions.keys()
            ):
                continue
            ours = next(e for v, e in versions.items() if v not in earlier)
            theirs = next(e for v, e in earlier.items() if v not in versions)
            self.findings.append(_conflict(ours, theirs))
            refused.update((key, v) for v in versions if v not in earlier)
        copies: dict[Identity, list[Entry]] = {}
        for key, its, entry in keyed:
            if not refused or (key, its) not in refused:
                copies.setdefault((key, entry.amount, entry.account, entry.direction), []).append(
                    entry
                )
        for identity, these in copies.items():
            kept = self._kept.get(identity)
            if kept is None or len(these) > len(kept):
                self._kept[identity] = these

    def entries(self) -> list[Entry]:
        return [entry for these in self._kept.values() for entry in these]


def settle(statements: Iterable[Sequence[Entry]]) -> tuple[list[Entry], list[Finding]]:
    """A `Settlement` of each statement's entries, in the statements' order."""
    settlement = Settlement()
    for entries in statements:
        settlement.add(entries)
    return settlement.entries(), settlement.findings


def _conflict(ours: Entry, theirs: Entry) -> Finding:
    mine, other = version(ours), version(theirs)
    differences = "; ".join(
        f"{field} {_shown(b)} there, {_shown(a)} here"
        for field, a, b in zip(_FIELDS, mine, other, strict=False)
        if a != b
    )
    return finding(
        ours.file,
        ours.line,
        "conflict",
        f"{ours.doc_type} № {ours.doc_number} of {ours.doc_date} from {ours.payer} to {ours.payee} "
        f"differs from its copy at {theirs.file}:{theirs.line}: {differences}",
    )


def _shown(value: object) -> str:
    return "none" if value is None else repr(value) if isinstance(value, str) else str(value)


def by_day(entries: Iterable[Entry]) -> dict[str, dict[int, Day]]:
    """The money in and out of each account on each day (an ordinal) with entries."""
    days: dict[str, dict[int, Day]] = collections.defaultdict(dict)
    for entry in entries:
        account = days[entry.account]
        day = entry.booked.toordinal()
        income, expense = account.get(day, _NOTHING)
        if entry.direction == "in":
            account[day] = (income + entry.amount, expense)
        else:
            account[day] = (income, expense + entry.amount)
    return days


class _Point(NamedTuple):
    """A balance an interval states: at the end of day `t`, its opening (of the day after) or
    its closing. On one day, closings come before openings."""

    t: int
    opening: bool
    order: int
    line: int
    value: decimal.Decimal
    interval: Interval

    def what(self) -> str:
        day = datetime.date.fromordinal(self.t + 1 if self.opening else self.t)
        return f"{'opening' if self.opening else 'closing'} balance of {day}"


class _Net:
    """An account's money in less out, summed over any stretch of days."""

    def __init__(self, days: Mapping[int, Day]) -> None:
        self.days = sorted(days)
        self.sums = [decimal.Decimal(0)]
        for day in self.days:
            income, expense = days[day]
            self.sums.append(self.sums[-1] + income - expense)

    def after(self, first: int, last: int) -> decimal.Decimal:
        """Over the days after `first` up to `last`."""
        return (
            self.sums[bisect.bisect_right(self.days, last)]
            - self.sums[bisect.bisect_right(self.days, first)]
        )


def _day(ordinal: int) -> datetime.date:
    return datetime.date.fromordinal(ordinal)


def reconcile(
    account: str, intervals: Iterable[Interval], covers: Iterable[Cover], days: Mapping[int, Day]
) -> tuple[list[Balance], list[Finding]]:
    """One account's balances of each day that its intervals give, and its findings.

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
            found += _run(account, run, reach.end, net, days, balances)
            found.append(
                finding(
                    span.file,
                    span.line,
                    "gap",
                    f"account {account}: no statement covers "
                    f"{_day(reach.end + 1)}..{_day(span.start - 1)}, "
                    f"the days between the statement at {reach.file}:{reach.line} and this one",
                )
            )
            run, reach = [], None
        run.append(span)
        if reach is None or span.end > reach.end:
            reach = span
    if reach is not None:
        found += _run(account, run, reach.end, net, days, balances)
    return balances, found


def reconcile_all(
    intervals: Iterable[Interval], covers: Iterable[Cover], days: Mapping[str, Mapping[int, Day]]
) -> tuple[list[Balance], list[Finding]]:
    """`reconcile` of each account that has intervals or a declared period."""
    by_account: dict[str, tuple[list[Interval], list[Cover]]] = collections.defaultdict(
        lambda: ([], [])
    )
    for interval in intervals:
        by_account[interval.account][0].append(interval)
    for cover in covers:
        by_account[cover.account][1].append(cover)
    balances: list[Balance] = []
    found: list[Finding] = []
    for account, (its_intervals, its_covers) in by_account.items():
        rows, more = reconcile(account, its_intervals, its_covers, days.get(account, {}))
        balances += rows
        found += more
    return balances, found


class _Span(NamedTuple):
    """Days an interval covers, or a period a statement declares."""

    start: int
    order: int
    line: int
    end: int
    file: str
    interval: Interval | None


def _run(
    account: str,
    run: Sequence[_Span],
    last: int,
    net: _Net,
    days: Mapping[int, Day],
    balances: list[Balance],
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
            booked = f"{_day(before.t + 1)}..{_day(point.t)}"
            stated += f", {before.value}, and the entries booked {booked} make it"
        else:
            stated += " is"
        kind: Literal["continuity", "overlap"] = (
            "continuity" if point.opening and not before.opening else "overlap"
        )
        message = (
            f"account {account}: the {point.what()} is {point.value}, but the "
            f"{'overlapping interval' + chr(39) + 's ' if kind == 'overlap' else ''}"
            f"{stated} {expected} "
            f"(difference {point.value - expected})"
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
    for ordinal in range(first.t + 1, last + 1):
        income, expense = days.get(ordinal, _NOTHING)
        stated = one_day.get(ordinal)
        begun = stated or starts.get(ordinal)
        opening = balance if begun is None else begun.opening
        if stated is not None:
            income = income if stated.income is None else stated.income
            expense = expense if stated.expense is None else stated.expense
        ended = stated if stated is not None and stated.closing is not None else ends.get(ordinal)
        closing = (
            opening + income - expense if ended is None or ended.closing is None else ended.closing
        )
        out.append(
            Balance(account, _day(ordinal), opening, income, expense, closing, stated is None)
        )
        balance = closing
