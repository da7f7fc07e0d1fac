"""A statement's documents and balances as Arrow tables, summed in polars.

`tarvik.to_arrow` hands the tables over without a copy; polars sums the amounts as decimals.
Prints the payments by day, each interval's balances, and what the repairs changed.

Usage: python arrow_tables.py [STATEMENT_FILE]   (defaults to the sample beside this script)
Needs polars (pip install polars).
"""

import pathlib
import sys

import polars as pl

import tarvik


def main(argv: list[str]) -> int:
    path = pathlib.Path(argv[1]) if len(argv) > 1 else pathlib.Path(__file__).with_name(
        "statement_cp1251.txt"
    )
    columns = tarvik.to_arrow(path)
    documents = pl.DataFrame(columns.documents)
    intervals = pl.DataFrame(columns.intervals)

    by_day = (
        documents.group_by("doc_date")
        .agg(pl.len().alias("documents"), pl.col("amount").sum().alias("total"))
        .sort("doc_date")
    )
    print(f"{path.name} ({columns.encoding}): {documents.height} documents")
    for day, count, total in by_day.iter_rows():
        print(f"  {day}: {count} documents, {total}")

    print("Intervals:")
    for row in intervals.iter_rows(named=True):
        print(
            f"  {row['account']} {row['date_start']} .. {row['date_end']}: "
            f"{row['start_amount']} -> {row['end_amount']}"
        )

    for change in pl.DataFrame(columns.changes).iter_rows(named=True):
        print(f"line {change['line']}: {change['message']}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
