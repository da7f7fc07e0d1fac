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
import decimal
import operator
from collections.abc import Iterable, Sequence
from typing import Any

from . import _extras
from ._ledger_merge import Balance, Day, bucket, by_day, document_key, reconcile_all, settle
from ._ledger_parts import EXACT, Cover, Entry, Finding, Interval, StatementPart, read_statement
from .ledger import Ledger, assemble

__all__ = ["ledger"]

# What an account bucket receives from one partition: intervals, declared periods, and money in
# and out by account and day.
_Accounts = tuple[list[Interval], list[Cover], list[tuple[str, dict[int, Day]]]]


def ledger(
    files: Sequence[str], unmatched: Sequence[str], *, files_per_partition: int, repairs: bool
) -> Ledger:
    """The ledger of `files`, in their order, computed on the current Dask scheduler."""
    dask = _dask("dask")
    bag = _dask("dask.bag")
    starts = range(0, len(files), files_per_partition)
    if not files:
        return assemble([], [], [], {}, unmatched)
    buckets = len(starts)
    parts = bag.from_delayed(
        [
            dask.delayed(_read, pure=True)(
                start, tuple(files[start : start + files_per_partition]), repairs
            )
            for start in starts
        ]
    )
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
        .map_partitions(_reconcile)
    )
    orders, own, kept, found = dask.compute(
        parts.map(lambda p: (p.file, p.order)),
        parts.map_partitions(lambda ps: [f for p in ps for f in p.findings]),
        settled,
        reconciled,
    )
    entries = [e for entries, _ in kept for e in entries]
    balances = [b for balances, _ in found for b in balances]
    findings = (
        own
        + [f for _, conflicts in kept for f in conflicts]
        + [f for _, more in found for f in more]
    )
    return assemble(entries, balances, findings, dict(orders), unmatched)


def _read(start: int, files: tuple[str, ...], repairs: bool) -> list[StatementPart]:
    return [
        read_statement(path, order=start + n, name=path, repairs=repairs)
        for n, path in enumerate(files)
    ]


def _by_document(parts: Iterable[StatementPart], buckets: int) -> list[tuple[int, list[Entry]]]:
    chunks: dict[int, list[Entry]] = collections.defaultdict(list)
    for part in parts:
        for entry in part.entries:
            chunks[bucket(document_key(entry), buckets)].append(entry)
    return list(chunks.items())


def _settle(
    groups: Iterable[tuple[int, list[tuple[int, list[Entry]]]]],
) -> list[tuple[list[Entry], list[Finding]]]:
    out = []
    for _, chunks in groups:
        statements: dict[int, list[Entry]] = collections.defaultdict(list)
        for _, chunk in chunks:
            for entry in chunk:
                statements[entry.order].append(entry)
        with decimal.localcontext(EXACT):
            out.append(settle([statements[order] for order in sorted(statements)]))
    return out


def _accounts_of_parts(parts: Iterable[StatementPart], buckets: int) -> list[tuple[int, _Accounts]]:
    chunks: dict[int, _Accounts] = collections.defaultdict(lambda: ([], [], []))
    for part in parts:
        for interval in part.intervals:
            chunks[bucket((interval.account,), buckets)][0].append(interval)
        for cover in part.covers:
            chunks[bucket((cover.account,), buckets)][1].append(cover)
    return list(chunks.items())


def _accounts_of_days(
    settled: Iterable[tuple[list[Entry], list[Finding]]], buckets: int
) -> list[tuple[int, _Accounts]]:
    chunks: dict[int, _Accounts] = collections.defaultdict(lambda: ([], [], []))
    for entries, _ in settled:
        with decimal.localcontext(EXACT):
            days = by_day(entries)
        for account, its_days in days.items():
            chunks[bucket((account,), buckets)][2].append((account, its_days))
    return list(chunks.items())


def _reconcile(
    groups: Iterable[tuple[int, list[tuple[int, _Accounts]]]],
) -> list[tuple[list[Balance], list[Finding]]]:
    out = []
    for _, items in groups:
        chunks = [chunk for _, chunk in items]
        intervals = [i for chunk in chunks for i in chunk[0]]
        covers = [c for chunk in chunks for c in chunk[1]]
        days: dict[str, dict[int, Day]] = collections.defaultdict(dict)
        with decimal.localcontext(EXACT):
            for chunk in chunks:
                for account, its_days in chunk[2]:
                    summed = days[account]
                    for day, (income, expense) in its_days.items():
                        before = summed.get(day)
                        summed[day] = (
                            (income, expense)
                            if before is None
                            else (before[0] + income, before[1] + expense)
                        )
            out.append(reconcile_all(intervals, covers, days))
    return out


def _dask(module: str) -> Any:
    return _extras.require(module, "tarvik.dask")
