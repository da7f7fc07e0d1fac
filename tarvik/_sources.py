"""What `read`, `to_arrow`, `check` and `tarvik.many` take, loaded once and named one way.

A source is a path, bytes or a binary file. It is named by the path, or by a file's own `name`
where that is a text; bytes have no name, and a label for them says `<bytes>`. Before `tarvik_py`
sees the bytes, a UTF-8 byte-order mark is dropped and a DOS (code page 866) file is decoded.
"""

from __future__ import annotations

import codecs
import os
from dataclasses import dataclass
from typing import BinaryIO, Final

from . import _encodings
from ._encodings import ReadEncoding

__all__ = ["NO_NAME", "Loaded", "Source", "label", "load", "name_of", "prepare"]

Source = str | os.PathLike[str] | bytes | bytearray | memoryview | BinaryIO

NO_NAME: Final = "<bytes>"


@dataclass(frozen=True)
class Loaded:
    """A source's bytes as `tarvik_py` reads them, and what was done to get them."""

    text: bytes  # without a byte-order mark; a DOS file decoded to UTF-8
    byte_order_mark: bool  # a UTF-8 byte-order mark was dropped
    dos: bool  # the file is code page 866
    name: str | None

    @property
    def utf16(self) -> bool:
        """Whether the file is UTF-16, by its byte-order mark, which `tarvik_py` reads itself."""
        return self.text.startswith((codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE))

    def encoding(self, read_as: str) -> ReadEncoding:
        """The file's own encoding, where the reader said it read it `read_as`."""
        if self.dos:
            return "cp866"
        if self.utf16:
            return "utf-16"
        return "utf-8" if read_as == "utf-8" else "cp1251"


def name_of(source: Source) -> str | None:
    """The path of a path, the name of a file that has a text one, else None."""
    if isinstance(source, (str, os.PathLike)):
        return os.fsdecode(source)
    if isinstance(source, (bytes, bytearray, memoryview)):
        return None
    name = getattr(source, "name", None)
    return name if isinstance(name, str) else None


def label(source: Source, name: str | None = None) -> str:
    """What names `source` in findings and tables: `name` where given, else its own name."""
    if name is not None:
        return name
    own = name_of(source)
    return NO_NAME if own is None else own


def load(source: Source) -> Loaded:
    """The bytes of `source`, prepared; OSError where a path cannot be read, TypeError for
    anything that is not a source."""
    if isinstance(source, (str, os.PathLike)):
        with open(source, "rb") as f:
            data = f.read()
    elif isinstance(source, bytes):
        data = source
    elif isinstance(source, (bytearray, memoryview)):
        data = bytes(source)
    else:
        read = getattr(source, "read", None)
        if read is None:
            raise TypeError(
                f"source must be a path, bytes or a binary file, not {type(source).__name__}"
            )
        data = read()
        if not isinstance(data, bytes):
            raise TypeError(
                f"source.read() gave {type(data).__name__}, not bytes: open it in 'rb' mode"
            )
    text, bom, dos = prepare(data)
    return Loaded(text, bom, dos, name_of(source))


def prepare(data: bytes) -> tuple[bytes, bool, bool]:
    """The bytes for tarvik_py, whether a byte-order mark was dropped, whether the file is DOS."""
    bom = data.startswith(codecs.BOM_UTF8)
    if bom:
        data = data[len(codecs.BOM_UTF8) :]
    if _encodings.is_dos(data):
        return data.decode("cp866").encode("utf-8"), bom, True
    return data, bom, False
