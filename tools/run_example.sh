#!/usr/bin/env bash
# Installs the package into a fresh virtual environment and shows the sample statement with the
# tarvik command, as a new user would.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
python=$(tools/find_python.sh)
"$python" -m venv build/venv-example
build/venv-example/bin/python -m pip install -q .
build/venv-example/bin/tarvik show "${@:-examples/statement_cp1251.txt}"
