#!/usr/bin/env bash
# Installs what the tests need and runs every suite: the core's unit tests (with the fuzz targets
# replaying their corpora) plain, in Release, under AddressSanitizer and UndefinedBehaviorSanitizer
# and under valgrind; the module's and the tarvik package's tests against a fresh install, against
# a sanitized build and at scale;
# a bounded fuzzing run; the README's Spark recipe; ruff over the package; the type stubs; the
# examples; and the wheel and sdist on every Python.
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
python3 tools/gen_fields.py --check
echo "generated tables are current"

echo "== core unit tests"
cmake -S . -B build/core -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIK_WERROR=ON >/dev/null
cmake --build build/core -j"$jobs"
ctest --test-dir build/core --output-on-failure -j"$jobs"

echo "== core unit tests in Release, as users build them, and one short run of the stage benchmarks"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DTARVIK_BENCH=ON -DTARVIK_WERROR=ON \
  >/dev/null
cmake --build build/release -j"$jobs"
ctest --test-dir build/release --output-on-failure -j"$jobs"
build/release/bench/core_bench --benchmark_min_time=0.01

echo "== core unit tests, sanitized"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DTARVIK_SANITIZE=ON -DTARVIK_WERROR=ON >/dev/null
cmake --build build/asan -j"$jobs"
ctest --test-dir build/asan --output-on-failure -j"$jobs"

echo "== core unit tests, valgrind memcheck"
bash tools/run_memcheck.sh

echo "== module tests"
rm -rf build/venv
"$python" -m venv build/venv
build/venv/bin/python -m pip install -q --upgrade pip
# The extras bring pyarrow, pandas, Dask and matplotlib, so the tables, Parquet, a Dask cluster
# and the report's page are tested.
build/venv/bin/python -m pip install -q ".[test,arrow,dask,report]"
# Consumers of tarvik.to_arrow's tables that the tests hand them to.
build/venv/bin/python -m pip install -q polars duckdb pandas
(cd tests && ../build/venv/bin/python -m pytest -q -p no:cacheprovider .)

echo "== the package's Python: ruff lint and format (configured in pyproject.toml)"
build/venv/bin/python -m pip install -q "ruff==0.17.6"
build/venv/bin/ruff check
build/venv/bin/ruff format --check

echo "== the README's Spark recipe: pyspark from PyPI, on the image's Java"
# pyspark is about 500 MB installed, so only this step brings it; TARVIK_README_STRICT turns a
# missing module into a failure, so the block cannot pass by being skipped.
java -version
build/venv/bin/python -m pip install -q pyspark
(cd tests && TARVIK_README_STRICT=1 ../build/venv/bin/python -m pytest -q -p no:cacheprovider test_readme.py -k pyspark)

echo "== the report as a person sees it: its page rendered by headless Chromium, then looked at"
bash tools/run_report_picture.sh build/venv/bin/python

echo "== module tests at scale"
(cd tests && ../build/venv/bin/python -m pytest -q -p no:cacheprovider --scale -m scale .)

echo "== module tests, sanitized"
bash tools/run_module_asan.sh

echo "== fuzzing"
bash tools/run_fuzz.sh

echo "== type stubs"
bash tools/run_typing.sh "$python"

echo "== examples"
bash tools/run_examples.sh "$python"

echo "== packaging, on every supported Python"
for minor in 12 13; do
  bash tools/run_packaging.sh "$(tools/find_python.sh "3.$minor")"
done
