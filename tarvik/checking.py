"""`check`: everything worth a reader's attention in a statement, each with its place."""

from __future__ import annotations

import decimal

from . import _sources
from ._faults import FILE_FAULTS
from ._findings import Finding, Findings, failure, skipped_sections
from .reading import Reading, Source, read

__all__ = ["Finding", "Findings", "check", "mismatches"]


def mismatches(reading: Reading) -> list[tuple[int | None, str]]:
    """Intervals whose opening + income − expense is not the closing balance, with their lines.

    Only intervals that give all four figures are checked.
    """
    out: list[tuple[int | None, str]] = []
    lines = reading.interval_lines()
    for number, account in reading.statement.accounts.items():
        for interval, line in zip(account.intervals, lines[number], strict=True):
            figures = (
                interval.start_amount,
                interval.total_income,
                interval.total_expense,
                interval.end_amount,
            )
            if None in figures:
                continue
            start, income, expense, end = (decimal.Decimal(t) for t in figures if t is not None)
            expected = start + income - expense
            if expected != end:
                period = f"{interval.date_start}..{interval.date_end or ''}"
                out.append(
                    (
                        line,
                        f"account {number} {period}: opening {start} + income {income} − expense "
                        f"{expense} = {expected}, but the closing balance is {end} "
                        f"(difference {end - expected})",
                    )
                )
    return out


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
    found = skipped_sections(label, reading.statement.warnings, reading.warning_sections())
    found += [Finding(label, line, "mismatch", text) for line, text in mismatches(reading)]
    return Findings(label, found, reading.recording if reading.changes else None)
