#!/usr/bin/env bash
# Installs the module into a fresh virtual environment and prints the sample statement.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
python=$(tools/find_python.sh)
"$python" -m venv build/venv-example
build/venv-example/bin/python -m pip install -q .
build/venv-example/bin/python examples/summary.py "$@"
