#!/usr/bin/env bash
# Builds the fuzz targets with clang-14 and libFuzzer (plus AddressSanitizer and
# UndefinedBehaviorSanitizer) into build/fuzz and runs each for a bounded time on a copy of its
# committed seed corpus and past findings, so the run never writes into the repository.
#
#   TARVIK_FUZZ_SECONDS   seconds per target (default 60)
#   TARVIK_FUZZ_TARGETS   which targets, space-separated (default: all)
#   TARVIK_FUZZ_JOBS      parallel build jobs (default 2)
#
# Prints libFuzzer's closing stats line for each target; exits non-zero when any target found a
# crash, leak, timeout or broken property. The input that did it is kept under build/fuzz/crashes/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds=${TARVIK_FUZZ_SECONDS:-60}
jobs=${TARVIK_FUZZ_JOBS:-2}
targets=${TARVIK_FUZZ_TARGETS:-"fuzz_parse fuzz_decode_input fuzz_lex fuzz_parse_date fuzz_parse_amount fuzz_quote fuzz_repairs"}
build=build/fuzz

# The longest input worth trying per target: one value text, or a statement long enough to pass
# the 16 KiB stretches in which windows-1251 is decoded and the 20480 code points the
# plausibility test samples.
max_len() {
  case "$1" in
    fuzz_parse | fuzz_decode_input | fuzz_repairs) echo 65536 ;;
    fuzz_lex) echo 40960 ;;
    *) echo 512 ;;
  esac
}

echo "== build fuzz targets (clang-14, libFuzzer) into $build"
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARVIK_FUZZ_ENGINE=libfuzzer -DTARVIK_TESTS=OFF -DTARVIK_WERROR=ON >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" -j"$jobs" --target $targets

# Where a target's source, corpus and past findings live: the core's, or the repairs' (columns/).
home() {
  case "$1" in
    fuzz_repairs) echo columns/fuzz ;;
    *) echo parser/fuzz ;;
  esac
}

status=0
for target in $targets; do
  work="$build/run/$target"
  crashes="$build/crashes/$target"
  rm -rf "$work"
  mkdir -p "$work" "$crashes"
  cp -r "$(home "$target")"/corpus/"$target"/. "$work"/
  cp -r "$(home "$target")"/regressions/"$target"/. "$work"/
  rm -f "$work/.gitkeep"
  log="$build/run/$target.log"
  echo "== $target: ${seconds}s, max_len $(max_len "$target")"
  set +e
  "$build/$(home "$target")/$target" "$work" -max_total_time="$seconds" -max_len="$(max_len "$target")" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$crashes/" \
    >"$log" 2>&1
  rc=$?
  set -e
  # libFuzzer's own summary: the last status line, and the closing stats.
  grep -E '^#[0-9]+.*(DONE|INITED)' "$log" | tail -1 || true
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb|new_units_added)' "$log" ||
    true
  if [ "$rc" -ne 0 ]; then
    echo "!! $target failed (exit $rc); last lines of $log:"
    tail -n 40 "$log"
    echo "!! inputs kept in $crashes"
    status=1
  fi
done

if [ "$status" -eq 0 ]; then
  echo "fuzzing: no findings in $(echo "$targets" | wc -w) targets"
fi
exit "$status"
