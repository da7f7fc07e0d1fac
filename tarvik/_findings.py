"""What `check` and the command find in a statement, each with its place, worded once.

A finding is one line of the command's output, `FILE:LINE: SEVERITY: MESSAGE`: a file that does
not read ("error"), a section the reader left out ("warning"), a balance that does not add up
("mismatch"), a damaged line the reader skipped ("skipped"), or a value a repair changed or a
damaged line it took in the obvious way ("repair").
"""

from __future__ import annotations

import bisect
import decimal
import re
from collections.abc import Iterable, Iterator, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Final, Literal, TextIO, overload

from ._faults import line_of, message_of
from ._paths import NO_MATCH

if TYPE_CHECKING:
    from . import _columns
    from .reading import Reading

__all__ = [
    "Finding",
    "Findings",
    "SKIPPED_REPAIRS",
    "Section",
    "Severity",
    "failure",
    "mismatches",
    "notices",
    "severity_of",
    "skipped_sections",
    "unread_paths",
]

Severity = Literal["error", "warning", "mismatch", "skipped", "repair"]
Section = Literal["document", "account"]

# The repairs whose change is a line not read at all: a line of the file lost, which counts as a
# finding, where the other repairs read every line.
SKIPPED_REPAIRS: Final = frozenset({"skipped_line"})
_SECTION_WORDS: Final[dict[str, str]] = {"document": "document", "account": "account section"}


def severity_of(repair: str) -> Severity:
    """The severity of a change that the repair named `repair` made."""
    return "skipped" if repair in SKIPPED_REPAIRS else "repair"


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
    when asked for, and `write` writes them all at once, as lines of `str(finding)`. The changes
    of the reading are "repair" findings, but for the lines it skipped, which are "skipped".
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
                    lineno, repair, _, _, _, message = self._recording.change(i)
                    found.append(Finding(self._name, lineno, severity_of(repair), message))
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
        if self._recording is not None:
            found |= {severity_of(repair) for repair in self._recording.change_counts()}
        return found

    def write(self, out: TextIO, *, repairs: bool = True) -> int:
        """Writes each finding as its line (`repairs=False` leaves the "repair" ones out, and
        keeps the lines skipped); returns how many."""
        report = None
        if self._recording is not None:
            repaired = ": repair: " if repairs else None
            report = self._recording.change_report(f"{self._name}:", repaired, ": skipped: ")
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


def failure(label: str, exc: BaseException) -> Finding:
    """A statement that could not be read, as one "error" finding, at its line where known."""
    return Finding(label, line_of(exc), "error", message_of(exc))


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


def skipped_sections(
    label: str, warnings: Iterable[tuple[int, str]], sections: Iterable[str]
) -> list[Finding]:
    """The reader's warnings, (line, message) each, and the kind of section each left out."""
    return [
        Finding(label, lineno, "warning", f"{_SECTION_WORDS[section]} skipped: {message}")
        for (lineno, message), section in zip(warnings, sections, strict=True)
    ]


def notices(
    label: str,
    changes: Iterable[tuple[int, str, str]],
    warnings: Iterable[tuple[int, str]],
    sections: Iterable[str],
) -> list[Finding]:
    """What reading took, in line order: its changes, (line, repair, message) each, and the
    sections it left out, with the kind of each."""
    found = [
        Finding(label, lineno, severity_of(repair), message) for lineno, repair, message in changes
    ]
    found += skipped_sections(label, warnings, sections)
    found.sort(key=lambda f: f.lineno or 0)
    return found


def unread_paths(unmatched: Iterable[str], no_statement: Iterable[str]) -> list[Finding]:
    """Paths that named no file, and folders that hold no statement, as "error" findings."""
    found = [Finding(path, None, "error", NO_MATCH) for path in unmatched]
    found += [Finding(path, None, "error", "no statement in this folder") for path in no_statement]
    return found
