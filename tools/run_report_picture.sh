#!/usr/bin/env bash
# Writes `tarvik report`'s page for the shipped example and for an archive of two accounts over
# ten weeks, renders each in headless Chromium with the network off, and checks the picture: not
# blank, a balance chart for every account (tools/check_report_picture.py). The HTML itself
# (nothing loaded from elsewhere, every account and finding there, a hostile statement escaped)
# is checked by tests/test_tarvik_reporting.py.
#
#   bash tools/run_report_picture.sh PYTHON   (a Python with tarvik[report] installed)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
python=${1:?usage: run_report_picture.sh PYTHON}
# A path given relative to where we were called from keeps working after the cd below (the venv's
# python is not resolved to its target, which would leave the venv).
case $python in */*) python="$(cd "$(dirname "$python")" && pwd)/$(basename "$python")" ;; esac
out="$root/build/report-picture"
rm -rf "$out"
mkdir -p "$out/archive"
# From the output folder, so that the tarvik imported is the installed one and not the checkout's
# sources, which have no built native module.
cd "$out"

"$python" - "$root" "$out" <<'PY'
import sys
from pathlib import Path

root, out = Path(sys.argv[1]), Path(sys.argv[2])
sys.path.insert(0, str(root / "tests"))
import ledger_archive  # noqa: E402

ledger_archive.archive().write(out / "archive")
PY

"$python" -m tarvik report "$root/examples/statement_cp1251.txt" -o example.html
"$python" -m tarvik report archive -o archive.html
for page in example.html archive.html; do
  "$python" "$root/tools/check_report_picture.py" "$page" --png "${page%.html}.png"
done
