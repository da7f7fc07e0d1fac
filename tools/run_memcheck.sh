#!/usr/bin/env bash
# Builds the core's unit tests and the fuzz targets' corpus replays with g++ (RelWithDebInfo, no
# sanitizer) into build/memcheck and runs them under valgrind's memcheck: any invalid read or
# write, use of an uninitialised value or leak fails the run.
#
#   TARVIK_MEMCHECK_FILTER  gtest filter for the unit tests (default: all)
#   TARVIK_MEMCHECK_JOBS    parallel build jobs (default 2)
#
# Prints valgrind's error and leak summary for each program it ran.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

jobs=${TARVIK_MEMCHECK_JOBS:-2}
filter=${TARVIK_MEMCHECK_FILTER:-"*"}
build=build/memcheck

echo "== build core tests (g++, RelWithDebInfo) into $build"
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARVIK_TESTS=ON -DTARVIK_SANITIZE=OFF -DTARVIK_WERROR=ON -DTARVIK_FUZZ_ENGINE= >/dev/null
cmake --build "$build" -j"$jobs"

mkdir -p "$build/logs"
status=0

# Runs one program under memcheck; its own output goes to a log, valgrind's summary to stdout.
memcheck() {
  local name=$1
  shift
  local log="$build/logs/$name.valgrind"
  local out="$build/logs/$name.out"
  echo "== memcheck: $name"
  set +e
  valgrind --tool=memcheck --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect \
    --track-origins=yes --log-file="$log" "$@" >"$out" 2>&1
  local rc=$?
  set -e
  grep -E 'ERROR SUMMARY|definitely lost|indirectly lost|possibly lost|All heap blocks were freed' "$log" |
    sed 's/^==[0-9]*== */  /'
  tail -n 3 "$out" | sed 's/^/  /'
  if [ "$rc" -ne 0 ]; then
    echo "!! $name failed under memcheck (exit $rc); see $log and $out"
    status=1
  fi
}

memcheck core_tests "$build/parser/tarvik_core_tests" --gtest_filter="$filter" --gtest_brief=1
memcheck columns_tests "$build/columns/tarvik_columns_tests" --gtest_filter="$filter" --gtest_brief=1

for target in fuzz_parse fuzz_decode_input fuzz_lex fuzz_parse_date fuzz_parse_amount fuzz_quote; do
  memcheck "$target" "$build/parser/fuzz/$target" parser/fuzz/corpus/"$target" parser/fuzz/regressions/"$target"
done

if [ "$status" -eq 0 ]; then
  echo "memcheck: no errors"
fi
exit "$status"
