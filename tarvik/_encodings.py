"""The encodings `tarvik` reads and writes, how a DOS (code page 866) file is recognised, and
when the reader takes bytes for Windows-1251.

`tarvik_py` takes UTF-8 and Windows-1251 itself. The format's third encoding, `Кодировка=DOS`,
is code page 866, which `tarvik_py` would misread as Windows-1251; such a file is recognised by
its own header, in its own bytes: a header line `Кодировка=DOS` whose key is written in code page
866. A key written in any other encoding is a different byte string, so a file that says DOS but
is written in Windows-1251 or UTF-8 is read as what it is.

Bytes that are not UTF-8 are Windows-1251 to `tarvik_py` only where they read as plausible text:
of the first 20480 characters, more than 95 in a hundred must be ASCII letters, digits,
punctuation, tab, line feed, form feed, carriage return and space, or characters from U+0400 up.
`tarvik_py` decides; `odd_characters` says why, for a message.
"""

from __future__ import annotations

import codecs
import collections
import re
from typing import Final, Literal

FileEncoding = Literal["utf-8", "cp1251", "cp866"]  # what `write` writes
# What a file read was written in: also UTF-16 with its byte-order mark, which `tarvik_py` reads
# (and calls "cp1251") but no bank writes back.
ReadEncoding = Literal["utf-8", "cp1251", "cp866", "utf-16"]

ENCODING_KEY: Final = "Кодировка"
# The header's `Кодировка` value for each encoding the writer writes.
DECLARED: Final[dict[str, str]] = {"cp1251": "Windows", "cp866": "DOS", "utf-8": "UTF-8"}

_DOS_KEY_LINE: Final = b"\n" + ENCODING_KEY.encode("cp866") + b"="
# Header lines end where the first section opens, in whichever encoding the file is; a header
# key that merely begins like a section (`СекцияX=1`) does not end them.
_SECTION_START: Final = re.compile(
    b"\n(?:"
    + b"|".join(
        re.escape("СекцияДокумент=".encode(e))
        + b"|"
        + re.escape("СекцияРасчСчет".encode(e))
        + b"\r?(?:\n|$)"
        for e in ("cp866", "cp1251", "utf-8")
    )
    + b")"
)
_HEAD: Final = 1 << 16

PLAUSIBLE_SAMPLE: Final = 20480  # characters, from the start
PLAUSIBLE_PERCENT: Final = 95  # the share of plain characters must be above it
_PLAIN: Final = frozenset("\t\n\x0c\r " + "".join(chr(c) for c in range(0x21, 0x7F)))


def declares_dos(value: str) -> bool:
    """Whether a `Кодировка` value names code page 866."""
    return value.strip().upper() == "DOS"


def _header_end(data: bytes) -> int:
    found = _SECTION_START.search(data, 0, _HEAD)
    return found.start() if found else len(data)


def is_dos(data: bytes) -> bool:
    """Whether the header of `data` declares `Кодировка=DOS` with the key in code page 866."""
    end = _header_end(data)
    at = data.find(_DOS_KEY_LINE, 0, end)
    if at < 0:
        return False
    start = at + len(_DOS_KEY_LINE)
    stop = data.find(b"\n", start, end)
    value = data[start : end if stop < 0 else stop].decode("cp866")
    return declares_dos(value)


def _windows_1251_errors(error: UnicodeError) -> tuple[str | bytes, int]:
    # The reader maps byte 0x98, which Python's cp1251 leaves undefined, to U+0098.
    if isinstance(error, UnicodeEncodeError) and error.object[error.start] == "\x98":
        return b"\x98", error.start + 1
    if isinstance(error, UnicodeDecodeError) and error.object[error.start] == 0x98:
        return "\x98", error.start + 1
    raise error


codecs.register_error("tarvik-windows-1251", _windows_1251_errors)


def decode(data: bytes, encoding: FileEncoding) -> str:
    """`data` as the reader decodes it from `encoding`."""
    if encoding == "cp1251":
        return data.decode("cp1251", "tarvik-windows-1251")
    return data.decode(encoding)


def encode(text: str, encoding: FileEncoding) -> bytes:
    """`text` in `encoding`, as the reader decodes it; UnicodeEncodeError where it cannot."""
    if encoding == "cp1251":
        return text.encode("cp1251", "tarvik-windows-1251")
    return text.encode(encoding)


def odd_characters(text: str) -> tuple[collections.Counter[str], int] | None:
    """The characters that made the reader refuse `text` as Windows-1251, and the size of the
    sample it judged; None where the sample is plausible."""
    sample = text[:PLAUSIBLE_SAMPLE]
    odd = collections.Counter(c for c in sample if c not in _PLAIN and c < "\u0400")
    bad = sum(odd.values())
    if not sample or (len(sample) - bad) * 100 // len(sample) > PLAUSIBLE_PERCENT:
        return None
    return odd, len(sample)
