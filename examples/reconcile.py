"""Check the balances of a 1CClientBankExchange statement.

Usage: python reconcile.py [STATEMENT_FILE]

For every interval of every account: opening balance + income - expense must equal the closing
balance. The sums are done with decimal.Decimal on the module's amount texts, so no rounding can
hide or invent a difference. An interval that lacks a closing balance or a turnover cannot be
checked and is listed as such, without failing the check.

Exit status: 0 when every checked interval reconciles, 1 when at least one does not, 2 when the
file is not a readable statement.
"""

import pathlib
import sys
from decimal import Decimal

import tarvik_py


def check(statement: tarvik_py.Statement) -> tuple[list[str], list[str], int]:
    """Returns (mismatches, unchecked, number of intervals checked), as printable lines."""
    mismatches: list[str] = []
    unchecked: list[str] = []
    checked = 0
    for number, account in statement.accounts.items():
        for iv in account.intervals:
            period = f"{number} {iv.date_start}..{iv.date_end or '?'}"
            if iv.end_amount is None or iv.total_income is None or iv.total_expense is None:
                unchecked.append(f"{period}: no closing balance or turnover")
                continue
            checked += 1
            expected = (
                Decimal(iv.start_amount) + Decimal(iv.total_income) - Decimal(iv.total_expense)
            )
            closing = Decimal(iv.end_amount)
            if expected != closing:
                mismatches.append(
                    f"{period}: {iv.start_amount} + {iv.total_income} - {iv.total_expense}"
                    f" = {expected}, but the closing balance is {iv.end_amount}"
                    f" (difference {closing - expected})"
                )
    return mismatches, unchecked, checked


def main(argv: list[str]) -> int:
    path = pathlib.Path(argv[1]) if len(argv) > 1 else pathlib.Path(__file__).with_name(
        "statement_cp1251.txt"
    )
    try:
        statement = tarvik_py.parse(path.read_bytes())
    except tarvik_py.ParseError as exc:
        print(f"{path}: {exc}", file=sys.stderr)
        return 2

    mismatches, unchecked, checked = check(statement)
    for line in unchecked:
        print(f"unchecked: {line}")
    for line in mismatches:
        print(f"MISMATCH: {line}")
    print(f"{checked} intervals checked, {len(mismatches)} mismatched, {len(unchecked)} unchecked")
    return 1 if mismatches else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
