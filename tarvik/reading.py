"""`read`: a statement from a file as banks and accounting programs really write it.

Before `tarvik_py` sees the bytes, a UTF-8 byte-order mark is dropped and a DOS (code page 866)
file is decoded; with `repairs=True` the shipped repairs of `tarvik.hooks` run on every section,
and each value they change is reported with its line. What `read` returns says all of it.

The reading goes through `tarvik_py.parse` with a recording (`tarvik._columns.Recording`) as its
first hook: a native hook, which runs the repairs in the reader itself and learns from it the line
of every change, record and header line, so nothing is looked for in the text afterwards.
"""

from __future__ import annotations

from collections.abc import Callable, Iterator, Sequence
from dataclasses import dataclass, field
from typing import Literal, Protocol, overload

import tarvik_py

from . import _columns, _diagnosis
from ._encodings import ReadEncoding
from ._sources import Loaded, Source, load

__all__ = ["Change", "Changes", "Extras", "Hook", "Reading", "Section", "Source", "read"]

Section = Literal["document", "account"]


class Hook(Protocol):
    """What `tarvik_py.parse` calls for each section: `hook(section_type, attrs, header)`."""

    def __call__(
        self, section_type: tarvik_py.SectionType, attrs: dict[str, str], header: dict[str, str], /
    ) -> object: ...


@dataclass(frozen=True)
class Change:
    """A value that a repair changed, and the line of the file it stands on."""

    lineno: int
    repair: str  # the name of the hook in tarvik.hooks
    key: str
    old: str | None  # None where the key was absent
    new: str
    message: str

    def __str__(self) -> str:
        return f"line {self.lineno}: {self.message}"


class Changes(Sequence[Change]):
    """What the repairs of one reading changed, in the order they changed it.

    Each `Change` is made when it is asked for: a statement of a bank that needs a repair on most
    documents has tens of thousands. Equal to any sequence of the same changes, a tuple included.
    """

    __slots__ = ("_recording",)

    def __init__(self, recording: _columns.Recording) -> None:
        self._recording = recording

    def __len__(self) -> int:
        return self._recording.change_count()

    @overload
    def __getitem__(self, index: int) -> Change: ...
    @overload
    def __getitem__(self, index: slice) -> tuple[Change, ...]: ...
    def __getitem__(self, index: int | slice) -> Change | tuple[Change, ...]:
        if isinstance(index, slice):
            return tuple(self[i] for i in range(*index.indices(len(self))))
        size = len(self)
        if index < 0:
            index += size
        if not 0 <= index < size:
            raise IndexError("change index out of range")
        return Change(*self._recording.change(index))

    def __iter__(self) -> Iterator[Change]:
        return (Change(*self._recording.change(i)) for i in range(len(self)))

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Sequence) or isinstance(other, (str, bytes)):
            return NotImplemented
        return len(self) == len(other) and all(a == b for a, b in zip(self, other, strict=True))

    __hash__ = None  # type: ignore[assignment]

    def __repr__(self) -> str:
        return f"Changes({list(self)!r})"


class Extras(Sequence[dict[str, str]]):
    """The keys of each section that its record has no field for, with their texts, in file
    order: the `extra` mapping that `tarvik.write` takes. A repeated key is there once, where it
    first stands, with its last text.

    Each mapping is made when it is asked for, from the file's own bytes.
    """

    __slots__ = ("_count", "_extra")

    def __init__(self, count: int, extra: Callable[[int], list[tuple[str, str]]]) -> None:
        self._count = count
        self._extra = extra

    def __len__(self) -> int:
        return self._count

    @overload
    def __getitem__(self, index: int) -> dict[str, str]: ...
    @overload
    def __getitem__(self, index: slice) -> list[dict[str, str]]: ...
    def __getitem__(self, index: int | slice) -> dict[str, str] | list[dict[str, str]]:
        if isinstance(index, slice):
            return [self[i] for i in range(*index.indices(self._count))]
        if index < 0:
            index += self._count
        if not 0 <= index < self._count:
            raise IndexError("section index out of range")
        return dict(self._extra(index))

    def __iter__(self) -> Iterator[dict[str, str]]:
        return (dict(self._extra(i)) for i in range(self._count))

    def __repr__(self) -> str:
        return f"Extras({list(self)!r})"


@dataclass(frozen=True)
class Reading:
    """What `read` gives: the statement, and everything that was done to the input to get it."""

    statement: tarvik_py.Statement
    encoding: ReadEncoding  # the file's own ("utf-16" where tarvik_py says "cp1251" of it)
    byte_order_mark: bool  # a UTF-8 byte-order mark was dropped
    changes: Changes  # what the repairs changed, in file order
    name: str | None  # the path read, where the source was one
    repaired: bool  # the shipped repairs ran
    text: bytes = field(repr=False)  # the bytes tarvik_py read
    recording: _columns.Recording = field(repr=False, compare=False)

    def interval_lines(self) -> dict[str, list[int]]:
        """The line on which each interval's section opens, by account, as in
        `statement.accounts`."""
        return dict(zip(self.statement.accounts, self.recording.interval_lines(), strict=True))

    def document_lines(self) -> list[int]:
        """The line on which each of `statement.documents` opens, in the same order."""
        return self.recording.document_lines()

    def header_lines(self) -> list[tuple[str, str]]:
        """The header's lines as the file holds them: (key, value) in order, repeats kept.

        `statement.header` keeps one value of each key, the last; a header may list, say,
        several `РасчСчет`."""
        return [(key, value) for key, value, _ in self.recording.header_lines()]

    def document_extras(self) -> Extras:
        """For each of `statement.documents`, the keys its record has no field for: the tax
        fields (`ПоказательКБК`, `ОКАТО` ...), `Код`, `ВидПлатежа`, numbered names and the
        like, as the last hook left them."""
        return Extras(len(self.statement.documents), self.recording.document_extra)

    def interval_extras(self) -> dict[str, list[dict[str, str]]]:
        """For each interval, by account as in `statement.accounts`, the keys of its account
        section that its record has no field for."""
        out: dict[str, list[dict[str, str]]] = {}
        index = 0
        for number, account in self.statement.accounts.items():
            out[number] = [
                dict(self.recording.interval_extra(index + i))
                for i in range(len(account.intervals))
            ]
            index += len(account.intervals)
        return out

    def warning_sections(self) -> list[Section]:
        """For each of `statement.warnings`, the kind of section it left out."""
        accounts = set(self.recording.account_closing_lines())
        return [
            "account" if line in accounts else "document" for line, _ in self.statement.warnings
        ]


def read(source: Source, *, hooks: Sequence[Hook] = (), repairs: bool = True) -> Reading:
    """Read a statement from a path, bytes or a binary file.

    Raises what `tarvik_py.parse` raises, with a note naming the file; OSError where the file
    cannot be read. The repairs run before `hooks`, which see what the repairs left.
    """
    return read_loaded(load(source), hooks, repairs)


def read_loaded(loaded: Loaded, hooks: Sequence[Hook] = (), repairs: bool = True) -> Reading:
    """`read` of a source already loaded, for `to_arrow`, which reads its bytes first itself."""
    recording = _columns.Recording(repairs, loaded.text)
    # The keys the records have no field for are taken from what the last hook left.
    chain = [recording, *hooks, recording.observer()] if hooks else [recording]
    try:
        statement = tarvik_py.parse(loaded.text, chain)
    except tarvik_py.ParseError as exc:
        if loaded.name is not None:
            exc.add_note(f"in {loaded.name}")
        _diagnosis.explain(exc, loaded.text)
        raise
    return Reading(
        statement,
        loaded.encoding(statement.encoding),
        loaded.byte_order_mark,
        Changes(recording),
        loaded.name,
        repairs,
        loaded.text,
        recording,
    )
