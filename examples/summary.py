"""Print what a 1CClientBankExchange statement holds.

Usage: python summary.py [STATEMENT_FILE]   (defaults to the sample beside this script)
"""

import pathlib
import sys

import tarvik_py


def main(argv: list[str]) -> int:
    path = pathlib.Path(argv[1]) if len(argv) > 1 else pathlib.Path(__file__).with_name(
        "statement_cp1251.txt"
    )
    try:
        statement = tarvik_py.parse(path.read_bytes())
    except tarvik_py.SyntaxError as exc:
        print(f"{path}: line {exc.detail.lineno}: {exc}", file=sys.stderr)
        return 1
    except tarvik_py.ParseError as exc:
        print(f"{path}: {exc}", file=sys.stderr)
        return 1

    print(f"{path.name} ({statement.encoding})")
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
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
