"""Every ```python block of the README runs, as a reader would paste it.

Each block runs on its own, in a folder holding the shipped sample statement under the name the
blocks use (kl_to_1c.txt, what 1C calls its export). TARVIK_README names another file to check.
A block that begins `# needs: MODULE, ...` is skipped where one of them is not installed (the
extras: pyarrow, dask, pyspark).
"""

import contextlib
import io
import os
import pathlib
import re
import shutil

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
        # Leading blank lines make a traceback's line numbers those of the README.
        found.append(pytest.param("\n" * lineno + code, id=f"line-{lineno}"))
    return found


@pytest.mark.skipif(not README.is_file() or not SAMPLE.is_file(), reason="no README or sample")
def test_readme_has_python_blocks():
    assert blocks()


@pytest.mark.parametrize("code", blocks())
def test_readme_block_runs(code, tmp_path, monkeypatch):
    needs = NEEDS.match(code.lstrip("\n"))
    for module in needs.group(1).split(", ") if needs else ():
        pytest.importorskip(module)
    shutil.copyfile(SAMPLE, tmp_path / "kl_to_1c.txt")
    monkeypatch.chdir(tmp_path)
    with contextlib.redirect_stdout(io.StringIO()):
        exec(compile(code, str(README), "exec"), {"__name__": "__readme__"})
