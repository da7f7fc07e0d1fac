#!/usr/bin/env bash
# Runs every example on the shipped sample and checks that each succeeds and prints what it should:
# the Python scripts in examples/ against the module installed in a fresh venv
# (build/venv-examples), and the C++ program in examples/cpp against the core installed as a CMake
# package into a temporary prefix, once from parser/ alone and once from the top level.
# Usage: tools/run_examples.sh [PYTHON]   (default: tools/find_python.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
python=${1:-$(tools/find_python.sh)}
jobs=${TARVIK_JOBS:-2}
sample=examples/statement_cp1251.txt
venv=build/venv-examples
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== Python examples"
rm -rf "$venv"
"$python" -m venv "$venv"
"$venv/bin/python" -m pip install -q --upgrade pip
"$venv/bin/python" -m pip install -q ".[arrow]" polars
py=$venv/bin/python

"$py" examples/summary.py "$sample" >"$work/summary.txt"
"$py" examples/export_csv.py "$sample" >"$work/documents.csv" 2>"$work/export.err"
"$py" examples/export_csv.py "$sample" -o "$work/documents-excel.csv" --delimiter ';' \
  --encoding cp1251 2>/dev/null
"$py" examples/reconcile.py "$sample" >"$work/reconcile.txt"
"$py" examples/arrow_tables.py "$sample" >"$work/arrow_tables.txt"
grep -q "(cp1251): 5 documents" "$work/arrow_tables.txt"
grep -q "^line 145: Сумма '15000,00' read as 15000.00$" "$work/arrow_tables.txt"
"$py" - "$sample" "$work" <<'PY'
import csv
import pathlib
import re
import sys

import tarvik_py

sample, work = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
statement = tarvik_py.parse(sample.read_bytes())
docs, accounts = len(statement.documents), len(statement.accounts)
intervals = sum(len(a.intervals) for a in statement.accounts.values())

summary = (work / "summary.txt").read_text(encoding="utf-8").splitlines()
assert summary[0] == f"{sample.name} ({statement.encoding})", summary[0]
assert f"Documents: {docs}" in summary and f"Warnings: {len(statement.warnings)}" in summary

for name, encoding, delimiter in (("documents.csv", "utf-8", ","),
                                  ("documents-excel.csv", "cp1251", ";")):
    with open(work / name, encoding=encoding, newline="") as f:
        rows = list(csv.reader(f, delimiter=delimiter))
    assert len(rows) == docs + 1 and all(len(r) == 26 for r in rows), (name, len(rows))
    assert rows[0][:4] == ["doc_number", "doc_type", "doc_date", "amount"], rows[0]
    assert [r[3] for r in rows[1:]] == [d.amount for d in statement.documents]
    assert all(re.fullmatch(r"\d{4}-\d\d-\d\d", r[2]) for r in rows[1:])
skipped = (work / "export.err").read_text(encoding="utf-8").splitlines()
assert len(skipped) == len(statement.warnings), skipped

last = (work / "reconcile.txt").read_text(encoding="utf-8").splitlines()[-1]
assert last == f"{intervals} intervals checked, 0 mismatched, 0 unchecked", last
print(f"summary, export_csv and reconcile: {docs} documents, {accounts} accounts, "
      f"{intervals} intervals")
with open(work / "expected.txt", "w") as f:
    print(f"documents: {docs}\naccounts: {accounts}", file=f)
PY

# Totals over many files: those of Decimal sums over tarvik.read, and a file that does not read
# named and failing the run.
printf 'not a statement' >"$work/junk.txt"
if "$py" examples/account_totals.py "$sample" "$work/junk.txt" >"$work/totals.txt" 2>"$work/totals.err"; then
  echo "account_totals.py passed over a file that does not read" >&2
  exit 1
fi
grep -qx "$work/junk.txt:1: error: Input is not a 1C statement: the first line 'not a statement' is not the marker 1CClientBankExchange" \
  "$work/totals.err"
# -P: the tarvik installed, not the one in this checkout.
"$py" -P - "$sample" "$work/totals.txt" <<'PY'
import collections
import decimal
import sys

import tarvik

paid = collections.defaultdict(lambda: [decimal.Decimal("0.00"), decimal.Decimal("0.00"), 0])
for doc in tarvik.read(sys.argv[1]).statement.documents:
    for account, side in ((doc.payee_account, 0), (doc.counterparty_account, 1)):
        paid[account][side] += decimal.Decimal(doc.amount)
        paid[account][2] += 1
expected = [f"{a}  in {i}  out {o}  documents {n}" for a, (i, o, n) in sorted(paid.items())]
got = open(sys.argv[2], encoding="utf-8").read().splitlines()
assert got == expected, (got, expected)
print(f"account_totals.py: {len(got)} accounts, sums exact")
PY

# A mismatch must fail the check: feed reconcile a copy of the sample with one closing balance off.
"$py" - "$sample" "$work/off.txt" <<'PY'
import sys

data = open(sys.argv[1], "rb").read()
open(sys.argv[2], "wb").write(data.replace(b"=163820.25", b"=163820.26", 1))
PY
if "$py" examples/reconcile.py "$work/off.txt" >"$work/off.out"; then
  echo "reconcile.py passed a statement whose balances do not add up" >&2
  exit 1
fi
grep -q '^MISMATCH: 40702810900000012345 2024-03-16..2024-03-31: .*(difference 0.01)$' \
  "$work/off.out" || { cat "$work/off.out" >&2; exit 1; }
echo "reconcile.py reports a closing balance that is off by 0.01"

# Payment orders written by tarvik must read back and pass the command's own check.
"$py" examples/payment_orders.py -o "$work/1c_to_kl.txt"
"$venv/bin/tarvik" check "$work/1c_to_kl.txt"
echo "payment_orders.py writes orders that tarvik check passes"

echo "== C++ example against the installed core"
warnings="-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Werror"
cpp_example() {  # name, core source folder, extra configure arguments...
  local name=$1 source=$2
  shift 2
  local prefix=$work/prefix-$name
  cmake -S "$source" -B "build/cpp-core-$name" -DCMAKE_BUILD_TYPE=Release -DTARVIK_TESTS=OFF \
    "$@" >/dev/null
  cmake --build "build/cpp-core-$name" -j"$jobs" >/dev/null
  cmake --install "build/cpp-core-$name" --prefix "$prefix" >/dev/null
  # What consumers inherit: the C++ standard and the include folder, never our warning flags.
  if grep -E 'tarvik_warnings|INTERFACE_COMPILE_OPTIONS|-W' "$prefix"/lib*/cmake/tarvik/*.cmake; then
    echo "the installed package passes build flags on to its consumers" >&2
    exit 1
  fi
  # Our headers must build cleanly under the strictest flags a consumer may use.
  cmake -S examples/cpp -B "$work/example-$name" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_FLAGS="$warnings" >/dev/null
  cmake --build "$work/example-$name" -j"$jobs" >/dev/null
  "$work/example-$name/tarvik_count" "$sample" >"$work/count-$name.txt"
  grep -v -e '^encoding:' -e '^warnings:' "$work/count-$name.txt" | diff "$work/expected.txt" -
  echo "$name: $(tr '\n' ' ' <"$work/count-$name.txt")"
}
cpp_example parser parser
cpp_example top-level . -DTARVIK_PYTHON=OFF
