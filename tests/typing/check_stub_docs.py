"""Checks that the docstrings in the installed stubs are the module's own, which stubtest skips.

Usage: python check_stub_docs.py   (in an environment where tarvik_py is installed)
"""

import ast
import pathlib
import sys
import sysconfig

import tarvik_py


def main() -> int:
    stub = pathlib.Path(sysconfig.get_paths()["platlib"]) / "tarvik_py-stubs" / "__init__.pyi"
    tree = ast.parse(stub.read_text(encoding="utf-8"))
    stub_docs: dict[str, str | None] = {"": ast.get_docstring(tree, clean=False)}
    for node in tree.body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            stub_docs[node.name] = ast.get_docstring(node)
    runtime_docs = {
        "": tarvik_py.__doc__,
        "parse": tarvik_py.parse.__doc__,
        "SectionType": tarvik_py.SectionType.__doc__,
    }
    failures = [
        f"{name or 'module'}: stub {stub_docs.get(name)!r} != runtime {doc!r}"
        for name, doc in runtime_docs.items()
        if stub_docs.get(name) != doc
    ]
    for line in failures:
        print(line, file=sys.stderr)
    print(f"{stub}: {len(runtime_docs) - len(failures)} of {len(runtime_docs)} docstrings match")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
