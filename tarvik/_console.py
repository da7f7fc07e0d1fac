"""The command's standard output and error, made safe for the two things a console does to them.

A reader such as `head` may close the pipe early: what is written after that is dropped, without
a traceback and without Python's "Exception ignored ... BrokenPipeError" at exit, and the command
learns of it (`closed`) instead of being stopped, so its exit status still says what it found.
A console whose encoding cannot show a character (cp1251 has no `−`) gets it escaped
(`\\u2212`) rather than a UnicodeEncodeError; text it can show is written byte for byte as before.
"""

from __future__ import annotations

import io
import os
import sys
from collections.abc import Iterator
from contextlib import contextmanager

__all__ = ["closed", "guarded"]


class _Sink(io.RawIOBase):
    """A file descriptor that swallows a broken pipe and remembers it."""

    def __init__(self, fd: int) -> None:
        super().__init__()
        self.fd = fd
        self.broken = False

    def writable(self) -> bool:
        return True

    def fileno(self) -> int:
        return self.fd

    def isatty(self) -> bool:
        return os.isatty(self.fd)

    def write(self, data: object) -> int:
        view = memoryview(data)  # type: ignore[arg-type]  # a bytes-like object, as io passes
        if not self.broken:
            try:
                return os.write(self.fd, view)
            except BrokenPipeError:
                self.broken = True
        return view.nbytes


def _guard(stream: io.TextIOWrapper) -> tuple[io.TextIOWrapper, _Sink] | None:
    try:
        fd = stream.fileno()
    except (AttributeError, OSError, ValueError):  # not a file: a test's StringIO, or none at all
        return None
    stream.flush()
    sink = _Sink(fd)
    wrapper = io.TextIOWrapper(
        io.BufferedWriter(sink),
        encoding=stream.encoding,
        errors="backslashreplace",
        line_buffering=stream.line_buffering,
    )
    return wrapper, sink


_stdout: list[_Sink] = []  # the sink under sys.stdout while guarded


@contextmanager
def guarded() -> Iterator[None]:
    """`sys.stdout` and `sys.stderr`, for the time of the block, as described above."""
    saved = sys.stdout, sys.stderr
    made = []
    for name in ("stdout", "stderr"):
        guard = _guard(getattr(sys, name))
        if guard is not None:
            setattr(sys, name, guard[0])
            made.append(guard)
            if name == "stdout":
                _stdout.append(guard[1])
    try:
        yield
    finally:
        for wrapper, _ in made:
            wrapper.flush()
        sys.stdout, sys.stderr = saved
        _stdout.clear()


def closed() -> bool:
    """Whether the reader of standard output has gone (a closed pipe)."""
    return any(sink.broken for sink in _stdout)
