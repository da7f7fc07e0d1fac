"""tarvik._columns without pyarrow: the tables as Arrow streams, their capsules and their life.

These run wherever the module does, the sanitized build included, where pyarrow is not installed.
"""

from __future__ import annotations

import gc
import pathlib
import threading

import pytest

import tarvik
import tarvik_py
from tarvik import _columns
from samples import MARKER, document_section

SAMPLE = pathlib.Path(__file__).resolve().parent.parent / "examples" / "statement_cp1251.txt"


def test_read_gives_the_header_the_tables_and_the_changes():
    data = SAMPLE.read_bytes()
    read = _columns.read(data, True)
    assert read.encoding == "cp1251" and read.header["ВерсияФормата"] == "1.03"
    assert (len(read.documents), len(read.intervals), len(read.warnings), len(read.changes)) == (5, 3, 0, 1)
    # Without the repairs the amount is refused and the document left out with a warning.
    strict = _columns.read(data, False)
    assert (len(strict.documents), len(strict.warnings), len(strict.changes)) == (4, 1, 0)


def test_a_recording_learns_from_tarvik_py_where_everything_stands():
    data = SAMPLE.read_bytes()
    recording = _columns.Recording(True)
    statement = tarvik_py.parse(data, [recording])
    assert [recording.change(i) for i in range(recording.change_count())] == [
        (145, "comma_amounts", "Сумма", "15000,00", "15000.00", "Сумма '15000,00' read as 15000.00")]
    assert recording.document_lines() == [39, 78, 101, 120, 142]
    assert recording.interval_lines() == [[12, 21], [30]]
    assert recording.header_lines()[:2] == [("ВерсияФормата", "1.03", 2), ("Кодировка", "Windows", 3)]
    assert len(statement.documents) == 5 and len(recording.changes_table()) == 1
    with pytest.raises(IndexError):
        recording.change(1)


def test_the_repairs_run_natively_in_tarvik_py_and_as_python_callables_alike():
    data = SAMPLE.read_bytes()
    native = tarvik_py.parse(data, list(_columns.REPAIRS))
    # The same objects behind a Python callable each: the bridge hands them dicts.
    through_python = tarvik_py.parse(data, [lambda t, a, h, r=r: r(t, a, h) for r in _columns.REPAIRS])
    assert native.documents == through_python.documents and len(native.documents) == 5
    attrs = {"Сумма": "1 500,00", "Получатель1": "ООО Ромашка"}
    edits = _columns.REPAIRS[1].apply(tarvik_py.SectionType.Document, attrs)
    assert [tuple(e) for e in edits] == [
        ("Получатель", None, "ООО Ромашка", "Получатель1", "Получатель taken from Получатель1: 'ООО Ромашка'")]
    assert list(attrs) == ["Сумма", "Получатель1", "Получатель"]
    with pytest.raises(TypeError):
        _columns.REPAIRS[0](tarvik_py.SectionType.Document, {"a": 1}, {})


@pytest.mark.parametrize("data", [b"", b"not a statement", f"{MARKER}\r\n".encode()])
def test_what_does_not_read_gives_none(data):
    assert _columns.read(data, True) is None


def test_capsules_outlive_the_table_and_free_what_they_hold():
    table = _columns.read(SAMPLE.read_bytes(), True).documents
    streams = [table.__arrow_c_stream__() for _ in range(3)]
    schema = table.__arrow_c_schema__()
    assert type(streams[0]).__name__ == "PyCapsule"
    del table
    gc.collect()
    del streams, schema  # each capsule releases its own stream, then the shared batch goes
    gc.collect()


def test_the_arguments_are_checked():
    with pytest.raises(TypeError):
        _columns.read(b"")
    with pytest.raises(TypeError):
        _columns.Recording()
    with pytest.raises(TypeError):
        _columns.plain_amount(b"1,5")


def test_threads_share_nothing_but_the_module():
    data = ("\r\n".join([MARKER, *(line for n in range(300) for line in document_section(
        {"Номер": str(n), "Сумма": f"{n} 000,00"})), "КонецФайла"]) + "\r\n").encode()
    want = _columns.read(data, True)
    results = []

    def work():
        for _ in range(5):
            results.append(_columns.read(data, True))

    threads = [threading.Thread(target=work) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert len(results) == 20
    for got in results:
        assert len(got.changes) == len(want.changes) == 300 and len(got.documents) == 300


def test_to_arrow_without_pyarrow_gives_streams(monkeypatch):
    monkeypatch.setattr(tarvik.columns, "_optional_pyarrow", lambda: None)
    columns = tarvik.to_arrow(SAMPLE)
    assert isinstance(columns.documents, _columns.Table) and len(columns.changes) == 1
