#!/usr/bin/env bash
# Runs the benchmarks: tarvik_py.parse against the floor and the pure-Python peers, and the
# readers on the real files of the corpus grown to size (bench/run_bench.py, whose arguments
# pass through), then the core's stage micro-benchmarks (bench/core_bench.cpp) on generated
# statements.
#
#   tools/run_bench.sh                          # 100 MB statements, 5 rounds
#   tools/run_bench.sh --size-mb 10 --rounds 2  # a quick run
#   TARVIK_BENCH_CPP=0 tools/run_bench.sh --size-mb 50 --only grown   # the corpus alone
#
# Environment: TARVIK_CORPUS (the real files, default ../shared/corpus/real beside the
# checkout), TARVIK_CORE_BENCH_MB (size of the C++ benchmark's inputs, default 10),
# TARVIK_BENCH_CPP=0 to skip the C++ benchmark, TARVIK_JOBS (default 2).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${TARVIK_JOBS:-2}
python=$(tools/find_python.sh)
venv=build/venv-bench
data=build/bench-data

echo "== module and peers into $venv"
[ -x "$venv/bin/python" ] || "$python" -m venv "$venv"
"$venv/bin/python" -m pip install -q --upgrade pip
# Reinstalled every time: the point is to time the checkout as it is now.
"$venv/bin/python" -m pip install -q --force-reinstall --no-deps .
# tarvik.to_arrow's tables are timed as users of the arrow extra get them: pyarrow.Table.
"$venv/bin/python" -m pip install -q pyarrow
# The peers are optional; the benchmark reports the ones it cannot import.
"$venv/bin/python" -m pip install -q client-bank-1c client-bank-exchange-1c ||
  echo "run_bench.sh: peers not installed; timing the module alone" >&2

echo "== tarvik_py.parse, the package, and the corpus grown to size"
corpus=${TARVIK_CORPUS:-$root/../shared/corpus/real}
"$venv/bin/python" bench/run_bench.py --data-dir "$data" --corpus-dir "$corpus" "$@"

if [ "${TARVIK_BENCH_CPP:-1}" != 0 ]; then
  echo "== core stages"
  cmake -S . -B build/bench-cpp -DTARVIK_BENCH=ON -DTARVIK_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/bench-cpp -j"$jobs" --target core_bench
  size=${TARVIK_CORE_BENCH_MB:-10}
  inputs=()
  for encoding in utf-8 cp1251; do
    file="$data/core-realistic-$encoding-${size}mb.txt"
    # Regenerated when the generator is newer than the file.
    if [ ! -e "$file" ] || [ bench/gen_statements.py -nt "$file" ]; then
      "$venv/bin/python" bench/gen_statements.py --encoding "$encoding" --size-mb "$size" \
        -o "$file" >/dev/null
    fi
    inputs+=("$file")
  done
  build/bench-cpp/bench/core_bench "${inputs[@]}"
fi
