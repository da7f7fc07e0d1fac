"""Which files the paths given to a command name: each file once, and in a folder only statements.

A path is a file, a folder (read recursively, in name order, hidden entries left out) or a glob
pattern. A file is named by its path as given, normalised (`./a.txt` is `a.txt`), and read once
however many paths name it (a folder and a glob, the same path twice, a link). In a folder walk,
a file that does not begin like a statement (a README, a PDF, a `.csv`) is skipped: see
`begins_like_statement`. A file named on its own, or matched by a glob as the shell would have
named it, is always read, so that one that is no statement fails as such.
"""

from __future__ import annotations

import codecs
import glob
import os
from collections.abc import Iterable, Sequence
from dataclasses import dataclass, field
from typing import Final

__all__ = ["NO_MATCH", "Expansion", "Paths", "begins_like_statement", "expand", "patterns"]

# What a function that reads many files takes: one path or pattern, or several.
Paths = str | os.PathLike[str] | Iterable[str | os.PathLike[str]]

NO_MATCH: Final = "no such file, folder or match"

# The first bytes decide; the marker's first twelve letters, in any case, after an optional
# byte-order mark and white space, so a damaged first line still counts as a statement and fails
# with its reason rather than be skipped.
_PREFIX: Final = "1cclientbank"
_HEAD: Final = 256


@dataclass
class Expansion:
    files: list[str] = field(default_factory=list)  # in the order named, each once
    unmatched: list[str] = field(default_factory=list)  # paths that named no file, folder or match
    skipped: list[str] = field(default_factory=list)  # files in folders that are not statements
    no_statement: list[str] = field(default_factory=list)  # folders that hold no statement


def patterns(paths: Paths) -> list[str]:
    """The paths or patterns given, as a list of texts."""
    if isinstance(paths, (str, os.PathLike)):
        return [os.fsdecode(paths)]
    return [os.fsdecode(p) for p in paths]


def begins_like_statement(head: bytes) -> bool:
    """Whether the first bytes of a file are the marker line `1CClientBankExchange`, in any of
    the encodings a statement is written in (UTF-8, Windows-1251, code page 866, UTF-16)."""
    for bom, codec in ((codecs.BOM_UTF16_LE, "utf-16-le"), (codecs.BOM_UTF16_BE, "utf-16-be")):
        if head.startswith(bom):
            text = head[len(bom) :].decode(codec, "ignore")
            break
    else:
        if head[1:2] == b"\0":  # UTF-16 without a mark: the marker's letters are ASCII
            text = head.decode("utf-16-le", "ignore")
        elif head[:1] == b"\0":
            text = head.decode("utf-16-be", "ignore")
        else:  # the marker is ASCII, and so is its form in the single-byte encodings and UTF-8
            text = head.removeprefix(codecs.BOM_UTF8).decode("latin-1")
    return text.lstrip().casefold().startswith(_PREFIX)


def _is_statement(path: str) -> bool:
    try:
        with open(path, "rb") as f:
            return begins_like_statement(f.read(_HEAD))
    except OSError:
        return True  # reading it will say what is wrong


def _identity(path: str) -> object:
    try:
        stat = os.stat(path)
    except OSError:
        return os.path.normpath(path)
    return stat.st_dev, stat.st_ino


def expand(
    patterns: Sequence[str], *, skip_others: bool = True, exclude: str | None = None
) -> Expansion:
    """The files `patterns` name; `skip_others=False` keeps every file of a folder. The file
    `exclude` (a command's own output) is left out without a word."""
    out = Expansion()
    seen: set[object] = set()
    skipped: set[str] = set()
    if exclude is not None and os.path.exists(exclude):
        seen.add(_identity(exclude))

    def add(path: str) -> None:
        key = _identity(path)
        if key not in seen:
            seen.add(key)
            out.files.append(os.path.normpath(path))

    for pattern in patterns:
        if os.path.isfile(pattern):
            add(pattern)
        elif os.path.isdir(pattern):
            found = 0
            for folder, dirs, files in os.walk(pattern):
                dirs[:] = sorted(d for d in dirs if not d.startswith("."))
                for name in sorted(f for f in files if not f.startswith(".")):
                    path = os.path.join(folder, name)
                    if _identity(path) in seen:
                        found += 1
                        continue
                    if skip_others and not _is_statement(path):
                        if os.path.normpath(path) not in skipped:
                            skipped.add(os.path.normpath(path))
                            out.skipped.append(os.path.normpath(path))
                        continue
                    found += 1
                    add(path)
            if not found:
                out.no_statement.append(pattern)
        else:
            matches = sorted(p for p in glob.glob(pattern, recursive=True) if os.path.isfile(p))
            if not matches:
                out.unmatched.append(pattern)
            for path in matches:
                add(path)
    return out
