"""`check`: everything worth a reader's attention in a statement, each with its place."""

from __future__ import annotations

import bisect
import re
import decimal
import os
from collections.abc import Iterator, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Literal, TextIO, overload

import tarvik_py

from . import _diagnosis
from .reading import Reading, Source, read

if TYPE_CHECKING:
    from . import _columns

__all__ = ["Finding", "Findings", "check", "failure", "mismatches", "notices"]

Severity = Literal["error", "warning", "mismatch", "repair"]


def _place(name: str, lineno: int | None) -> str:
    return name if lineno is None else f"{name}:{lineno}"


@dataclass(frozen=True)
class Finding:
    """One thing `check` found: where (`name`, `lineno` where known) and what."""

    name: str
    lineno: int | None
    severity: Severity
    message: str

    def __str__(self) -> str:
        return f"{_place(self.name, self.lineno)}: {self.severity}: {self.message}"


class Findings(Sequence[Finding]):
    """What `check` found in one statement, in line order: a sequence of `Finding`.

    A statement a bank wrote may need tens of thousands of repairs; their findings are made only
    when asked for, and `write` writes them all at once, as lines of `str(finding)`.
    """

    __slots__ = ("_name", "_others", "_recording", "_all")

    def __init__(
        self, name: str, others: Sequence[Finding], recording: _columns.Recording | None = None
    ) -> None:
        self._name = name
        self._others = sorted(others, key=lambda f: f.lineno or 0)  # all but the repairs
        self._recording = recording  # the repairs, where there are any
        self._all: list[Finding] | None = None

    def _findings(self) -> list[Finding]:
        if self._all is None:
            found = []
            if self._recording is not None:
                for i in range(self._recording.change_count()):
                    lineno, _, _, _, _, message = self._recording.change(i)
                    found.append(Finding(self._name, lineno, "repair", message))
            found += self._others
            found.sort(key=lambda f: f.lineno or 0)  # a repair first, then the rest, on one line
            self._all = found
        return self._all

    def __len__(self) -> int:
        repairs = 0 if self._recording is None else self._recording.change_count()
        return repairs + len(self._others)

    @overload
    def __getitem__(self, index: int) -> Finding: ...
    @overload
    def __getitem__(self, index: slice) -> list[Finding]: ...
    def __getitem__(self, index: int | slice) -> Finding | list[Finding]:
        return self._findings()[index]

    def __iter__(self) -> Iterator[Finding]:
        return iter(self._findings())

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Sequence) or isinstance(other, (str, bytes)):
            return NotImplemented
        return list(self) == list(other)

    __hash__ = None  # type: ignore[assignment]

    def __repr__(self) -> str:
        return f"Findings({list(self)!r})"

    def __reduce__(self) -> tuple[type[Findings], tuple[str, list[Finding]]]:
        return Findings, (self._name, self._findings())

    def severities(self) -> set[Severity]:
        """The severities among the findings."""
        found: set[Severity] = {f.severity for f in self._others}
        if self._recording is not None and self._recording.change_count():
            found.add("repair")
        return found

    def write(self, out: TextIO, *, repairs: bool = True) -> int:
        """Writes each finding as its line (`repairs=False` leaves theirs out); returns how many."""
        report = None
        if repairs and self._recording is not None:
            report = self._recording.change_report(f"{self._name}:", ": repair: ")
        if report is None:
            shown = [f for f in self if repairs or f.severity != "repair"]
            out.write("".join(f"{f}\n" for f in shown))
            return len(shown)
        text, packed = report
        lines = memoryview(packed).cast("Q")
        if not self._others:
            out.write(text)
            return len(lines)
        # The repairs' lines come written, in line order; each other finding goes in after the
        # repairs of its line. Only line feeds end them: a key may hold any other line break.
        ends = [0, *(match.end() for match in re.finditer("\n", text))]
        pieces, done = [], 0
        for finding in self._others:
            after = bisect.bisect_right(lines, finding.lineno or 0)
            pieces += [text[ends[done] : ends[after]], f"{finding}\n"]
            done = after
        pieces.append(text[ends[done] :])
        out.write("".join(pieces))
        return len(lines) + len(self._others)


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
        return Findings(label, [failure(label, exc)])
    found = _warnings(reading, label)
    found += [Finding(label, line, "mismatch", text) for line, text in mismatches(reading)]
    return Findings(label, found, reading.recording if reading.changes else None)


def failure(label: str, exc: tarvik_py.ParseError | OSError) -> Finding:
    """A statement that could not be read, as one "error" finding, at its line where known."""
    if isinstance(exc, tarvik_py.SyntaxError):
        return Finding(label, exc.detail.lineno, "error", str(exc))
    found = _diagnosis.reason(exc)
    return Finding(label, None if found is None else found.lineno, "error", _diagnosis.message(exc))


def notices(reading: Reading, label: str) -> list[Finding]:
    """What reading `label` took: its repairs and its skipped documents, in line order."""
    found = [Finding(label, c.lineno, "repair", c.message) for c in reading.changes]
    found += _warnings(reading, label)
    found.sort(key=lambda f: f.lineno or 0)
    return found


def _warnings(reading: Reading, label: str) -> list[Finding]:
    return [
        Finding(label, lineno, "warning", f"document skipped: {message}")
        for lineno, message in reading.statement.warnings
    ]
