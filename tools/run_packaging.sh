#!/usr/bin/env bash
# Builds the sdist and the wheel with `python -m build` into build/dist (the wheel from the sdist,
# so a missing file fails here), checks what each contains, then installs the wheel into one
# fresh venv and the sdist into another and runs the module's tests against each.
# Usage: tools/run_packaging.sh [PYTHON]   (default: tools/find_python.sh); CI runs 3.12 and 3.13.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
python=${1:-$(tools/find_python.sh)}
tag=$("$python" -c 'import sys; print(f"{sys.version_info[0]}{sys.version_info[1]}")')
dist=build/dist
version=$(sed -n 's/^version = "\(.*\)"$/\1/p' pyproject.toml)
[ -n "$version" ] || { echo "no version in pyproject.toml" >&2; exit 1; }
sdist=$dist/tarvik-$version.tar.gz

echo "== build sdist and wheel ($("$python" --version), tarvik $version)"
venv=build/venv-pkg-build-$tag
rm -rf "$venv"
"$python" -m venv "$venv"
"$venv/bin/python" -m pip install -q --upgrade pip build
mkdir -p "$dist"
rm -f "$sdist" "$dist"/tarvik-"$version"-cp"$tag"-*.whl
"$venv/bin/python" -m build --outdir "$dist" . >build/dist-$tag.log 2>&1 ||
  { tail -n 40 build/dist-$tag.log >&2; exit 1; }
wheel=$(ls "$dist"/tarvik-"$version"-cp"$tag"-*.whl)
ls -l "$sdist" "$wheel"

echo "== contents"
"$venv/bin/python" - "$sdist" "$wheel" "$version" <<'PY'
import sys
import tarfile
import zipfile

sdist, wheel, version = sys.argv[1:]
top = f"tarvik-{version}/"
with tarfile.open(sdist) as tar:
    names = {n.removeprefix(top) for n in tar.getnames()}
need = {"PKG-INFO", "pyproject.toml", "CMakeLists.txt", "README.md", "LICENSE",
        "parser/CMakeLists.txt", "parser/parse.h", "parser/parse.cpp",
        "parser/cp1251_table.inc", "parser/unicode_tables.inc",
        "python/CMakeLists.txt", "python/module.cpp", "python/exports.map",
        "python/tarvik_py.pyi", "python/py.typed", "tarvik/__init__.py", "tarvik/py.typed",
        "columns/CMakeLists.txt", "columns/module.cpp", "columns/exports.map",
        "tarvik/_columns.pyi", "third_party/nanoarrow/LICENSE.txt",
        "third_party/nanoarrow/NOTICE.txt", "third_party/nanoarrow/src/nanoarrow.cc",
        "third_party/nanoarrow/include/nanoarrow/nanoarrow.h"}
problems = [f"sdist lacks {n}" for n in sorted(need - names)]
problems += [f"sdist holds {n}" for n in sorted(names)
             if n.split("/")[0] in {"build", ".git", "dist", ".venv", ".pytest_cache"}
             or "__pycache__" in n or n.endswith((".so", ".o", ".a"))]

with zipfile.ZipFile(wheel) as whl:
    wnames = set(whl.namelist())
    metadata = whl.read(f"tarvik-{version}.dist-info/METADATA").decode()
if not any(n.startswith("tarvik_py.cpython-") and n.endswith(".so") for n in wnames):
    problems.append("wheel lacks the extension module")
if not any(n.startswith("tarvik/_columns.cpython-") and n.endswith(".so") for n in wnames):
    problems.append("wheel lacks tarvik's Arrow module")
for n in ("tarvik_py-stubs/__init__.pyi", "tarvik_py-stubs/py.typed",
          "tarvik/__init__.py", "tarvik/py.typed", "tarvik/cli.py", "tarvik/__main__.py",
          "tarvik/_columns.pyi",
          f"tarvik-{version}.dist-info/licenses/LICENSE"):
    if n not in wnames:
        problems.append(f"wheel lacks {n}")
# The C++ core is linked into the module; its headers, archive and CMake files stay out.
problems += [f"wheel holds {n}" for n in sorted(wnames)
             if n.endswith((".h", ".a", ".cmake", ".inc")) or n.startswith(("include/", "lib/"))]
with zipfile.ZipFile(wheel) as whl:
    scripts = whl.read(f"tarvik-{version}.dist-info/entry_points.txt").decode()
if "tarvik = tarvik.cli:main" not in scripts:
    problems.append("wheel lacks the tarvik console script")
for field in ("Name: tarvik", "License-Expression: MIT", "Requires-Dist: tqdm", "Requires-Python: >=3.12",
              f"Version: {version}", "Provides-Extra: arrow", "Provides-Extra: report",
              "Classifier: Typing :: Typed", "Keywords: ", "Description-Content-Type: text/markdown"):
    if field not in metadata:
        problems.append(f"wheel metadata lacks {field!r}")
for p in problems:
    print(p, file=sys.stderr)
print(f"sdist: {len(names)} entries; wheel: {sorted(wnames)}")
sys.exit(1 if problems else 0)
PY

# Each install runs the tests from tests/, with the interpreter of a fresh venv.
run_tests() {  # venv, what to install
  local venv=$1 target=$2
  rm -rf "$venv"
  "$python" -m venv "$venv"
  "$venv/bin/python" -m pip install -q --upgrade pip
  "$venv/bin/python" -m pip install -q "$target[test]"
  # -P: from the checkout's root, the sources' tarvik (with no built native module) would shadow
  # the installed one.
  "$venv/bin/python" -P - "$version" <<'PY'
import importlib.metadata
import sys

import tarvik_py

import tarvik

# The distribution is tarvik; the strict reader keeps its module name, importable as it was.
assert importlib.metadata.version("tarvik") == sys.argv[1], importlib.metadata.version("tarvik")
assert tarvik_py.__name__ == "tarvik_py" and callable(tarvik_py.parse)
print(f"installed tarvik {sys.argv[1]}: {tarvik_py.__file__}, {tarvik.__file__}")
PY
  (cd tests && "../$venv/bin/python" -m pytest -q -p no:cacheprovider .)
}

echo "== tests against the wheel"
run_tests "build/venv-pkg-wheel-$tag" "$root/$wheel"

echo "== tests against the sdist"
run_tests "build/venv-pkg-sdist-$tag" "$root/$sdist"
