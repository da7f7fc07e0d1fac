"""The ledger of many files on Dask: the statements read where the workers are, then merged in
buckets, so that no worker holds more than its share.

Three stages, over `dask.bag`:

1. each partition reads its files (`read_statement`), and splits its entries into buckets by
   document (every copy of a document lands in one bucket) and its intervals and declared
   periods into buckets by account;
2. a shuffle brings each document bucket together, and `settle` keeps its entries and finds its
   conflicts; the kept entries, summed by account and day, go on to the account buckets;
3. a second shuffle brings each account bucket together, and `reconcile_all` gives its balances
   and findings.

Only the kept entries, the balances and the findings come back, and the ledger is assembled as
`tarvik.ledger` assembles it, so the two are equal. Buckets are chosen by a hash of the key that
is the same in every process.
"""

from __future__ import annotations

import collections
import operator
from collections.abc import Iterable, Sequence
from typing import Any

from . import _extras
from ._ledger_merge import Balance, Book, DaySums, Settlement, bucket, reconcile_all
from ._ledger_parts import (
    MIN_SCALE,
    Cover,
    Entries,
    Finding,
    Interval,
    StatementPart,
    finding,
    read_statement,
)
from .ledger import NO_MATCH, Ledger, assemble

__all__ = ["ledger"]

# What an account bucket receives from one partition: intervals, declared periods, and money in
# and out by account and day.
_Accounts = tuple[list[Interval], list[Cover], list[DaySums]]
# What a document bucket gives: the entries it keeps, their sums by account and day, conflicts.
_Settled = tuple[Book, DaySums, list[Finding]]


def ledger(
    files: Sequence[str], unmatched: Sequence[str], *, files_per_partition: int, repairs: bool
) -> Ledger:
    """The ledger of `files`, in their order, computed on the current Dask scheduler."""
    dask = _dask("dask")
    bag = _dask("dask.bag")
    starts = range(0, len(files), files_per_partition)
    missing = [finding(path, None, "error", NO_MATCH) for path in unmatched]
    if not files:
        book = assemble([], [], [], {}, MIN_SCALE)
        book.findings += missing
        return book
    buckets = len(starts)
    parts = bag.from_delayed(
        [
            dask.delayed(_read, pure=True)(
                start, tuple(files[start : start + files_per_partition]), repairs
            )
            for start in starts
        ]
    )
    # Every amount is shown, and every balance given, in units of the statements' largest scale.
    scale = parts.map(operator.attrgetter("scale")).fold(max, initial=MIN_SCALE)
    settled = (
        parts.map_partitions(_by_document, buckets)
        .groupby(operator.itemgetter(0), npartitions=buckets, shuffle="tasks")
        .map_partitions(_settle)
    )
    reconciled = (
        bag.concat(
            [
                parts.map_partitions(_accounts_of_parts, buckets),
                settled.map_partitions(_accounts_of_days, buckets),
            ]
        )
        .groupby(operator.itemgetter(0), npartitions=buckets, shuffle="tasks")
        .map_partitions(_reconcile, scale)
    )
    orders, own, kept, found, largest = dask.compute(
        parts.map(lambda p: (p.file, p.order)),
        parts.map_partitions(lambda ps: [f for p in ps for f in p.findings]),
        settled,
        reconciled,
        scale,
    )
    books = [book for book, _, _ in kept]
    balances = [b for balances, _ in found for b in balances]
    findings = (
        own
        + [f for _, _, conflicts in kept for f in conflicts]
        + [f for _, more in found for f in more]
    )
    book = assemble(books, balances, findings, dict(orders), largest)
    book.findings += missing
    return book


def _read(start: int, files: tuple[str, ...], repairs: bool) -> list[StatementPart]:
    return [
        read_statement(path, order=start + n, name=path, repairs=repairs)
        for n, path in enumerate(files)
    ]


def _by_document(
    parts: Iterable[StatementPart], buckets: int
) -> list[tuple[int, list[StatementPart]]]:
    """Each part's entries split by the bucket of their document, as parts of their own."""
    chunks: dict[int, list[StatementPart]] = collections.defaultdict(list)
    for part in parts:
        rows: dict[int, list[int]] = collections.defaultdict(list)
        for row, key in enumerate(part.entries.key):
            rows[bucket((key,), buckets)].append(row)
        for at, its in rows.items():
            entries = Entries._make([column[r] for r in its] for column in part.entries)
            chunks[at].append(part._replace(entries=entries, intervals=[], covers=[], findings=[]))
    return list(chunks.items())


def _settle(
    groups: Iterable[tuple[int, list[tuple[int, list[StatementPart]]]]],
) -> list[_Settled]:
    out = []
    for _, chunks in groups:
        settlement = Settlement()
        for part in sorted((p for _, ps in chunks for p in ps), key=operator.attrgetter("order")):
            settlement.add(part)
        out.append((settlement.book, settlement.days, settlement.findings))
    return out


def _accounts_of_parts(parts: Iterable[StatementPart], buckets: int) -> list[tuple[int, _Accounts]]:
    chunks: dict[int, _Accounts] = collections.defaultdict(lambda: ([], [], []))
    for part in parts:
        for interval in part.intervals:
            chunks[bucket((interval.account,), buckets)][0].append(interval)
        for cover in part.covers:
            chunks[bucket((cover.account,), buckets)][1].append(cover)
    return list(chunks.items())


def _accounts_of_days(settled: Iterable[_Settled], buckets: int) -> list[tuple[int, _Accounts]]:
    chunks: dict[int, _Accounts] = collections.defaultdict(lambda: ([], [], []))
    for _, days, _ in settled:
        split: dict[int, DaySums] = {}
        for account, its_days in days.sums.items():
            at = bucket((account,), buckets)
            if at not in split:
                split[at] = DaySums()
                split[at].scale = days.scale
            split[at].sums[account] = its_days
        for at, sums in split.items():
            chunks[at][2].append(sums)
    return list(chunks.items())


def _reconcile(
    groups: Iterable[tuple[int, list[tuple[int, _Accounts]]]], scale: int
) -> list[tuple[list[Balance], list[Finding]]]:
    out = []
    for _, items in groups:
        chunks = [chunk for _, chunk in items]
        days = DaySums()
        for chunk in chunks:
            for sums in chunk[2]:
                days.merge(sums)
        intervals = [i for chunk in chunks for i in chunk[0]]
        covers = [c for chunk in chunks for c in chunk[1]]
        out.append(reconcile_all(intervals, covers, days.at(scale), scale))
    return out


def _dask(module: str) -> Any:
    return _extras.require(module, "tarvik.dask")
