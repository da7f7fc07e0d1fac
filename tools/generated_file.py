"""Writes a generated source file, or with --check tells whether the committed one is current."""

import pathlib
import sys


def write_or_check(path: pathlib.Path, text: str, check: bool, regenerate: str) -> int:
    """Returns the exit status: 1 when checking finds `path` stale, else 0."""
    if check:
        current = path.read_text(encoding="utf-8") if path.exists() else None
        if current != text:
            print(f"{path} is stale; regenerate with: {regenerate}", file=sys.stderr)
            return 1
        return 0
    path.write_text(text, encoding="utf-8")
    return 0
