"""`read`: a statement from a file as banks and accounting programs really write it.

Before `tarvik_py` sees the bytes, a UTF-8 byte-order mark is dropped and a DOS (code page 866)
file is decoded; with `repairs=True` the shipped repairs of `tarvik.hooks` run on every section,
and each value they change is reported with its line. What `read` returns says all of it.
"""

from __future__ import annotations

import codecs
import decimal
import os
import re
from collections.abc import Iterator, Sequence
from dataclasses import dataclass, field
from typing import BinaryIO, Final, Protocol, Union

import tarvik_py

from . import _diagnosis, _encodings, hooks
from ._encodings import FileEncoding
from ._fields import ACCOUNT_KEY, INTERVAL_FIELDS, Kind
from ._values import record_date

__all__ = ["Change", "Hook", "Reading", "Source", "read"]

Source = Union[str, "os.PathLike[str]", bytes, bytearray, memoryview, BinaryIO]


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


@dataclass(frozen=True)
class Reading:
    """What `read` gives: the statement, and everything that was done to the input to get it."""

    statement: tarvik_py.Statement
    encoding: FileEncoding  # the file's own encoding ("cp1251" also for UTF-16, as tarvik_py says)
    byte_order_mark: bool  # a UTF-8 byte-order mark was dropped
    changes: tuple[Change, ...]  # what the repairs changed, in file order
    name: str | None  # the path read, where the source was one
    repaired: bool  # the shipped repairs ran
    text: bytes = field(repr=False)  # the bytes tarvik_py read

    def interval_lines(self) -> dict[str, list[int | None]]:
        """The line on which each interval's section opens, by account, as in `statement.accounts`.

        Sections are matched to intervals by their figures, after the shipped repairs where the
        reading made them; None where a hook of the caller changed the figures beyond matching.
        """
        sections = _Sections(self.text, self.statement.encoding)
        found: dict[str, list[tuple[int, tuple[object, ...]]]] = {}
        for lineno, attrs in sections.accounts():
            if self.repaired:
                for repair in hooks.REPAIRS:
                    repair.apply(tarvik_py.SectionType.Account, attrs)
            number = attrs.get(ACCOUNT_KEY)
            if number is not None:
                found.setdefault(number, []).append((lineno, _section_figures(attrs)))
        out: dict[str, list[int | None]] = {}
        for number, account in self.statement.accounts.items():
            candidates = found.get(number, [])
            out[number] = [
                next((line for line, f in candidates if f == _record_figures(i)), None)
                for i in account.intervals
            ]
        return out

    def document_lines(self) -> list[int]:
        """The line on which each of `statement.documents` opens, in the same order."""
        skipped = {lineno for lineno, _ in self.statement.warnings}
        sections = _Sections(self.text, self.statement.encoding)
        return [start for start, end in sections.documents() if end not in skipped]


def _load(source: Source) -> tuple[bytes, str | None]:
    if isinstance(source, (str, os.PathLike)):
        name = os.fsdecode(source)
        with open(source, "rb") as f:
            return f.read(), name
    if isinstance(source, bytes):
        return source, None
    if isinstance(source, (bytearray, memoryview)):
        return bytes(source), None
    read = getattr(source, "read", None)
    if read is None:
        raise TypeError(
            f"source must be a path, bytes or a binary file, not {type(source).__name__}"
        )
    data = read()
    if not isinstance(data, bytes):
        raise TypeError(f"source.read() gave {type(data).__name__}, not bytes: open it in 'rb' mode")
    label = getattr(source, "name", None)
    return data, label if isinstance(label, str) else None


def _prepare(data: bytes) -> tuple[bytes, bool, bool]:
    """The bytes for tarvik_py, whether a byte-order mark was dropped, whether the file is DOS."""
    bom = data.startswith(codecs.BOM_UTF8)
    if bom:
        data = data[len(codecs.BOM_UTF8) :]
    if _encodings.is_dos(data):
        return data.decode("cp866").encode("utf-8"), bom, True
    return data, bom, False


def read(source: Source, *, hooks: Sequence[Hook] = (), repairs: bool = True) -> Reading:
    """Read a statement from a path, bytes or a binary file.

    Raises what `tarvik_py.parse` raises, with a note naming the file; OSError where the file
    cannot be read. The repairs run before `hooks`, which see what the repairs left.
    """
    data, name = _load(source)
    text, bom, dos = _prepare(data)
    return _read_prepared(text, bom, dos, name, hooks, repairs)


def _read_prepared(
    text: bytes, bom: bool, dos: bool, name: str | None, hooks: Sequence[Hook], repairs: bool
) -> Reading:
    """`read` of bytes that `_prepare` gave."""
    recorder = _Recorder() if repairs else None
    chain: list[Hook] = [recorder] if recorder else []
    chain.extend(hooks)
    try:
        statement = tarvik_py.parse(text, chain) if chain else tarvik_py.parse(text)
    except tarvik_py.ParseError as exc:
        if name is not None:
            exc.add_note(f"in {name}")
        _diagnosis.explain(exc, text)
        raise
    encoding: FileEncoding = "cp866" if dos else statement.encoding
    changes = tuple(recorder.changes(text, statement.encoding)) if recorder else ()
    return Reading(statement, encoding, bom, changes, name, repairs, text)


class _Recorder:
    """One hook for all the repairs: it counts sections, so each edit can find its line."""

    def __init__(self) -> None:
        self.sections = 0
        self.edits: list[tuple[int, str, hooks.Edit]] = []

    def __call__(
        self, section_type: tarvik_py.SectionType, attrs: dict[str, str], header: dict[str, str]
    ) -> None:
        ordinal = self.sections
        self.sections += 1
        for repair in hooks.REPAIRS:
            for edit in repair.apply(section_type, attrs):
                self.edits.append((ordinal, repair.name, edit))

    def changes(self, text: bytes, encoding: str) -> Iterator[Change]:
        return edit_changes(self.edits, text, encoding)


def edit_changes(
    edits: Sequence[tuple[int, str, hooks.Edit]], text: bytes, encoding: str
) -> Iterator[Change]:
    """The changes of repairs' edits, each `(section ordinal, repair, edit)`, with their lines."""
    if not edits:
        return
    sections = _Sections(text, encoding)
    for ordinal, repair, edit in edits:
        lineno = sections.key_line(ordinal, edit.source)
        yield Change(lineno, repair, edit.key, edit.old, edit.new, edit.message)


# Lines as the reader splits them: at "\n" only, which is also all that `^` and `$` know here.
_SECTION_START: Final = re.compile(r"^(?:СекцияРасчСчет\r?$|СекцияДокумент=)", re.M)
_ACCOUNT_START: Final = re.compile(r"^СекцияРасчСчет\r?$", re.M)
_SECTION_END: Final = re.compile(r"^(?:КонецРасчСчет|КонецДокумента)\r?$", re.M)
_DOCUMENT_EDGE: Final = re.compile(r"^(?:(СекцияДокумент=)|КонецДокумента\r?$)", re.M)


class _Sections:
    """Where the sections of a statement that tarvik_py read stand in its text.

    Decoding and scanning cost about one more pass over the input, paid only when a line is
    asked for: the records themselves carry no line numbers.
    """

    def __init__(self, data: bytes, encoding: str) -> None:
        self.text = _decoded(data, encoding)
        self._starts = _SECTION_START.finditer(self.text)
        self._found: list[int] = []
        self._line_at = (0, 1)  # an offset and its line number, to count on from

    def lineno(self, offset: int) -> int:
        at, line = self._line_at
        if offset < at:
            at, line = 0, 1
        line += self.text.count("\n", at, offset)
        self._line_at = (offset, line)
        return line

    def key_line(self, ordinal: int, key: str) -> int:
        """The line of the last `key=` in the `ordinal`-th section (the value the reader kept)."""
        while len(self._found) <= ordinal:
            self._found.append(next(self._starts).start())
        start = self._found[ordinal]
        end_match = _SECTION_END.search(self.text, start)
        end = end_match.start() if end_match else len(self.text)
        at = self.text.rfind(f"\n{key}=", start, end)
        return self.lineno(start if at < 0 else at + 1)

    def accounts(self) -> Iterator[tuple[int, dict[str, str]]]:
        """The opening line and the key/value lines of every account section, in file order."""
        for match in _ACCOUNT_START.finditer(self.text):
            end = _SECTION_END.search(self.text, match.end())
            body = self.text[match.end() : end.start() if end else len(self.text)]
            attrs: dict[str, str] = {}
            for line in body.split("\n"):
                key, eq, value = line.removesuffix("\r").partition("=")
                if eq:
                    attrs[key] = value
            yield self.lineno(match.start()), attrs

    def documents(self) -> Iterator[tuple[int, int]]:
        """The opening and closing line of every document section, in file order."""
        start = 0
        for match in _DOCUMENT_EDGE.finditer(self.text):
            if match.group(1):
                start = self.lineno(match.start())
            else:
                yield start, self.lineno(match.start())


# A section's figures as the reader compares intervals: dates as days, amounts by value.
_DAY_MONTH_YEAR: Final = re.compile(r"\s*(\d{1,2})\.\s*(\d{1,2})\.\s*([+-]\d+|\d{1,4})")


def _section_figures(attrs: dict[str, str]) -> tuple[object, ...]:
    out: list[object] = []
    for f in INTERVAL_FIELDS:
        text = attrs.get(f.key)
        if text is None or (f.kind is Kind.DATE and not text.strip()):
            out.append(None)
        elif f.kind is Kind.DATE:
            match = _DAY_MONTH_YEAR.fullmatch(text)
            out.append(match and (int(match[3]), int(match[2]), int(match[1])))
        else:
            out.append(_decimal(text))
    return tuple(out)


def _record_figures(interval: tarvik_py.Interval) -> tuple[object, ...]:
    out: list[object] = []
    for f in INTERVAL_FIELDS:
        text = getattr(interval, f.attr)
        if text is None:
            out.append(None)
        elif f.kind is Kind.DATE:
            out.append(record_date(text))
        else:
            out.append(_decimal(text))
    return tuple(out)


def _decimal(text: str) -> decimal.Decimal | None:
    try:
        return decimal.Decimal(text.replace("_", ""))
    except decimal.InvalidOperation:
        return None


def _decoded(data: bytes, encoding: str) -> str:
    if encoding == "utf-8":
        return data.decode("utf-8")
    # tarvik_py takes the byte-order marks of UTF-16 itself and reports such input as cp1251.
    if data.startswith(codecs.BOM_UTF16_LE):
        return data[2:].decode("utf-16-le")
    if data.startswith(codecs.BOM_UTF16_BE):
        return data[2:].decode("utf-16-be")
    # Only the line structure and the keys matter here, and both are the same in Python's cp1251.
    return data.decode("cp1251", "replace")

