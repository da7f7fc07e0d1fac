"""Export the payment documents of a 1CClientBankExchange statement as CSV.

Usage: python export_csv.py [STATEMENT_FILE] [-o OUT.csv] [--delimiter ';'] [--encoding cp1251]

One row per document, one column per Document attribute, in the module's order. Dates are
ISO year-month-day (2024-03-05) and amounts plain decimals with the scale of the file (1500.00),
exactly as the module gives them; an absent optional field is an empty cell. Documents that the
module left out are reported on stderr with their line numbers. Exit status: 0 on success, 1 when
the file is not a readable statement.
"""

import argparse
import csv
import pathlib
import sys
from typing import TextIO

import tarvik_py

FIELDS = (
    "doc_number",
    "doc_type",
    "doc_date",
    "amount",
    "purpose",
    "payment_type",
    "ordering",
    "counterparty_inn",
    "counterparty_kpp",
    "counterparty_bic",
    "counterparty_bank1",
    "counterparty_account",
    "counterparty",
    "counterparty_1",
    "counterparty_ras_account",
    "counterparty_cor_account",
    "outcome_date",
    "payee_inn",
    "payee",
    "payee_account",
    "payee_kpp",
    "payee_bic",
    "payee_bank1",
    "payee_ras_account",
    "payee_cor_account",
    "income_date",
)


def write_documents(statement: tarvik_py.Statement, out: TextIO, delimiter: str) -> int:
    writer = csv.writer(out, delimiter=delimiter, lineterminator="\n")
    writer.writerow(FIELDS)
    for doc in statement.documents:
        writer.writerow(["" if (v := getattr(doc, name)) is None else v for name in FIELDS])
    return len(statement.documents)


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description="Export statement documents as CSV.")
    parser.add_argument(
        "statement",
        nargs="?",
        type=pathlib.Path,
        default=pathlib.Path(__file__).with_name("statement_cp1251.txt"),
        help="statement file (default: the sample beside this script)",
    )
    parser.add_argument("-o", "--output", type=pathlib.Path, help="CSV file (default: stdout)")
    parser.add_argument("--delimiter", default=",", help="field separator (Excel in Russian: ;)")
    parser.add_argument("--encoding", default="utf-8", help="encoding of the CSV file")
    args = parser.parse_args(argv[1:])

    try:
        statement = tarvik_py.parse(args.statement.read_bytes())
    except tarvik_py.SyntaxError as exc:
        print(f"{args.statement}: line {exc.detail.lineno}: {exc}", file=sys.stderr)
        return 1
    except tarvik_py.ParseError as exc:
        print(f"{args.statement}: {exc}", file=sys.stderr)
        return 1

    for lineno, message in statement.warnings:
        print(f"{args.statement}:{lineno}: skipped: {message}", file=sys.stderr)
    if args.output is None:
        write_documents(statement, sys.stdout, args.delimiter)
    else:
        with args.output.open("w", encoding=args.encoding, newline="") as out:
            count = write_documents(statement, out, args.delimiter)
        print(f"{args.output}: {count} documents", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
