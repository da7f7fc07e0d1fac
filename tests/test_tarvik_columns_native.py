"""tarvik._columns without pyarrow: the tables as Arrow streams, their capsules and their life.

These run wherever the module does, the sanitized build included, where pyarrow is not installed.
"""

from __future__ import annotations

import gc
import pathlib
import threading

import pytest

import tarvik
from tarvik import _columns
from samples import MARKER, document_section

SAMPLE = pathlib.Path(__file__).resolve().parent.parent / "examples" / "statement_cp1251.txt"


def test_read_gives_the_header_the_tables_and_the_edits():
    data = SAMPLE.read_bytes()
    header, encoding, documents, intervals, warnings, edits = _columns.read(data, True)
    assert encoding == "cp1251" and header["ВерсияФормата"] == "1.03"
    assert (len(documents), len(intervals), len(warnings)) == (5, 3, 0)
    assert edits == [(7, "comma_amounts", "Сумма", "15000,00", "15000.00", "Сумма",
                      "Сумма '15000,00' read as 15000.00")]
    # Without the repairs the amount is refused and the document left out with a warning.
    _, _, documents, _, warnings, edits = _columns.read(data, False)
    assert (len(documents), len(warnings), edits) == (4, 1, [])


@pytest.mark.parametrize("data", [b"", b"not a statement", f"{MARKER}\r\n".encode()])
def test_what_does_not_read_gives_none(data):
    assert _columns.read(data, True) is None


def test_capsules_outlive_the_table_and_free_what_they_hold():
    table = _columns.read(SAMPLE.read_bytes(), True)[2]
    streams = [table.__arrow_c_stream__() for _ in range(3)]
    schema = table.__arrow_c_schema__()
    assert type(streams[0]).__name__ == "PyCapsule"
    del table
    gc.collect()
    del streams, schema  # each capsule releases its own stream, then the shared batch goes
    gc.collect()


def test_lined_table_checks_its_arguments():
    table = _columns.lined_table(["message"], [True], [1, 2], [["a", None]])
    assert len(table) == 2
    with pytest.raises(ValueError):
        _columns.lined_table(["message"], [True], [1], [["a", "b"]])
    with pytest.raises(TypeError):
        _columns.lined_table(["message"], [False], [1], [[None]])
    with pytest.raises(TypeError):
        _columns.read(b"")


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
        assert got[5] == want[5] and len(got[2]) == 300


def test_to_arrow_without_pyarrow_gives_streams(monkeypatch):
    monkeypatch.setattr(tarvik.columns, "_optional_pyarrow", lambda: None)
    columns = tarvik.to_arrow(SAMPLE)
    assert isinstance(columns.documents, _columns.Table) and len(columns.changes) == 1
