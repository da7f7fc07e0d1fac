"""`check`: everything worth a reader's attention in a statement, each with its place.

`check` reads one statement. `Checks` checks many, each file read once in worker processes,
and adds what the ledger finds: each statement's own (documents that move none of its own
accounts, totals that are not its documents') as the file comes, and what the statements say
of one another (copies that disagree, balances that do not follow on, days none covers) once
all are read.
"""

from __future__ import annotations

import functools
from collections.abc import Iterator, Sequence

from . import _sources, _workers
from ._faults import FILE_FAULTS
from ._findings import Finding, Findings, failure, mismatches, skipped_sections
from ._ledger_merge import Merge
from ._ledger_parts import Finding as LedgerFinding
from ._ledger_parts import Parts, StatementPart, failed_part, statement_part
from .reading import Reading, Source, read

__all__ = ["Checks", "Finding", "Findings", "check", "mismatches"]


def check(source: Source, *, repairs: bool = True, name: str | None = None) -> Findings:
    """Read `source` and report its failure, or its warnings, skipped lines, repairs and balance
    mismatches.

    Never raises for the content of the file: a statement that cannot be read is one "error"
    finding. `name` labels the findings (default: the path, a file's name, or "<bytes>").
    """
    label = _sources.label(source, name)
    try:
        reading = read(source, repairs=repairs)
    except FILE_FAULTS as exc:
        return Findings(label, [failure(label, exc)])
    return _findings_of(reading, label)


def _findings_of(reading: Reading, label: str, more: Sequence[Finding] = ()) -> Findings:
    found = skipped_sections(label, reading.statement.warnings, reading.warning_sections())
    found += [Finding(label, line, "mismatch", text) for line, text in mismatches(reading)]
    return Findings(label, [*found, *more], reading.recording if reading.changes else None)


class Checks:
    """`check` of each of `paths`, in their order, in up to `jobs` worker processes, with the
    ledger's findings.

    Iterating gives each file's findings, with the ledger's findings of that statement alone in
    their place by line: `foreign` and `turnover`, their kind before their message. A statement
    that names no own account at all (no account section, no `РасчСчет` in its header: payment
    orders sent to the bank) has none. Once every file is taken, `across()` gives what the
    statements say of one another: `conflict`, `continuity`, `overlap` and `gap`.
    """

    def __init__(
        self, paths: Sequence[str], *, repairs: bool = True, jobs: int = 1, progress: bool = False
    ) -> None:
        self._paths = paths
        self._repairs = repairs
        self._jobs = jobs
        self._progress = progress
        self._merge = Merge()

    def __iter__(self) -> Iterator[Findings]:
        items = list(enumerate(self._paths))
        results = _workers.in_workers(
            functools.partial(_checked, repairs=self._repairs),
            items,
            self._jobs,
            "check",
            progress=self._progress,
            chunk=_workers.chunk_size(len(items), self._jobs),
            pack=_Chunk,
        )
        for findings, part in results:
            self._merge.add(part)
            yield findings

    def across(self) -> list[LedgerFinding]:
        """The findings across the statements taken, by statement and line."""
        from .ledger import sorted_findings

        _, found = self._merge.reconciled()
        return sorted_findings(found, self._merge.orders)


def _checked(item: tuple[int, str], *, repairs: bool) -> tuple[Findings, StatementPart]:
    """`check` of one file with the ledger's findings of it, and its part of the ledger, from
    one reading."""
    order, path = item
    try:
        reading = read(path, repairs=repairs)
    except FILE_FAULTS as exc:
        failed = failed_part(path, order, exc)
        return Findings(path, [failure(path, exc)]), failed._replace(findings=[])
    part = statement_part(reading, path, order)
    booked = part.findings
    if not part.accounts:  # orders to the bank: no own account, so no document is foreign
        booked = [f for f in booked if f.kind != "foreign"]
    more = [Finding(f.file, f.line, f.severity, f"{f.kind}: {f.message}") for f in booked]
    return _findings_of(reading, path, more), part._replace(findings=[])


class _Chunk(list[tuple[Findings, StatementPart]]):
    """A chunk's results, which pickle as their findings and their parts packed as one."""

    def __reduce__(self) -> tuple[object, ...]:
        return _unpacked, ([f for f, _ in self], Parts(p for _, p in self))


def _unpacked(findings: list[Findings], parts: Parts) -> _Chunk:
    return _Chunk(zip(findings, parts, strict=True))
