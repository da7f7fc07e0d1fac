"""Where and in what form `convert` and `ledger` write: every option checked before any output
is opened, and rows written as CSV or JSON lines.

A mistake (an encoding Python does not know or that cannot hold Cyrillic, a delimiter of two
characters, a format that contradicts the output's name, an option that does not apply to the
format) is a `ConvertError` of one line, and nothing is written.
"""

from __future__ import annotations

import codecs
import contextlib
import csv
import io
import json
import os
import sys
from collections.abc import Callable, Iterable, Iterator, Mapping, Sequence
from dataclasses import dataclass
from typing import IO, Final

from ._cells import AMOUNT_COLUMNS, Value, cell_writer

__all__ = [
    "STDOUT",
    "FORMATS",
    "Output",
    "ConvertError",
    "Row",
    "check_place",
    "plan",
    "write_text",
]

Row = Mapping[str, Value]

STDOUT: Final = "-"
# The output's format by its suffix, where --format does not name it.
SUFFIX_FORMATS: Final = {
    ".csv": "csv",
    ".jsonl": "jsonl",
    ".ndjson": "jsonl",
    ".parquet": "parquet",
}
FORMATS: Final = tuple(sorted(set(SUFFIX_FORMATS.values())))
_NAMES: Final = {"csv": "CSV", "jsonl": "JSON lines", "parquet": "Parquet"}
_CYRILLIC: Final = "АЯаяЁё№"
_DELIMITER_NAMES: Final = {"\\t": "\t", "tab": "\t"}


class ConvertError(ValueError):
    """Why `convert` writes nothing, said in one line: an option that cannot be followed, or
    nothing to convert."""


@dataclass(frozen=True)
class Output:
    path: str  # STDOUT for standard output
    kind: str  # one of FORMATS
    encoding: str  # of CSV and JSON lines
    delimiter: str  # of CSV
    decimal_comma: bool  # CSV amounts as 1500,00
    escape_formulas: bool  # CSV texts that a spreadsheet would run, after an apostrophe


def plan(
    path: str,
    *,
    kind: str | None = None,
    encoding: str | None = None,
    delimiter: str | None = None,
    decimal_comma: bool = False,
    escape_formulas: bool | None = None,
    partitioned: bool = False,
    scale: int | None = None,
) -> Output:
    """The output the options describe; ConvertError for the first that cannot be followed.

    None stands for an option not given.
    """
    suffix = os.path.splitext(path)[1].lower()
    named = SUFFIX_FORMATS.get(suffix)
    if path == STDOUT:
        kind = kind or "csv"
        if kind == "parquet":
            raise ConvertError("Parquet cannot be written to standard output: name a file with -o")
    elif kind is None:
        if named is None:
            raise ConvertError(
                f"cannot tell the format of {path}: name it .csv, .jsonl or .parquet, "
                "or give --format"
            )
        kind = named
    elif named is not None and named != kind:
        raise ConvertError(
            f"--format {kind} contradicts the name {path}: leave out --format, "
            f"or name the output .{kind}"
        )

    def only_for(wanted: tuple[str, ...], option: str, given: bool) -> None:
        if given and kind not in wanted:
            names = " and ".join(_NAMES[w] for w in wanted)
            raise ConvertError(f"{option} applies to {names} output, not {_NAMES[kind]}")

    only_for(("csv",), "--delimiter", delimiter is not None)
    only_for(("csv",), "--decimal-comma", decimal_comma)
    only_for(("csv",), "--no-formula-escape", escape_formulas is False)
    only_for(("csv",), "--encoding", encoding is not None and kind != "jsonl")
    only_for(("parquet",), "--partition-by", partitioned)
    only_for(("parquet",), "--scale", scale is not None)
    if kind == "jsonl" and encoding is not None and _codec_name(encoding) != "utf-8":
        raise ConvertError("JSON lines are UTF-8: --encoding applies to CSV output")
    if kind != "parquet":
        _check_encoding(encoding or "utf-8")
        check_place(path)
    return Output(
        path=path,
        kind=kind,
        encoding=encoding or "utf-8",
        delimiter=_delimiter(delimiter),
        decimal_comma=decimal_comma,
        escape_formulas=escape_formulas is not False,
    )


def _codec_name(encoding: str) -> str | None:
    try:
        return codecs.lookup(encoding).name
    except LookupError:
        return None


def _check_encoding(encoding: str) -> None:
    try:
        _CYRILLIC.encode(encoding)
    except LookupError:
        raise ConvertError(
            f"--encoding {encoding}: not an encoding Python knows (utf-8, utf-8-sig and cp1251 are)"
        ) from None
    except UnicodeEncodeError:
        raise ConvertError(
            f"--encoding {encoding} cannot hold Cyrillic letters: use utf-8, utf-8-sig or cp1251"
        ) from None


def _delimiter(given: str | None) -> str:
    if given is None:
        return ","
    delimiter = _DELIMITER_NAMES.get(given, given)
    if len(delimiter) != 1 or delimiter in "\"'\r\n" or delimiter.isalnum() or delimiter in ".-":
        raise ConvertError(
            f"--delimiter {given!r}: give one character that is no letter, digit, quote, point, "
            "minus or line end, such as ';' or tab"
        )
    return delimiter


def check_place(path: str) -> None:
    """ConvertError where `path` is a folder, or in a folder that does not exist."""
    if path == STDOUT:
        return
    if os.path.isdir(path):
        raise ConvertError(f"{path} is a folder: name a file")
    folder = os.path.dirname(path) or "."
    if not os.path.isdir(folder):
        raise ConvertError(f"cannot write {path}: there is no folder {folder}")


def write_text(
    plan: Output,
    columns: Sequence[str],
    parts: Iterable[Iterable[Row]],
    unwritten: Callable[[Row, str], None],
    *,
    amounts: frozenset[str] = AMOUNT_COLUMNS,
) -> int:
    """Writes the rows of `columns` as CSV or JSON lines, as `plan` says; how many. A row the
    encoding cannot hold goes to `unwritten`, with why, and none of it is written. `amounts`
    are the columns that hold amounts, which stay numbers in a spreadsheet."""
    written = 0
    with _text_output(plan) as out:
        write_row = (
            _csv_writer(out, columns, plan, amounts) if plan.kind == "csv" else _jsonl_writer(out)
        )
        for rows in parts:
            for row in rows:
                try:
                    write_row(row)
                except UnicodeEncodeError as exc:
                    lost = exc.object[exc.start : exc.end]
                    unwritten(row, f"row not written: {plan.encoding} cannot hold {lost!r}")
                else:
                    written += 1
    return written


@contextlib.contextmanager
def _text_output(plan: Output) -> Iterator[IO[str]]:
    """The output file, or standard output in the output's encoding; a file is removed again
    where writing it fails."""
    if plan.path == STDOUT:
        sys.stdout.flush()
        out = io.TextIOWrapper(
            sys.stdout.buffer, encoding=plan.encoding, newline="", write_through=True
        )
        try:
            yield out
        finally:
            out.flush()
            out.detach()
        return
    with open(plan.path, "w", encoding=plan.encoding, newline="") as out:
        try:
            yield out
        except OSError:
            out.close()
            os.remove(plan.path)
            raise


def _csv_writer(
    out: IO[str], columns: Sequence[str], plan: Output, amounts: frozenset[str]
) -> Callable[[Row], None]:
    # Each line is made in a buffer first, so a row that cannot be encoded leaves no half behind.
    buffer = io.StringIO()
    writer = csv.writer(buffer, delimiter=plan.delimiter, lineterminator="\r\n")
    writer.writerow(columns)
    out.write(buffer.getvalue())
    cell = cell_writer(
        escape_formulas=plan.escape_formulas, decimal_comma=plan.decimal_comma, amounts=amounts
    )

    def write_row(row: Row) -> None:
        buffer.seek(0)
        buffer.truncate()
        writer.writerow([cell(c, row[c]) for c in columns])
        out.write(buffer.getvalue())

    return write_row


def _jsonl_writer(out: IO[str]) -> Callable[[Row], None]:
    def write_row(row: Row) -> None:
        out.write(json.dumps(row, ensure_ascii=False) + "\n")

    return write_row
