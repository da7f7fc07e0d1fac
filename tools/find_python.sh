#!/usr/bin/env bash
# Prints the path of a Python interpreter >= 3.12 (TARVIK_PYTHON wins when set), or fails.
set -euo pipefail
candidates=()
[ -n "${TARVIK_PYTHON:-}" ] && candidates+=("$TARVIK_PYTHON")
candidates+=(python3.13 python3.12 python3)
root=$(pyenv root 2>/dev/null || echo "${HOME:-/root}/.pyenv")
for v in "$root"/versions/3.13* "$root"/versions/3.12*; do
  [ -x "$v/bin/python3" ] && candidates+=("$v/bin/python3")
done
for c in "${candidates[@]}"; do
  if command -v "$c" >/dev/null 2>&1 &&
    "$c" -c 'import sys, venv; sys.exit(sys.version_info < (3, 12))' 2>/dev/null; then
    command -v "$c"
    exit 0
  fi
done
echo "no Python 3.12 or newer found; set TARVIK_PYTHON to one" >&2
exit 1
