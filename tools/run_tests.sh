#!/usr/bin/env bash
# Installs what the tests need and runs every suite: the core's unit tests, the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the module's tests against a fresh install.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${TARVIK_JOBS:-2}

tools/install_deps.sh
python=$(tools/find_python.sh)

echo "== format"
git ls-files -z -- '*.cpp' '*.h' | xargs -0 clang-format-14 --dry-run --Werror
echo "formatted: $(git ls-files -- '*.cpp' '*.h' | wc -l) files"

echo "== generated tables"
python3 tools/gen_cp1251_table.py --check
python3 tools/gen_unicode_tables.py --check
echo "generated tables are current"

echo "== core unit tests"
cmake -S . -B build/core -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIK_WERROR=ON >/dev/null
cmake --build build/core -j"$jobs"
ctest --test-dir build/core --output-on-failure -j"$jobs"

echo "== core unit tests, sanitized"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DTARVIK_SANITIZE=ON -DTARVIK_WERROR=ON >/dev/null
cmake --build build/asan -j"$jobs"
ctest --test-dir build/asan --output-on-failure -j"$jobs"

echo "== module tests"
rm -rf build/venv
"$python" -m venv build/venv
build/venv/bin/python -m pip install -q --upgrade pip
build/venv/bin/python -m pip install -q ".[test]"
(cd tests && ../build/venv/bin/python -m pytest -q -p no:cacheprovider .)
