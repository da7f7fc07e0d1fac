"""The `tarvik` command: show, check, convert, report and keep the ledger of statements, many
files at once.

Each command is a thin layer over the library function of the same name, with the same option
names: it adds argument parsing, output and exit status. The one rule of the status, for every
command: 0 all is well, 1 warnings, skipped lines or mismatches, 2 a file could not be read, an
option was wrong, or the run read no statement at all.
"""

from __future__ import annotations

import argparse
import functools
import os
import sys
from collections.abc import Callable, Iterable, Sequence
from typing import NoReturn, TextIO

from . import _console, _output, _paths
from ._faults import FILE_FAULTS
from ._findings import Finding, failure, unread_paths
from ._values import MAX_SCALE
from .checking import Checks
from .converting import ConvertError, convert
from .ledger import ledger
from .many import DEFAULT_SCALE
from .reporting import DEFAULT_TITLE, render
from .showing import show

OK, PROBLEMS, UNREADABLE = 0, 1, 2


def _status(findings: Iterable[Finding], severities: Iterable[str] = ()) -> int:
    """The exit status of what was found: the findings', or the severities given."""
    severities = {f.severity for f in findings} | set(severities)
    if "error" in severities:
        return UNREADABLE
    return PROBLEMS if severities & {"warning", "mismatch", "skipped"} else OK


def _say_skipped(command: str, paths: list[str]) -> None:
    """Says in one line which files in folders were left out as no statements."""
    shown = ", ".join(paths[:3]) + (", ..." if len(paths) > 3 else "")
    print(
        f"tarvik {command}: skipped {len(paths)} files in folders that do not begin with "
        f"1CClientBankExchange: {shown}",
        file=sys.stderr,
    )


def _expand(command: str, paths: Sequence[str], out: TextIO) -> tuple[list[str], list[Finding]]:
    """The files the paths name, each once; what they name that is no statement is said on
    stderr (files skipped in folders) and on `out` (paths that name nothing)."""
    found = _paths.expand(paths)
    if found.skipped:
        _say_skipped(command, found.skipped)
    unread = unread_paths(found.unmatched, found.no_statement)
    for f in unread:
        print(f, file=out)
    return found.files, unread


def _to_stderr(finding: Finding) -> None:
    print(finding, file=sys.stderr)


def cmd_show(args: argparse.Namespace) -> int:
    try:
        summary = show(args.file, repairs=args.repairs)
    except FILE_FAULTS as exc:
        print(failure(args.file, exc), file=sys.stderr)
        return UNREADABLE
    print(summary)
    return PROBLEMS if summary.problems else OK


def cmd_check(args: argparse.Namespace) -> int:
    paths, findings = _expand("check", args.paths, sys.stdout)
    files = shown = 0
    severities: set[str] = set()
    checks = Checks(paths, repairs=args.repairs, jobs=args.jobs, progress=True)
    for result in checks:
        files += 1
        severities |= result.severities()
        shown += bool(result.write(sys.stdout, repairs=not args.quiet))
    across = checks.across()
    sys.stdout.write("".join(f"{f}\n" for f in across))
    severities |= {f.severity for f in across}
    more = f", {len(across)} findings across statements" if across else ""
    print(f"checked {files} files, {shown} with findings{more}", file=sys.stderr)
    return _status(findings, severities)


def cmd_convert(args: argparse.Namespace) -> int:
    try:
        done = convert(
            args.paths,
            args.output,
            format=args.format,
            intervals=args.intervals,
            delimiter=args.delimiter,
            encoding=args.encoding,
            decimal_comma=args.decimal_comma,
            escape_formulas=args.escape_formulas is not False,
            partition_by=args.partition_by or (),
            scale=args.scale,
            jobs=args.jobs,
            repairs=args.repairs,
            on_finding=_to_stderr,
            on_skipped=functools.partial(_say_skipped, "convert"),
            progress=True,
        )
    except (ConvertError, ImportError) as exc:
        print(f"tarvik convert: {exc}", file=sys.stderr)
        return UNREADABLE
    except BrokenPipeError:  # the reader of standard output has gone; its rows did not arrive
        return UNREADABLE
    except OSError as exc:
        print(f"tarvik convert: cannot write {args.output}: {exc.strerror or exc}", file=sys.stderr)
        return UNREADABLE
    what = "intervals" if args.intervals else "documents"
    where = "standard output" if args.output == _output.STDOUT else args.output
    print(f"{done.rows} {what} from {done.files} files written to {where}", file=sys.stderr)
    return _status(done.findings)


def cmd_ledger(args: argparse.Namespace) -> int:
    try:
        book = ledger(
            args.paths,
            repairs=args.repairs,
            jobs=args.jobs,
            output=args.output,
            balances=args.balances,
            format=args.format,
            delimiter=args.delimiter,
            encoding=args.encoding,
            decimal_comma=args.decimal_comma,
            escape_formulas=args.escape_formulas is not False,
            on_skipped=functools.partial(_say_skipped, "ledger"),
            progress=True,
        )
    except (ConvertError, ImportError) as exc:
        print(f"tarvik ledger: {exc}", file=sys.stderr)
        return UNREADABLE
    except BrokenPipeError:  # the reader of standard output has gone; its rows did not arrive
        return UNREADABLE
    except OSError as exc:
        print(f"tarvik ledger: cannot write {args.output}: {exc.strerror or exc}", file=sys.stderr)
        return UNREADABLE
    for finding in book.findings:
        print(finding, file=sys.stderr)
    if book.written is None:
        print("tarvik ledger: no statement to book, nothing written", file=sys.stderr)
        return UNREADABLE
    what = "balances" if args.balances else "entries"
    where = "standard output" if args.output == _output.STDOUT else args.output
    print(
        f"{book.written} {what} from {book.files} files written to {where}, "
        f"{len(book.findings)} findings",
        file=sys.stderr,
    )
    return _status((), {f.severity for f in book.findings})


def cmd_report(args: argparse.Namespace) -> int:
    paths, unread = _expand("report", args.paths, sys.stderr)
    if not paths:
        print("tarvik report: no statement to report, nothing written", file=sys.stderr)
        return UNREADABLE
    try:
        book = ledger(paths, repairs=args.repairs)
        page = render(book, title=args.title)
    except ImportError as exc:
        print(f"tarvik report: {exc}", file=sys.stderr)
        return UNREADABLE
    try:
        if args.output == _output.STDOUT:
            sys.stdout.write(page)
        else:
            with open(args.output, "w", encoding="utf-8", newline="\n") as out:
                out.write(page)
    except OSError as exc:
        print(f"tarvik report: cannot write {args.output}: {exc.strerror or exc}", file=sys.stderr)
        return UNREADABLE
    where = "standard output" if args.output == _output.STDOUT else args.output
    print(
        f"report of {len(paths)} files, {len(book.findings)} findings, written to {where}",
        file=sys.stderr,
    )
    return _status(unread, {f.severity for f in book.findings})


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
    "Exit status: 0 all is well, 1 warnings, skipped lines or mismatches, 2 a file could not be "
    "read, an option was wrong, or no statement was read at all."
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
            version = importlib.metadata.version("tarvik")
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
        description="Print the header, accounts, documents, warnings, mismatches and repairs of "
        "one statement.",
        epilog=EXIT_STATUS,
    )
    show.add_argument("file", metavar="FILE", help="the statement file")
    common(show)
    show.set_defaults(run=cmd_show)

    check_cmd = commands.add_parser(
        "check",
        help="report errors, warnings, skipped lines, repairs and balances that do not add up",
        description="Read each statement and print every error, section left out, damaged line "
        "skipped, repair and interval whose opening + income - expense is not its closing "
        "balance, as FILE:LINE: SEVERITY: MESSAGE; then what the ledger finds, as FILE:LINE: "
        "SEVERITY: KIND: MESSAGE: documents that move none of their statement's own accounts "
        "(foreign), intervals whose totals are not their documents' (turnover), and after "
        "every file's, copies of a document that disagree (conflict), balances that do not "
        "follow on (continuity) or disagree where intervals overlap (overlap), days no "
        "statement covers (gap). Made for cron jobs and CI.",
        epilog=EXIT_STATUS,
    )
    many(check_cmd)
    check_cmd.add_argument(
        "-q",
        "--quiet",
        action="store_true",
        help="leave out the repairs, in the output and the count (skipped lines stay)",
    )
    check_cmd.set_defaults(run=cmd_check)

    convert = commands.add_parser(
        "convert",
        help="write the documents (or intervals) of statements as CSV, JSON lines or Parquet",
        description="Write one row per document (or per interval with --intervals), with the "
        "source file and the line where its section opens. In CSV and JSON lines, dates are "
        "YYYY-MM-DD and amounts plain decimals, as text; Parquet keeps them typed.",
        epilog="For Excel in Russian: --delimiter ';' --encoding cp1251 (or utf-8-sig) "
        "--decimal-comma. " + EXIT_STATUS,
    )
    many(convert)

    def written(sub: argparse.ArgumentParser) -> argparse._ArgumentGroup:
        """-o and the options of its format; the group of the text formats' options."""
        sub.add_argument(
            "-o",
            "--output",
            required=True,
            metavar="OUT",
            help="OUT.csv, OUT.jsonl or OUT.parquet; - for standard output (CSV unless --format "
            "jsonl)",
        )
        sub.add_argument(
            "--format", choices=_output.FORMATS, help="default: from the output's suffix"
        )
        text = sub.add_argument_group("CSV and JSON lines")
        text.add_argument(
            "--delimiter", help="CSV field separator: one character, or tab (default: ,)"
        )
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
            help="write CSV texts that begin with = + - @, a tab or a carriage return as they are, "
            "for CSV that no spreadsheet opens (by default they follow an apostrophe, so that a "
            "spreadsheet shows them as text and does not run them)",
        )
        return text

    written(convert)
    convert.add_argument(
        "--intervals",
        action="store_true",
        help="one row per account interval instead of per document",
    )
    parquet = convert.add_argument_group(
        "Parquet",
        "OUT.parquet is one Parquet file holding the rows of every statement read. Its columns "
        "are typed: dates date32, amounts decimal128(38, SCALE), line numbers int64, texts "
        "strings. A statement with an amount of more non-zero fraction digits than SCALE is "
        "reported as an error and none of its rows are written. Needs pyarrow "
        "(pip install 'tarvik[arrow]').",
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
        help=f"fraction digits of the amount columns, 0 to {MAX_SCALE} (default: "
        f"{DEFAULT_SCALE}, kopecks)",
    )
    convert.set_defaults(run=cmd_convert)

    ledger_cmd = commands.add_parser(
        "ledger",
        help="write each own account's money in and out (or its balances by day), reconciled",
        description="Book every document of the statements on their own accounts, once however "
        "many statements hold it, and write one row per entry (with --balances, per account and "
        "day) as CSV, JSON lines or Parquet: dates YYYY-MM-DD and amounts plain decimals in the "
        "text formats, typed in Parquet (needs pyarrow). Every finding goes to standard error as "
        "FILE:LINE: SEVERITY: KIND: MESSAGE: what check reports, documents that move none of "
        "their statement's own accounts (foreign), intervals whose totals are not their "
        "documents' (turnover), copies of a document that disagree (conflict), balances that do "
        "not follow on (continuity) or disagree where intervals overlap (overlap), days no "
        "statement covers (gap).",
        epilog="For Excel in Russian: --delimiter ';' --encoding cp1251 (or utf-8-sig) "
        "--decimal-comma. " + EXIT_STATUS,
    )
    many(ledger_cmd)
    written(ledger_cmd)
    ledger_cmd.add_argument(
        "--balances",
        action="store_true",
        help="one row per account and day: opening, income, expense, closing, derived",
    )
    ledger_cmd.set_defaults(run=cmd_ledger)

    report = commands.add_parser(
        "report",
        help="write an archive of statements as one HTML page to look at",
        description="Write one self-contained HTML page: a summary of the files, period, "
        "accounts and totals, and whether everything reconciles; for each account its balance "
        "by day and its money in and out by month as charts, and its largest counterparties; "
        "then every finding with its file and line. The page loads nothing from elsewhere and "
        "runs no script. Needs matplotlib and pyarrow (pip install 'tarvik[report]').",
        epilog=EXIT_STATUS,
    )
    report.add_argument(
        "paths",
        nargs="+",
        metavar="PATH",
        help="statement files, folders (read recursively; files in them that do not begin with "
        "1CClientBankExchange are skipped) or glob patterns; each file is read once",
    )
    report.add_argument(
        "-o",
        "--output",
        required=True,
        metavar="OUT.html",
        help="the page to write; - for standard output",
    )
    report.add_argument(
        "--title", default=DEFAULT_TITLE, help="the page's title (default: %(default)s)"
    )
    common(report)
    report.set_defaults(run=cmd_report)
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
