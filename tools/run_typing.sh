#!/usr/bin/env bash
# Checks the type stubs against the built module: installs the module into a fresh venv
# (build/venv-typing), runs mypy's stubtest on it, type-checks typed usage files, the examples and
# the installed tarvik package with mypy --strict, and compares the stubs' docstrings with the
# module's.
# Usage: tools/run_typing.sh [PYTHON]   (default: tools/find_python.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
python=${1:-$(tools/find_python.sh)}
venv=build/venv-typing

rm -rf "$venv"
"$python" -m venv "$venv"
"$venv/bin/python" -m pip install -q --upgrade pip
# Pinned: stubtest's and mypy's verdicts change between releases, and so do the types of polars,
# which ships them and which the examples hand tarvik's tables to.
"$venv/bin/python" -m pip install -q "mypy==2.4.1" "types-tqdm==4.70.0.20261122" "polars==2.2.0"
"$venv/bin/python" -m pip install -q .

# Run from an empty folder so that only the installed module and stubs are seen, never the tree.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

echo "== stubtest"
"$root/$venv/bin/python" -m mypy.stubtest tarvik_py tarvik._columns

echo "== mypy --strict"
"$root/$venv/bin/python" -m mypy --strict --warn-unreachable --no-incremental \
  "$root/tests/typing/usage.py" "$root/tests/typing/tarvik_usage.py" "$root"/examples/*.py
echo "== mypy --strict on the installed tarvik package"
"$root/$venv/bin/python" -m mypy --strict --warn-unreachable --no-incremental -p tarvik

echo "== stub docstrings"
"$root/$venv/bin/python" "$root/tests/typing/check_stub_docs.py"
