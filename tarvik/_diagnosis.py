"""Why a file is not a statement, or where a truncated one stops: worked out only after a failure.

`tarvik_py` says "Input is not a 1C statement" for an empty file, a PDF, UTF-16 without its
byte-order mark, a DOS file that does not say so and a misspelt first line alike, and "Statement
is not finished" wherever a file was cut. `explain` looks at the bytes again and adds the reason
to the exception as a note, so a traceback shows it; `reason` finds it again for a one-line
message. The exception and its message stay exactly as `tarvik_py` made them.
"""

from __future__ import annotations

import codecs
import collections
import re
import unicodedata
from typing import Final

import tarvik_py

from . import _encodings

__all__ = ["Reason", "explain", "message", "reason"]

MARKER: Final = "1CClientBankExchange"
_SHOWN: Final = 48  # characters of a line shown in a reason; longer lines are cut
# Where the first bytes name a format, the reason names it.
_SIGNATURES: Final = (
    (b"%PDF-", "a PDF document"),
    (b"PK\x03\x04", "a ZIP archive (an .xlsx or .docx file is one)"),
    (b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1", "an old Office document (.xls or .doc)"),
    (b"\x1f\x8b", "gzip-compressed"),
)
_HEAD: Final = 4096  # bytes looked at to tell binary data and UTF-16 without a mark
_RATIO_SAMPLE: Final = 1 << 20  # characters in which stray bytes are weighed against the rest
_DOS_KEYS: Final = tuple(
    k.encode("cp866") for k in ("КонецФайла", "СекцияДокумент=", "ВерсияФормата=", "Кодировка=")
)
_DOS_DECLARATION: Final = ("\n" + _encodings.ENCODING_KEY + "=").encode("cp866")


class Reason(str):
    """The note `explain` adds: its text, and the line it is about where there is one."""

    lineno: int | None

    def __new__(cls, lineno: int | None, text: str) -> Reason:
        self = super().__new__(cls, text)
        self.lineno = lineno
        return self

    def __reduce__(self) -> tuple[type[Reason], tuple[int | None, str]]:
        return Reason, (self.lineno, str(self))


def explain(exc: tarvik_py.ParseError, data: bytes) -> None:
    """Adds to `exc`, raised for `data`, a note that says why, where the bytes tell."""
    found = diagnose(exc, data)
    if found is not None:
        exc.add_note(found)


def reason(exc: BaseException) -> Reason | None:
    """The note `explain` added to `exc`, if any."""
    return next((n for n in getattr(exc, "__notes__", ()) if isinstance(n, Reason)), None)


def message(exc: BaseException) -> str:
    """The exception's message, with the reason after it where `explain` found one."""
    found = reason(exc)
    return str(exc) if found is None else f"{exc}: {found}"


def diagnose(exc: tarvik_py.ParseError, data: bytes) -> Reason | None:
    """Why `tarvik_py` raised `exc` for `data` (the bytes it read); None where that is unclear."""
    if isinstance(exc, tarvik_py.NotStatementError):
        return _not_statement(data)
    if isinstance(exc, tarvik_py.UnfinishedError):
        return _unfinished(_text(data))
    return None


def _not_statement(data: bytes) -> Reason | None:
    if not data:
        return Reason(None, "the file is empty")
    if not data.strip():
        return Reason(None, "the file holds only white space")
    for signature, kind in _SIGNATURES:
        if data.startswith(signature):
            return Reason(None, f"the file is {kind}, not text")
    if data.startswith((codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE)):
        return _utf16(data)
    order = _utf16_order(data[:_HEAD])
    if order is not None:
        mark = "FF FE" if order == "little-endian" else "FE FF"
        return Reason(
            None,
            f"the text is UTF-16 ({order}) without a byte-order mark: save it with the mark "
            f"({mark}), or as Windows-1251 or UTF-8",
        )
    control = _control_byte(data[:_HEAD])
    if control is not None:
        return Reason(
            None, f"the file is binary, not text: byte 0x{data[control]:02X} at offset {control}"
        )
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        # The first line and the share of odd characters are judged on the leading bytes alone.
        head = _encodings.decode(data[: _encodings.PLAUSIBLE_SAMPLE * 4], "cp1251")
        return _first_line(head) or _dos(data) or _stray_bytes(data) or _implausible(head)
    return _first_line(text)


def _utf16(data: bytes) -> Reason | None:
    codec = "utf-16-le" if data.startswith(codecs.BOM_UTF16_LE) else "utf-16-be"
    body = data[2:]
    try:
        text = body.decode(codec)
    except UnicodeDecodeError as exc:
        line = body[: exc.start].decode(codec, "replace").count("\n") + 1
        what = (
            "ends in half a unit"
            if exc.end == len(body) and len(body) % 2
            else "holds an unpaired surrogate"
        )
        return Reason(
            line, f"the text is UTF-16 after its byte-order mark, but {what} at line {line}"
        )
    return _first_line(text) or _implausible(text)


def _utf16_order(head: bytes) -> str | None:
    """Which UTF-16 the bytes are, judged by where their zero bytes stand, or None."""
    even, odd = head[0::2], head[1::2]
    if len(odd) < 8:
        return None
    zeros_even, zeros_odd = even.count(0) / len(even), odd.count(0) / len(odd)
    if zeros_odd > 0.3 and zeros_even < 0.05:
        return "little-endian"
    if zeros_even > 0.3 and zeros_odd < 0.05:
        return "big-endian"
    return None


def _control_byte(head: bytes) -> int | None:
    """The offset of the first zero byte, or of the first control byte where they are many."""
    zero = head.find(0)
    if zero >= 0:
        return zero
    controls = [i for i, b in enumerate(head) if b < 0x20 and b not in b"\t\n\f\r\x1a"]
    return controls[0] if len(controls) * 10 > len(head) else None


def _first_line(text: str) -> Reason | None:
    lines = text.split("\n", 50)
    first = lines[0].removesuffix("\r")
    if first == MARKER:
        return None
    later = next(
        (n for n, line in enumerate(lines[1:50], 2) if line.removesuffix("\r") == MARKER), None
    )
    if later is not None:
        return Reason(1, f"the marker {MARKER} is line {later}; it must be the first line")
    hint = ""
    if first.strip() == MARKER:
        hint = ": white space around it"
    elif first.strip().casefold() == MARKER.casefold():
        hint = ": the letters' case differs"
    elif first.startswith("\ufeff"):
        hint = ": it begins with a second byte-order mark"
    return Reason(1, f"the first line {_shown(first)} is not the marker {MARKER}{hint}")


def _dos(data: bytes) -> Reason | None:
    if not any(key in data for key in _DOS_KEYS):
        return None
    at = data.find(_DOS_DECLARATION)
    if at < 0:
        return Reason(
            None, "the text is in code page 866 (DOS), but its header does not say Кодировка=DOS"
        )
    end = data.find(b"\n", at + 1)
    declared = data[at + 1 : end if end >= 0 else len(data)].decode("cp866").strip()
    line = data.count(b"\n", 0, at) + 2
    return Reason(
        line, f"the text is in code page 866 (DOS), but its header says {declared} at line {line}"
    )


def _stray_bytes(data: bytes) -> Reason | None:
    """UTF-8 but for a few bytes: the first of them, with its line."""
    replaced = data.decode("utf-8", "replace")
    # Replacement characters that the file holds itself are no stray bytes.
    strays = replaced.count("\ufffd") - data.count("\ufffd".encode())
    head = replaced[:_RATIO_SAMPLE]
    multibyte = len(head) - len(head.encode("ascii", "ignore")) - head.count("\ufffd")
    if not multibyte or strays * 20 > multibyte * max(1, len(replaced) // _RATIO_SAMPLE):
        return None
    try:
        data.decode("utf-8")
    except UnicodeDecodeError as exc:
        line = data.count(b"\n", 0, exc.start) + 1
        bad = " ".join(f"0x{b:02X}" for b in data[exc.start : exc.end])
        others = f" (and {strays - 1} more)" if strays > 1 else ""
        return Reason(line, f"the text is UTF-8 except for the byte {bad} at line {line}{others}")
    return None


def _implausible(text: str) -> Reason | None:
    found = _encodings.odd_characters(text)
    if found is None:
        return None
    odd, size = found
    bad = sum(odd.values())
    common = ", ".join(
        f"{ch!r} ({unicodedata.name(ch, 'a control character').lower()})"
        for ch, _ in odd.most_common(3)
    )
    share = bad * 100 // size
    return Reason(
        None,
        f"read as Windows-1251, {bad} of the first {size} characters ({share} %) are neither "
        f"letters, digits, punctuation nor white space, most often {common}; a Windows-1251 "
        "statement may have at most 4 % of them",
    )


# The lines that open and close sections, as the reader matches them: whole lines, exactly.
_SECTION_EDGE: Final = re.compile(
    r"^(?:(СекцияРасчСчет)|(СекцияДокумент=[^\n]*?)|КонецРасчСчет|КонецДокумента)\r?$", re.M
)


def _unfinished(text: str) -> Reason:
    """Which section the text leaves open at its end, and the line it began on."""
    last = text.count("\n") + (not text.endswith("\n"))
    edges = collections.deque(_SECTION_EDGE.finditer(text), maxlen=1)
    edge = edges[0] if edges else None
    if edge is None:
        return Reason(
            1,
            f"the file ends at line {last} in the header, which begins at line 1: no section "
            "and no КонецФайла follow",
        )
    line = text.count("\n", 0, edge.start()) + 1
    if edge.group(1) is None and edge.group(2) is None:
        after = "" if last == line else f" (its last line is {last})"
        return Reason(
            line,
            f"the file ends after the section closed at line {line}{after}, without КонецФайла",
        )
    what, closing = (
        ("account", "КонецРасчСчет") if edge.group(1) else ("document", "КонецДокумента")
    )
    opening = _shown(edge.group(1) or edge.group(2))
    return Reason(
        line,
        f"the file ends at line {last} inside the {what} section that begins at line {line} "
        f"({opening}): {closing} is missing",
    )


def _text(data: bytes) -> str:
    """`data` decoded as the reader would have, for counting lines."""
    for bom, codec in ((codecs.BOM_UTF16_LE, "utf-16-le"), (codecs.BOM_UTF16_BE, "utf-16-be")):
        if data.startswith(bom):
            return data[len(bom) :].decode(codec, "replace")
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        return _encodings.decode(data, "cp1251")


def _shown(line: str) -> str:
    return repr(line if len(line) <= _SHOWN else line[: _SHOWN - 1] + "…")
