#!/usr/bin/env python3
"""Grows a real statement file to size by repeating its document sections as the bank wrote them.

The marker line, the header and the account sections stay once, as they are; the document
sections (each with the blank lines after it) are repeated in their order, in whole rounds,
until the file reaches the size asked; what follows the last document (`КонецФайла`) closes
the file. Nothing is decoded or rewritten: the copies keep the file's encoding, line ends, odd
keys and values byte for byte, so a reader does on the grown file what it does on the original,
once per round: the same documents, warnings and repairs, the same number of times.

    python3 bench/grow_corpus.py ../shared/corpus/real/condo_statement_utf8.txt --size-mb 50 \\
        -o build/bench-data/condo-50mb.txt

With `--damage` the repeated documents each carry a page number pasted after them (`- 2 -`, as
a statement printed and scanned back leaves it), a line that is no key=value line: the reader
then reads past a damaged line for every document.

`ensure` does the same for the benchmarks, cached under build/bench-data/ by the source's
content, the size and this file's own source, with what it grew in a `.json` beside the file.
"""

from __future__ import annotations

import argparse
import hashlib
import json
import os
import sys
from dataclasses import dataclass
from pathlib import Path

MB = 1_000_000

# A document section opens with "СекцияДокумент=TYPE" (or, in some writers' files, a bare
# "СекцияДокумент") and closes with "КонецДокумента". The files are in UTF-8 or Windows-1251, and
# one corpus file mixes the two, so both spellings of the keywords are recognised on every line.
_OPEN = tuple("СекцияДокумент".encode(e) for e in ("utf-8", "cp1251"))
_CLOSE = tuple("КонецДокумента".encode(e) for e in ("utf-8", "cp1251"))


@dataclass(frozen=True)
class Layout:
    """A statement cut where its documents begin and end; `head + body + tail` is the file."""

    head: bytes  # the marker line, the header and the account sections before the first document
    body: bytes  # from the first document's opening line to the end of the last one's blank lines
    documents: tuple[bytes, ...]  # each document section and the blank lines after it, in order
    tail: bytes  # what follows: "КонецФайла" and whatever the bank wrote after it

    @property
    def round_bytes(self) -> int:
        return sum(len(d) for d in self.documents)


def _opens_document(content: bytes) -> bool:
    return any(content == k or content.startswith(k + b"=") for k in _OPEN)


def split(data: bytes) -> Layout:
    """Cuts `data` into head, documents and tail; ValueError where it has no whole document."""
    blocks: list[tuple[int, int]] = []  # each document's start and end offsets
    opened: int | None = None  # the offset of the open document's first line
    first_line = 0  # the open document's line number, for the error
    lineno = 0
    at = 0
    while at < len(data):
        newline = data.find(b"\n", at)
        end = len(data) if newline < 0 else newline + 1
        # Lines end at "\n" only, as the reader splits them; a CR before it is part of the end.
        content = data[at:end].rstrip(b"\n").removesuffix(b"\r")
        lineno += 1
        if opened is None:
            if _opens_document(content):
                opened, first_line = at, lineno
            elif blocks and blocks[-1][1] == at and not content.strip():
                blocks[-1] = (blocks[-1][0], end)  # a blank line after a document goes with it
        elif content in _CLOSE:
            if newline < 0:
                raise ValueError(f"line {lineno}: the last document section ends the file")
            blocks.append((opened, end))
            opened = None
        elif _opens_document(content):
            raise ValueError(f"line {first_line}: a document section is not closed")
        at = end
    if opened is not None:
        raise ValueError(f"line {first_line}: a document section is not closed")
    if not blocks:
        raise ValueError("no document section to repeat")
    start, stop = blocks[0][0], blocks[-1][1]
    return Layout(data[:start], data[start:stop], tuple(data[a:b] for a, b in blocks), data[stop:])


def rounds_for(layout: Layout, size: int) -> int:
    """How many rounds of the documents make the file at least `size` bytes (at least one)."""
    once = len(layout.head) + len(layout.body) + len(layout.tail)
    more = max(0, size - once)
    return 1 + -(-more // layout.round_bytes)


# What `damage` pastes after each repeated document, before its line end.
DAMAGE_LINE = b"- 2 -"


def _damaged(document: bytes) -> bytes:
    """The document section with a page number after it, in the line ends it has."""
    eol = b"\r\n" if document.endswith(b"\r\n") else b"\n"
    return document + DAMAGE_LINE + eol


def grow(data: bytes, size: int, damage: bool = False) -> tuple[bytes, int]:
    """`data` with its documents repeated in whole rounds to at least `size` bytes; the rounds.

    Account sections standing between documents stay where they are, in the first round only.
    With `damage`, each repeated document is followed by a line that is no key=value line.
    """
    layout = split(data)
    rounds = rounds_for(layout, size)
    documents = [_damaged(d) for d in layout.documents] if damage else layout.documents
    repeated = b"".join(documents) * (rounds - 1)
    return layout.head + layout.body + repeated + layout.tail, rounds


def _hash(data: bytes) -> str:
    return hashlib.sha256(data).hexdigest()


def cached_path(source: Path, size_mb: float, data_dir: Path, damage: bool = False) -> Path:
    """Where `ensure` keeps `source` grown to `size_mb`: named by what the content depends on."""
    this = _hash(Path(__file__).read_bytes())[:8]
    kind = "-damaged" if damage else ""
    content = _hash(source.read_bytes())[:8]
    return data_dir / f"corpus-{source.stem}{kind}-{size_mb:g}mb-{content}-{this}.txt"


def write(source: Path, size_mb: float, out: Path, damage: bool = False) -> dict[str, object]:
    """Writes `source` grown to `size_mb` to `out` (through a temporary file); what it grew."""
    data = source.read_bytes()
    grown, rounds = grow(data, int(size_mb * MB), damage)
    out.parent.mkdir(parents=True, exist_ok=True)
    partial = out.with_name(out.name + ".part")
    partial.write_bytes(grown)
    os.replace(partial, out)
    return {
        "source": source.name,
        "source_sha256": _hash(data),
        "source_bytes": len(data),
        "bytes": len(grown),
        "rounds": rounds,
        "document_sections": rounds * len(split(data).documents),
        "damaged_lines": (rounds - 1) * len(split(data).documents) if damage else 0,
    }


def ensure(
    source: Path, size_mb: float, data_dir: Path, damage: bool = False
) -> tuple[Path, dict[str, object]]:
    """The grown file, made where it is not cached yet, and what `write` said of it."""
    path = cached_path(source, size_mb, data_dir, damage)
    meta_path = Path(f"{path}.json")
    if not (path.exists() and meta_path.exists()):
        meta = write(source, size_mb, path, damage)
        meta_path.write_text(json.dumps(meta, indent=1), encoding="utf-8")
    loaded: dict[str, object] = json.loads(meta_path.read_text(encoding="utf-8"))
    return path, loaded


def main(argv: list[str] | None = None) -> int:
    p = argparse.ArgumentParser(description=(__doc__ or "").split("\n\n")[0])
    p.add_argument("file", type=Path, help="a statement file with at least one document section")
    p.add_argument("--size-mb", type=float, required=True, help="the least size of the output")
    p.add_argument("-o", "--output", type=Path, required=True)
    p.add_argument(
        "--damage", action="store_true", help="paste a page number after each repeated document"
    )
    args = p.parse_args(argv)
    try:
        meta = write(args.file, args.size_mb, args.output, args.damage)
    except ValueError as e:
        print(f"{args.file}: {e}", file=sys.stderr)
        return 1
    print(
        f"{args.output}: {meta['bytes']:,} bytes, {meta['rounds']:,} rounds of "
        f"{meta['source']}'s documents ({meta['document_sections']:,} document sections)"
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
