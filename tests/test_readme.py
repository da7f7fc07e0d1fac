"""Every ```python block of the README runs as a reader runs it: saved as a script and started
in a fresh interpreter, in an empty folder that holds only the file the blocks name, the shipped
sample at examples/statement_cp1251.txt.

So a block must import what it uses, guard what a process pool or a Dask cluster starts under
`if __name__ == "__main__":`, and name only files that exist. TARVIK_README names another file
to check. A block that begins `# needs: MODULE, ...` is skipped where one of them is not installed
(the extras: pyarrow, dask, pyspark), or fails where TARVIK_README_STRICT is set; its id ends in
those names, so `-k pyspark` selects it.
"""

import importlib.util
import os
import pathlib
import re
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
README = pathlib.Path(os.environ.get("TARVIK_README", ROOT / "README.md"))
SAMPLE = ROOT / "examples" / "statement_cp1251.txt"
# A fence opens at the start of a line, possibly indented inside a list item.
BLOCK = re.compile(r"^( *)```python\n(.*?)^\1```$", re.MULTILINE | re.DOTALL)
NEEDS = re.compile(r"# needs: (.*)")


def blocks() -> list[pytest.param]:
    if not README.is_file():
        return []
    text = README.read_text(encoding="utf-8")
    found = []
    for m in BLOCK.finditer(text):
        indent = len(m.group(1))
        code = "".join(line[indent:] for line in m.group(2).splitlines(keepends=True))
        lineno = text.count("\n", 0, m.start()) + 1
        needs = NEEDS.match(code)
        modules = needs.group(1).split(", ") if needs else []
        # Leading blank lines make a traceback's line numbers those of the README.
        found.append(pytest.param("\n" * lineno + code, modules, id="-".join([f"line-{lineno}", *modules])))
    return found


@pytest.mark.skipif(not README.is_file() or not SAMPLE.is_file(), reason="no README or sample")
def test_readme_has_python_blocks():
    assert blocks()


@pytest.mark.parametrize("code, modules", blocks())
def test_readme_block_runs(code, modules, tmp_path):
    for module in modules:
        if importlib.util.find_spec(module) is None:
            if os.environ.get("TARVIK_README_STRICT"):
                pytest.fail(f"{module} is not installed, and TARVIK_README_STRICT asks for every block")
            pytest.skip(f"{module} is not installed")
    (tmp_path / "examples").mkdir()
    (tmp_path / "examples" / SAMPLE.name).write_bytes(SAMPLE.read_bytes())
    script = tmp_path / "readme_block.py"
    script.write_text(code, encoding="utf-8")
    run = subprocess.run([sys.executable, script.name], cwd=tmp_path, capture_output=True, text=True,
                         encoding="utf-8", timeout=600)
    assert run.returncode == 0, f"{README}:\n{run.stderr}"
