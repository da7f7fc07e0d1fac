"""The `tarvik` command: show, check and convert statements, many files at once.

Each command is a thin layer over the library function of the same name: it adds argument
parsing, output and exit status. The one rule of the status, for every command: 0 all is well,
1 warnings or mismatches, 2 a file could not be read, an option was wrong, or the run read no
statement at all.
"""

from __future__ import annotations

import argparse
import contextlib
import csv
import functools
import io
import json
import os
import sys
from collections.abc import Callable, Iterable, Iterator, Sequence
from typing import IO, Any, NoReturn, TypeVar

from . import _console, _extras, _output, _paths
from ._cells import cell_writer
from ._dataset import write_partitioned
from ._faults import FILE_FAULTS
from ._findings import Finding, Findings, failure, notices, unread_paths
from .checking import check, mismatches
from .many import DEFAULT_SCALE, MAX_SCALE, read_file, schema
from .reading import read
from .records import DOCUMENT_COLUMNS, INTERVAL_COLUMNS, document_rows, interval_rows

OK, PROBLEMS, UNREADABLE = 0, 1, 2
T = TypeVar("T")


def _statement_paths(
    command: str, patterns: Sequence[str], exclude: str | None = None
) -> tuple[list[str], list[Finding]]:
    """The statements the patterns name, each once; an error for each pattern that names none.

    Files in folders that are not statements are skipped, with one note on stderr.
    """
    found = _paths.expand(patterns, exclude=exclude)
    errors = unread_paths(found.unmatched, found.no_statement)
    if found.skipped:
        shown = ", ".join(found.skipped[:3]) + (", ..." if len(found.skipped) > 3 else "")
        print(
            f"tarvik {command}: skipped {len(found.skipped)} files in folders that do not begin with "
            f"1CClientBankExchange: {shown}",
            file=sys.stderr,
        )
    return found.files, errors


def _in_workers(func: Callable[[str], T], paths: list[str], jobs: int, what: str) -> Iterator[T]:
    """`func` over `paths` in input order, in `jobs` processes, with a progress bar on a terminal."""
    bar = None
    if len(paths) > 1 and sys.stderr.isatty():
        try:
            from tqdm import tqdm
        except ImportError:  # the bar is a nicety; the work does not need it
            pass
        else:
            columns, rows = _terminal_size()
            bar = tqdm(
                total=len(paths), unit="file", desc=what, file=sys.stderr, ncols=columns, nrows=rows
            )
    results: Iterable[T]
    if jobs <= 1 or len(paths) <= 1:
        results = map(func, paths)
        pool = None
    else:
        import concurrent.futures  # a pool only where there is work for one

        pool = concurrent.futures.ProcessPoolExecutor(max_workers=min(jobs, len(paths)))
        results = pool.map(func, paths, chunksize=1)
    try:
        for result in results:
            if bar is not None:
                bar.update()
            yield result
    finally:
        if pool is not None:
            pool.shutdown(cancel_futures=True)
        if bar is not None:
            bar.close()


def _terminal_size() -> tuple[int, int]:
    # A terminal that does not tell its size (0 by 0) would get no bar at all.
    try:
        columns, rows = os.get_terminal_size(sys.stderr.fileno())
    except OSError:
        columns = rows = 0
    return columns or 80, rows or 24


def _status(findings: Iterable[Finding], severities: Iterable[str] = ()) -> int:
    """The exit status of what was found: the findings', or the severities given."""
    severities = {f.severity for f in findings} | set(severities)
    if "error" in severities:
        return UNREADABLE
    return PROBLEMS if severities & {"warning", "mismatch"} else OK


def cmd_show(args: argparse.Namespace) -> int:
    path = args.file
    try:
        reading = read(path, repairs=args.repairs)
    except FILE_FAULTS as exc:
        print(failure(path, exc), file=sys.stderr)
        return UNREADABLE
    statement = reading.statement
    notes = []
    if reading.byte_order_mark:
        notes.append("byte-order mark dropped")
    print(f"{os.path.basename(path)} ({reading.encoding}{'; ' if notes else ''}{', '.join(notes)})")
    print("Header:")
    for key, value in statement.header.items():
        print(f"  {key} = {value}")
    print("Accounts:")
    for number, account in statement.accounts.items():
        print(f"  {number}")
        for interval in account.intervals:
            period = f"{interval.date_start} .. {interval.date_end or '?'}"
            print(
                f"    {period}: opening {interval.start_amount}, "
                f"in {interval.total_income or '-'}, out {interval.total_expense or '-'}, "
                f"closing {interval.end_amount or '-'}"
            )
    print(f"Documents: {len(statement.documents)}")
    for doc in statement.documents:
        print(f"  {doc.doc_date} {doc.doc_type} №{doc.doc_number}: {doc.amount}")
    print(f"Warnings: {len(statement.warnings)}")
    for lineno, message in statement.warnings:
        print(f"  line {lineno}: {message}")
    off = mismatches(reading)
    if off:
        print(f"Mismatches: {len(off)}")
        for line, text in off:
            print(f"  line {line}: {text}")
    print(f"Repairs: {len(reading.changes)}")
    for change in reading.changes:
        print(f"  {change}")
    return PROBLEMS if statement.warnings or off else OK


def _check_one(path: str, repairs: bool) -> Findings:
    return check(path, repairs=repairs, name=path)


def cmd_check(args: argparse.Namespace) -> int:
    paths, findings = _statement_paths("check", args.paths)
    for f in findings:
        print(f)
    files = shown = 0
    severities: set[str] = set()
    for result in _in_workers(
        functools.partial(_check_one, repairs=args.repairs), paths, args.jobs, "check"
    ):
        files += 1
        severities |= result.severities()
        shown += bool(result.write(sys.stdout, repairs=not args.quiet))
    print(f"checked {files} files, {shown} with findings", file=sys.stderr)
    return _status(findings, severities)


Row = dict[str, str | int | None]


def _convert_one(path: str, repairs: bool, intervals: bool) -> tuple[list[Row], list[Finding]]:
    try:
        reading = read(path, repairs=repairs)
    except FILE_FAULTS as exc:
        return [], [failure(path, exc)]
    rows = list(interval_rows(reading) if intervals else document_rows(reading))
    changes = [(c.lineno, c.message) for c in reading.changes]
    return rows, notices(path, changes, reading.statement.warnings)


# What --partition-by takes besides a table's own columns: the year and month of its date.
PERIOD_COLUMNS = ("year", "month")  # pyarrow.compute has a function of each name
DATE_COLUMN = {"documents": "doc_date", "intervals": "date_start"}


def cmd_convert(args: argparse.Namespace) -> int:
    try:
        output = _output.plan(
            args.output,
            kind=args.format,
            encoding=args.encoding,
            delimiter=args.delimiter,
            decimal_comma=args.decimal_comma,
            escape_formulas=args.escape_formulas,
            partitioned=bool(args.partition_by),
            scale=args.scale,
        )
    except _output.OptionError as exc:
        print(f"tarvik convert: {exc}", file=sys.stderr)
        return UNREADABLE
    # A rerun into a folder it reads must not take its own last output for a statement.
    paths, findings = _statement_paths("convert", args.paths, exclude=output.path)
    for f in findings:
        print(f, file=sys.stderr)
    if not paths:
        print("tarvik convert: no statement to convert, nothing written", file=sys.stderr)
        return UNREADABLE
    try:
        if output.kind == "parquet":
            rows_written = _write_parquet(args, paths, findings)
        else:
            rows_written = _write_text(args, output, paths, findings)
    except OSError as exc:
        print(f"tarvik convert: cannot write {output.path}: {exc.strerror or exc}", file=sys.stderr)
        return UNREADABLE
    if rows_written is None:  # said on stderr, or the reader of standard output has gone
        return UNREADABLE
    what = "intervals" if args.intervals else "documents"
    where = "standard output" if output.path == _output.STDOUT else output.path
    print(f"{rows_written} {what} from {len(paths)} files written to {where}", file=sys.stderr)
    return _status(findings)


@contextlib.contextmanager
def _text_output(output: _output.Output) -> Iterator[IO[str]]:
    """The output file, or standard output in the output's encoding; a file is removed again
    where writing it fails."""
    if output.path == _output.STDOUT:
        sys.stdout.flush()
        out = io.TextIOWrapper(
            sys.stdout.buffer, encoding=output.encoding, newline="", write_through=True
        )
        try:
            yield out
        finally:
            out.flush()
            out.detach()
        return
    with open(output.path, "w", encoding=output.encoding, newline="") as out:
        try:
            yield out
        except OSError:
            out.close()
            os.remove(output.path)
            raise


def _write_text(
    args: argparse.Namespace, output: _output.Output, paths: list[str], findings: list[Finding]
) -> int | None:
    """Writes CSV or JSON lines; the rows written, or None where standard output was closed."""
    columns = ("file", "line", *(INTERVAL_COLUMNS if args.intervals else DOCUMENT_COLUMNS))
    rows_written = 0
    with _text_output(output) as out:
        write_row = (
            _csv_writer(out, columns, output) if output.kind == "csv" else _jsonl_writer(out)
        )
        for rows, result in _in_workers(
            functools.partial(_convert_one, repairs=args.repairs, intervals=args.intervals),
            paths,
            args.jobs,
            "convert",
        ):
            _report(result, findings)
            for row in rows:
                try:
                    write_row(row)
                except UnicodeEncodeError as exc:
                    lost = Finding(
                        str(row["file"]),
                        row["line"] if isinstance(row["line"], int) else None,
                        "error",
                        f"row not written: {output.encoding} cannot hold {exc.object[exc.start : exc.end]!r}",
                    )
                    _report([lost], findings)
                else:
                    rows_written += 1
            if _console.closed():
                return None
    return None if _console.closed() else rows_written


def _report(found: Iterable[Finding], findings: list[Finding]) -> None:
    for f in found:
        findings.append(f)
        print(f, file=sys.stderr)


def _table_one(path: str, repairs: bool, table: str, scale: int) -> tuple[Any, list[Finding]]:
    """One file's table for Parquet, and what reading it found, as `check` words it."""
    tables = read_file(path, repairs=repairs, scale=scale)
    found = [Finding(path, f["line"], "error", f["message"]) for f in tables.failures.to_pylist()]
    return getattr(tables, table), found + notices(
        path, _line_messages(tables.changes), _line_messages(tables.warnings)
    )


def _line_messages(table: Any) -> list[tuple[int, str]]:
    return list(zip(table["line"].to_pylist(), table["message"].to_pylist(), strict=True))


def _write_parquet(
    args: argparse.Namespace, paths: list[str], findings: list[Finding]
) -> int | None:
    """Writes one Parquet file, or a dataset folder partitioned by --partition-by; the rows
    written, or None (said on stderr) where nothing could be."""
    try:
        pa = _extras.require("pyarrow", "Parquet")
        pc = _extras.require("pyarrow.compute", "Parquet")
        pq = _extras.require("pyarrow.parquet", "Parquet")
    except ImportError as exc:
        print(f"tarvik convert: {exc}", file=sys.stderr)
        return None
    table = "intervals" if args.intervals else "documents"
    scale = DEFAULT_SCALE if args.scale is None else args.scale
    columns = schema(table, scale)
    partition: list[str] = args.partition_by or []
    unknown = [c for c in partition if c not in columns.names and c not in PERIOD_COLUMNS]
    if unknown:
        known = ", ".join([*PERIOD_COLUMNS, *columns.names])
        print(
            f"tarvik convert: cannot partition by {', '.join(unknown)}: choose from {known}",
            file=sys.stderr,
        )
        return None
    periods = [c for c in PERIOD_COLUMNS if c in partition]
    for period in periods:
        columns = columns.append(pa.field(period, pa.int32()))
    if partition and os.path.isdir(args.output) and os.listdir(args.output):
        print(
            f"tarvik convert: {args.output} is a folder that holds files already: remove it or name another",
            file=sys.stderr,
        )
        return None
    if not partition and os.path.isdir(args.output):
        print(
            f"tarvik convert: {args.output} is a folder: name a file, or give --partition-by",
            file=sys.stderr,
        )
        return None
    rows_written = 0

    def batches() -> Iterator[Any]:
        nonlocal rows_written
        for rows, result in _in_workers(
            functools.partial(_table_one, repairs=args.repairs, table=table, scale=scale),
            paths,
            args.jobs,
            "convert",
        ):
            _report(result, findings)
            dates = rows.column(DATE_COLUMN[table])
            for period in periods:
                rows = rows.append_column(period, getattr(pc, period)(dates).cast(pa.int32()))
            rows_written += rows.num_rows
            yield from rows.to_batches()

    if partition:
        write_partitioned(batches(), args.output, columns, partition)
    else:
        with pq.ParquetWriter(args.output, columns) as writer:
            for batch in batches():
                writer.write_batch(batch)
    return rows_written


def _csv_writer(
    out: IO[str], columns: Sequence[str], output: _output.Output
) -> Callable[[Row], None]:
    # Each line is made in a buffer first, so a row that cannot be encoded leaves no half behind.
    buffer = io.StringIO()
    writer = csv.writer(buffer, delimiter=output.delimiter, lineterminator="\r\n")
    writer.writerow(columns)
    out.write(buffer.getvalue())
    cell = cell_writer(escape_formulas=output.escape_formulas, decimal_comma=output.decimal_comma)

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


class _Parser(argparse.ArgumentParser):
    """argparse, with a mistake said in one line, as the command's other refusals are."""

    def error(self, message: str) -> NoReturn:
        self.exit(UNREADABLE, f"{self.prog}: {message} (see {self.prog} --help)\n")


def _at_least_one(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, not {value}")
    return value


EXIT_STATUS = (
    "Exit status: 0 all is well, 1 warnings or mismatches, 2 a file could not be read, an option "
    "was wrong, or no statement was read at all."
)


class _Version(argparse.Action):
    """--version, which looks the version up only when asked: the lookup takes longer than
    reading a statement of some megabytes."""

    def __call__(
        self,
        parser: argparse.ArgumentParser,
        namespace: argparse.Namespace,
        values: object,
        option_string: str | None = None,
    ) -> NoReturn:
        import importlib.metadata

        try:
            version = importlib.metadata.version("tarvik_py")
        except importlib.metadata.PackageNotFoundError:
            version = "unknown"
        parser.exit(message=f"{parser.prog} {version}\n")


def _parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog="tarvik",
        description="Read, check and convert bank statements in the 1CClientBankExchange format.",
        epilog=EXIT_STATUS,
    )
    parser.add_argument("--version", action=_Version, nargs=0, help="show the version and exit")
    commands = parser.add_subparsers(
        dest="command", required=True, metavar="COMMAND", parser_class=_Parser
    )

    def common(sub: argparse.ArgumentParser) -> None:
        sub.add_argument(
            "--no-repairs",
            dest="repairs",
            action="store_false",
            help="read strictly, as tarvik_py does: no repairs of names, purposes, keys or amounts",
        )

    def many(sub: argparse.ArgumentParser) -> None:
        sub.add_argument(
            "paths",
            nargs="+",
            metavar="PATH",
            help="statement files, folders (read recursively; files in them that do not begin with "
            "1CClientBankExchange are skipped) or glob patterns; each file is read once",
        )
        sub.add_argument(
            "-j",
            "--jobs",
            type=_at_least_one,
            default=os.cpu_count() or 1,
            metavar="N",
            help="worker processes (default: the number of cores, %(default)s here)",
        )
        common(sub)

    show = commands.add_parser(
        "show",
        help="print what a statement holds",
        description="Print the header, accounts, documents, warnings, mismatches and repairs of one statement.",
        epilog=EXIT_STATUS,
    )
    show.add_argument("file", metavar="FILE", help="the statement file")
    common(show)
    show.set_defaults(run=cmd_show)

    check_cmd = commands.add_parser(
        "check",
        help="report errors, warnings, repairs and balances that do not add up",
        description="Read each statement and print every error, skipped document, repair and "
        "interval whose opening + income - expense is not its closing balance, as "
        "FILE:LINE: SEVERITY: MESSAGE. Made for cron jobs and CI.",
        epilog=EXIT_STATUS,
    )
    many(check_cmd)
    check_cmd.add_argument(
        "-q",
        "--quiet",
        action="store_true",
        help="leave out the repairs, in the output and the count",
    )
    check_cmd.set_defaults(run=cmd_check)

    convert = commands.add_parser(
        "convert",
        help="write the documents (or intervals) of statements as CSV, JSON lines or Parquet",
        description="Write one row per document (or per interval with --intervals), with the "
        "source file and the line where its section opens. In CSV and JSON lines, dates are "
        "YYYY-MM-DD and amounts plain decimals, as text; Parquet keeps them typed.",
        epilog="For Excel in Russian: --delimiter ';' --encoding cp1251 (or utf-8-sig) --decimal-comma. "
        + EXIT_STATUS,
    )
    many(convert)
    convert.add_argument(
        "-o",
        "--output",
        required=True,
        metavar="OUT",
        help="OUT.csv, OUT.jsonl or OUT.parquet; - for standard output (CSV unless --format jsonl)",
    )
    convert.add_argument(
        "--format", choices=_output.FORMATS, help="default: from the output's suffix"
    )
    convert.add_argument(
        "--intervals",
        action="store_true",
        help="one row per account interval instead of per document",
    )
    text = convert.add_argument_group("CSV and JSON lines")
    text.add_argument("--delimiter", help="CSV field separator: one character, or tab (default: ,)")
    text.add_argument(
        "--encoding", help="encoding of CSV (default: utf-8; JSON lines are always UTF-8)"
    )
    text.add_argument(
        "--decimal-comma", action="store_true", help="CSV amounts with a decimal comma, 1500,00"
    )
    text.add_argument(
        "--no-formula-escape",
        dest="escape_formulas",
        action="store_const",
        const=False,
        help="write CSV texts that begin with = + - @, a tab or a carriage return as they are, for CSV "
        "that no spreadsheet opens (by default they follow an apostrophe, so that a spreadsheet "
        "shows them as text and does not run them)",
    )
    parquet = convert.add_argument_group(
        "Parquet",
        "OUT.parquet is one Parquet file holding the rows of every statement read. Its columns "
        "are typed: dates date32, amounts decimal128(38, SCALE), line numbers int64, texts "
        "strings. A statement with an amount of more non-zero fraction digits than SCALE is "
        "reported as an error and none of its rows are written. Needs pyarrow "
        "(pip install 'tarvik_py[arrow]').",
    )
    parquet.add_argument(
        "--partition-by",
        action="extend",
        nargs="+",
        metavar="COLUMN",
        help="write OUT as a folder of Parquet files, one subfolder per value (COLUMN=VALUE/), "
        "which DuckDB, polars, Spark and pyarrow read as one dataset; COLUMN is a column of the "
        "rows, or year or month of the document's date (the interval's start with --intervals). "
        "For a ledger: year month; for balances: account.",
    )
    parquet.add_argument(
        "--scale",
        type=int,
        choices=range(0, MAX_SCALE + 1),
        metavar="SCALE",
        help="fraction digits of the amount columns, 0 to %d (default: %d, kopecks)"
        % (MAX_SCALE, DEFAULT_SCALE),
    )
    convert.set_defaults(run=cmd_convert)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    args = _parser().parse_args(argv)
    run: Callable[[argparse.Namespace], int] = args.run
    try:
        with _console.guarded():
            return run(args)
    except KeyboardInterrupt:
        return 130


if __name__ == "__main__":
    sys.exit(main())
