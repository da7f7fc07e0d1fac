"""What is the file's fault, and where: the exceptions that reading a statement raises for what a
file holds or where it lies, and the line each names.

The command reports these, file by file, and goes on; `check` and `tarvik.many` make them
findings and rows. Anything else (a wrong argument, no memory) is raised as it is.
"""

from __future__ import annotations

from typing import Final

import tarvik_py

from . import _diagnosis

__all__ = ["FILE_FAULTS", "LinedFault", "error_name", "line_of", "message_of"]


class LinedFault(ValueError):
    """A fault of the file that tarvik finds in what was read, and the line it stands on."""

    def __init__(self, message: str, lineno: int | None) -> None:
        super().__init__(message)
        self.lineno = lineno


# What reading a statement raises for the file: what it holds, or that it cannot be read.
FILE_FAULTS: Final = (tarvik_py.ParseError, OSError)


def line_of(exc: BaseException) -> int | None:
    """The line a failure is about, where it names one."""
    if isinstance(exc, tarvik_py.SyntaxError):
        return exc.detail.lineno
    if isinstance(exc, LinedFault):
        return exc.lineno
    found = _diagnosis.reason(exc)
    return None if found is None else found.lineno


def message_of(exc: BaseException) -> str:
    """The exception's message, with the reason `tarvik.read` found after it."""
    return _diagnosis.message(exc)


def error_name(exc: BaseException) -> str:
    """The exception's class as code names it: tarvik_py.SyntaxError, not the builtin."""
    kind = type(exc)
    if kind.__module__ == "builtins":
        return kind.__qualname__
    return f"{kind.__module__}.{kind.__qualname__}"
