"""`check`: everything worth a reader's attention in a statement, each with its place."""

from __future__ import annotations

import decimal
import os
from dataclasses import dataclass
from typing import Literal

import tarvik_py

from . import _diagnosis
from .reading import Reading, Source, read

__all__ = ["Finding", "check", "failure", "mismatches", "notices"]

Severity = Literal["error", "warning", "mismatch", "repair"]


@dataclass(frozen=True)
class Finding:
    """One thing `check` found: where (`name`, `lineno` where known) and what."""

    name: str
    lineno: int | None
    severity: Severity
    message: str

    def __str__(self) -> str:
        place = self.name if self.lineno is None else f"{self.name}:{self.lineno}"
        return f"{place}: {self.severity}: {self.message}"


def mismatches(reading: Reading) -> list[tuple[int | None, str]]:
    """Intervals whose opening + income − expense is not the closing balance, with their lines.

    Only intervals that give all four figures are checked.
    """
    out = []
    lines = reading.interval_lines()
    for number, account in reading.statement.accounts.items():
        for interval, line in zip(account.intervals, lines[number], strict=True):
            figures = (interval.start_amount, interval.total_income, interval.total_expense, interval.end_amount)
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


def check(source: Source, *, repairs: bool = True, name: str | None = None) -> list[Finding]:
    """Read `source` and report its failure, or its warnings, repairs and balance mismatches.

    Never raises for the content of the file: a statement that cannot be read is one "error"
    finding. `name` labels the findings (default: the path, or "<bytes>").
    """
    if name is not None:
        label = name
    elif isinstance(source, (str, os.PathLike)):
        label = os.fsdecode(source)
    else:
        label = getattr(source, "name", None) or "<bytes>"
    try:
        reading = read(source, repairs=repairs)
    except (tarvik_py.ParseError, OSError) as exc:
        return [failure(label, exc)]
    found = notices(reading, label)
    found += [Finding(label, line, "mismatch", text) for line, text in mismatches(reading)]
    found.sort(key=lambda f: f.lineno or 0)
    return found


def failure(label: str, exc: tarvik_py.ParseError | OSError) -> Finding:
    """A statement that could not be read, as one "error" finding, at its line where known."""
    if isinstance(exc, tarvik_py.SyntaxError):
        return Finding(label, exc.detail.lineno, "error", str(exc))
    found = _diagnosis.reason(exc)
    return Finding(label, None if found is None else found.lineno, "error", _diagnosis.message(exc))


def notices(reading: Reading, label: str) -> list[Finding]:
    """What reading `label` took: its repairs and its skipped documents, in line order."""
    found = [Finding(label, c.lineno, "repair", c.message) for c in reading.changes]
    found += [
        Finding(label, lineno, "warning", f"document skipped: {message}")
        for lineno, message in reading.statement.warnings
    ]
    found.sort(key=lambda f: f.lineno or 0)
    return found
