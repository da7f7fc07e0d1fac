#!/usr/bin/env bash
# Builds the extension with AddressSanitizer and UndefinedBehaviorSanitizer into build/venv-asan
# and runs the module's pytest suite against it. Fails when pytest fails or when any process of
# the run (pytest or a child it starts) wrote a sanitizer report. Extra arguments go to pytest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
python=$(tools/find_python.sh)
venv=build/venv-asan
reports=$root/build/asan-reports

"$python" -m venv "$venv"
"$venv/bin/python" -m pip install -q --upgrade pip
# A fixed build directory lets a second run rebuild only what changed.
"$venv/bin/python" -m pip install -q \
  -C cmake.define.TARVIK_SANITIZE=ON \
  -C cmake.build-type=Debug \
  -C build-dir=build/asan-module \
  ".[test]"

# A translation unit built without the sanitizers would pass every test below and prove nothing,
# so each of ours must name them in the compiler switches its debug information records.
unsanitized=
# Found without importing them: a sanitized module loads only under the preload below. -P: the
# installed packages, not the tree's tarvik/ that the current folder would shadow them with.
modules=$("$venv/bin/python" -P -c '
import glob, importlib.util as u, os
print(u.find_spec("tarvik_py").origin)
print(*glob.glob(os.path.join(u.find_spec("tarvik").submodule_search_locations[0], "_columns*.so")))')
[ "$(wc -w <<<"$modules")" = 2 ] || { echo "modules not found: $modules" >&2; exit 1; }
for module in $modules; do
  unsanitized+=$(readelf --debug-dump=info "$module" | awk '
    /DW_TAG_compile_unit/ { producer = ""; next }
    /DW_AT_producer/ { producer = $0; next }
    /DW_AT_name/ && producer != "" && $NF ~ /\/(parser|python|columns)\/[^\/]*\.cpp$/ {
      if (producer !~ /-fsanitize=address,undefined/) print $NF
      producer = ""
    }')
done
if [ -n "$unsanitized" ]; then
  echo "built without -fsanitize=address,undefined:" >&2
  echo "$unsanitized" >&2
  exit 1
fi

rm -rf "$reports"
mkdir -p "$reports"
preload="$(g++ -print-file-name=libasan.so):$(g++ -print-file-name=libubsan.so)"
status=0
# The interpreter keeps objects alive until exit on purpose, so leak detection would only report
# the interpreter. Reports go to files, so that one written by a child process is seen as well.
(cd tests && env \
  LD_PRELOAD="$preload" \
  PYTHONMALLOC=malloc \
  TARVIK_ASAN=1 \
  ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:log_path=$reports/asan" \
  UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan" \
  "../$venv/bin/python" -m pytest -q -p no:cacheprovider -rs "$@" .) || status=$?

if compgen -G "$reports/*" >/dev/null; then
  echo "== sanitizer reports" >&2
  for report in "$reports"/*; do
    echo "-- $report" >&2
    cat "$report" >&2
  done
  exit 1
fi
exit "$status"
