"""Money in and out of each account over many statements, to the kopeck, with polars.

    python examples/account_totals.py statements/ 'archive/**/*.txt'

Every statement's documents go into one table (`tarvik.many`), amounts as decimals of one
scale, so the sums are exact: for each account, what its documents paid in (as payee) and
out (as payer), and how many documents. A statement that does not read is named on stderr and
makes the exit status 2; it is never left out silently.
"""

from __future__ import annotations

import argparse
import sys

import polars as pl

import tarvik.many


def totals(documents: pl.DataFrame) -> pl.DataFrame:
    """One row per account: its money in, money out and documents, by account number."""
    none = pl.lit(None, documents.schema["amount"])
    sides = [
        documents.select(pl.col("payee_account").alias("account"), pl.col("amount").alias("paid_in"),
                         none.alias("paid_out")),
        documents.select(pl.col("counterparty_account").alias("account"), none.alias("paid_in"),
                         pl.col("amount").alias("paid_out")),
    ]
    return (
        pl.concat(sides)
        .group_by("account")
        .agg(pl.col("paid_in").sum(), pl.col("paid_out").sum(), pl.len().alias("documents"))
        .sort("account")
    )


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("paths", nargs="+", help="statement files, folders or glob patterns")
    args = parser.parse_args(argv)
    files, unmatched = tarvik.many.statement_paths(args.paths)
    tables = tarvik.many.concat(
        [tarvik.many.read_file(path) for path in files] + [tarvik.many.missing(unmatched)]
    )
    failures = pl.DataFrame(tables.failures)
    for failure in failures.iter_rows(named=True):
        place = failure["file"] if failure["line"] is None else f"{failure['file']}:{failure['line']}"
        print(f"{place}: error: {failure['message']}", file=sys.stderr)
    for row in totals(pl.DataFrame(tables.documents)).iter_rows(named=True):
        print(f"{row['account']}  in {row['paid_in']}  out {row['paid_out']}  documents {row['documents']}")
    return 2 if failures.height else 0


if __name__ == "__main__":
    sys.exit(main())
