#!/usr/bin/env bash
# Prints the path of a Python interpreter >= 3.12 (TARVIK_PYTHON wins when set), or fails.
# With an argument such as 3.12, prints one of exactly that version.
set -euo pipefail
want=${1:-}
candidates=()
if [ -z "$want" ]; then
  [ -n "${TARVIK_PYTHON:-}" ] && candidates+=("$TARVIK_PYTHON")
  candidates+=(python3.13 python3.12 python3)
else
  candidates+=("python$want")
fi
root=$(pyenv root 2>/dev/null || echo "${HOME:-/root}/.pyenv")
for v in "$root"/versions/3.13* "$root"/versions/3.12*; do
  [ -x "$v/bin/python3" ] && candidates+=("$v/bin/python3")
done
check='import sys, venv; sys.exit(sys.version_info < (3, 12))'
if [ -n "$want" ]; then
  check="import sys, venv; sys.exit(f'{sys.version_info[0]}.{sys.version_info[1]}' != '$want')"
fi
for c in "${candidates[@]}"; do
  if command -v "$c" >/dev/null 2>&1 && "$c" -c "$check" 2>/dev/null; then
    command -v "$c"
    exit 0
  fi
done
echo "no Python ${want:-3.12 or newer} found; set TARVIK_PYTHON to one" >&2
exit 1
