"""What `check` and the command find in a statement, each with its place, worded once.

A finding is one line of the command's output, `FILE:LINE: SEVERITY: MESSAGE`: a file that does
not read ("error"), a document the reader left out ("warning"), a balance that does not add up
("mismatch") or a value a repair changed ("repair").
"""

from __future__ import annotations

import bisect
import re
from collections.abc import Iterable, Iterator, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Literal, TextIO, overload

from ._faults import line_of, message_of
from ._paths import NO_MATCH

if TYPE_CHECKING:
    from . import _columns

__all__ = [
    "Finding",
    "Findings",
    "Severity",
    "failure",
    "notices",
    "skipped_documents",
    "unread_paths",
]

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
            report = self._recording.change_report(f"{self._name}:", ": repair: ", ": repair: ")
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


def skipped_documents(label: str, warnings: Iterable[tuple[int, str]]) -> list[Finding]:
    """The reader's warnings, (line, message) each: the documents it left out."""
    return [
        Finding(label, lineno, "warning", f"document skipped: {message}")
        for lineno, message in warnings
    ]


def notices(
    label: str, changes: Iterable[tuple[int, str]], warnings: Iterable[tuple[int, str]]
) -> list[Finding]:
    """What reading took, in line order: its repairs, (line, message) each, and the documents
    it left out."""
    found = [Finding(label, lineno, "repair", message) for lineno, message in changes]
    found += skipped_documents(label, warnings)
    found.sort(key=lambda f: f.lineno or 0)
    return found


def unread_paths(unmatched: Iterable[str], no_statement: Iterable[str]) -> list[Finding]:
    """Paths that named no file, and folders that hold no statement, as "error" findings."""
    found = [Finding(path, None, "error", NO_MATCH) for path in unmatched]
    found += [Finding(path, None, "error", "no statement in this folder") for path in no_statement]
    return found
