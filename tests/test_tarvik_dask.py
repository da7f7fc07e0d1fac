"""tarvik.dask on a cluster of two worker processes gives what a plain loop over to_arrow gives.

A few hundred small statements, written by tarvik.write from seeded random figures, among them
files that fail each way a file can: not a statement, cut short, out of place, an amount finer
than the tables' scale, and a pattern that names no file.
"""

from __future__ import annotations

import collections
import datetime
import decimal
import random
import re

import pytest

import tarvik
import tarvik_py

dd = pytest.importorskip("dask.dataframe")
distributed = pytest.importorskip("distributed")
pa = pytest.importorskip("pyarrow")
import dask  # noqa: E402  (after the skips: dask is an extra)
import pyarrow.dataset  # noqa: E402

import tarvik.dask  # noqa: E402
import tarvik.many  # noqa: E402

FILES = 300
CENT = decimal.Decimal("0.01")
ACCOUNTS = [f"4070281090000001{n:04d}" for n in range(7)]
MISSING_PATTERN = "none-such-*.txt"


def statement(rng: random.Random, number: int, encoding: str) -> bytes:
    ours = ACCOUNTS[number % len(ACCOUNTS)]
    day = datetime.date(2024, 1, 1) + datetime.timedelta(days=number % 300)
    documents = []
    for n in range(rng.randint(1, 6)):
        # Large and small amounts together, so that a float sum would be off.
        amount = decimal.Decimal(rng.choice([rng.randint(1, 10**17), rng.randint(1, 99)])) * CENT
        documents.append({
            "doc_number": str(number * 10 + n), "doc_date": day, "amount": amount,
            "purpose": f"Оплата по счету № {number}-{n}", "counterparty_inn": "7701234567",
            "counterparty_bic": "044525225", "counterparty_bank1": "ПАО СБЕРБАНК",
            "counterparty_account": ours, "payee_inn": "5029012345",
            "payee_account": rng.choice(ACCOUNTS), "payee_bic": "044525225",
            "payee_bank1": "ПАО СБЕРБАНК",
        })
    start = decimal.Decimal(rng.randint(0, 10**12)) * CENT
    income = sum((d["amount"] for d in documents), decimal.Decimal("0.00"))
    interval = {"date_start": day, "date_end": day, "start_amount": start, "total_income": income,
                "total_expense": decimal.Decimal("0.00"), "end_amount": start + income}
    return tarvik.write(documents, accounts={ours: [interval]}, encoding=encoding)


# How the failing files are made from a good one in UTF-8, and what reading them raises.
DEFECTS = [
    (lambda data: b"not a statement", "tarvik_py.NotStatementError"),
    (lambda data: data[: data.rindex("КонецФайла".encode())], "tarvik_py.UnfinishedError"),
    (lambda data: data.replace("КонецРасчСчет".encode(), b"", 1), "tarvik_py.SyntaxError"),
    (lambda data: re.sub("(\nСумма=)[0-9.]+".encode(), rb"\g<1>1.005", data, count=1),
     "tarvik.many.ScaleError"),
]


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    root = tmp_path_factory.mktemp("statements")
    rng = random.Random(20240301)
    for number in range(FILES):
        if number % 37 == 5:
            make, _ = DEFECTS[number // 37 % len(DEFECTS)]
            data = make(statement(rng, number, "utf-8"))
        elif number % 29 == 3:  # a document left out with a warning: no failure
            data = statement(rng, number, "utf-8").replace("Номер=".encode(), b"N=", 1)
        else:
            data = statement(rng, number, rng.choice(["cp1251", "utf-8"]))
        (root / f"s{number:04d}.txt").write_bytes(data)
    return root


@pytest.fixture(scope="module")
def expected(folder):
    """The plain single-process answer: to_arrow on each file in turn."""
    documents, intervals, failures = [], [], set()
    for path in sorted(folder.iterdir()):
        name = str(path)
        try:
            columns = tarvik.to_arrow(path)
        except tarvik_py.ParseError as exc:
            # Where the exception gives no line, the reason tarvik found may.
            reason = next((n for n in getattr(exc, "__notes__", ()) if hasattr(n, "lineno")), None)
            line = exc.detail.lineno if isinstance(exc, tarvik_py.SyntaxError) else getattr(reason, "lineno", None)
            failures.add((name, f"tarvik_py.{type(exc).__name__}", line))
            continue
        docs = columns.documents.to_pylist()
        fine = [d for d in docs if d["amount"] != d["amount"].quantize(CENT)]
        if fine:
            failures.add((name, "tarvik.many.ScaleError", fine[0]["line"]))
            continue
        documents += [{"file": name, **row} for row in docs]
        intervals += [{"file": name, **row} for row in columns.intervals.to_pylist()]
    failures.add((str(folder / MISSING_PATTERN), "FileNotFoundError", None))
    return documents, intervals, failures


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as c:
        yield c


def rows(frame):
    return pa.Table.from_pandas(frame, preserve_index=False).to_pylist()


def by_place(records):
    return sorted(records, key=lambda r: (r["file"], r.get("line") or 0, r.get("account") or ""))


def sums(records, key, value):
    out = collections.defaultdict(decimal.Decimal)
    for r in records:
        out[r[key]] += r[value]
    return dict(out)


def test_the_folder_holds_each_kind_of_failure(expected):
    errors = {error for _, error, _ in expected[2]}
    assert errors == {e for _, e in DEFECTS} | {"FileNotFoundError"}


def test_a_cluster_gives_the_rows_sums_and_failures_of_one_process(client, folder, expected, tmp_path):
    documents, intervals, failures = expected
    frames = tarvik.dask.read_statements([str(folder / "*.txt"), str(folder / MISSING_PATTERN)],
                                         files_per_partition=7)
    got_documents, got_intervals, got_failures, payee_sums, income_sums = dask.compute(
        frames.documents, frames.intervals, frames.failures,
        frames.documents.groupby("payee_account")["amount"].sum(),
        frames.intervals.groupby("account")["total_income"].sum(),
    )
    assert by_place(rows(got_documents)) == by_place(documents)
    assert by_place(rows(got_intervals)) == by_place(intervals)
    assert {(f["file"], f["error"], f["line"]) for f in rows(got_failures)} == failures
    # Exact: the sums are Decimals equal to those of Python's own Decimal arithmetic.
    assert payee_sums.to_dict() == sums(documents, "payee_account", "amount")
    assert income_sums.to_dict() == sums(intervals, "account", "total_income")

    frames.documents.to_parquet(tmp_path / "documents", write_index=False)
    written = pyarrow.dataset.dataset(tmp_path / "documents").to_table()
    assert written.schema.field("amount").type == pa.decimal128(38, 2)
    assert written.schema.field("doc_date").type == pa.date32()
    assert by_place(written.to_pylist()) == by_place(documents)


@pytest.mark.parametrize("files_per_partition", [1, 50, 1000])
def test_frames_are_lazy_and_read_each_file_once(folder, monkeypatch, files_per_partition):
    reads = collections.Counter()
    to_arrow = tarvik.many.to_arrow

    def counted(source, **kwargs):
        reads[str(source)] += 1
        return to_arrow(source, **kwargs)

    monkeypatch.setattr(tarvik.many, "to_arrow", counted)
    frames = tarvik.dask.read_statements(folder, files_per_partition=files_per_partition)
    assert not reads
    assert frames.documents.npartitions == -(-FILES // files_per_partition)
    computed = dask.compute(*(getattr(frames, t) for t in tarvik.many.TABLES), scheduler="sync")
    assert len(reads) == FILES and set(reads.values()) == {1}
    for table, frame in zip(tarvik.many.TABLES, computed, strict=True):
        # The meta promised before reading is what the partitions hold.
        assert list(frame.dtypes.items()) == list(getattr(frames, table).dtypes.items()), table


def test_nothing_to_read_is_empty_frames_and_the_pattern_a_failure(tmp_path):
    frames = tarvik.dask.read_statements(str(tmp_path / "*.txt"))
    documents, failures = dask.compute(frames.documents, frames.failures, scheduler="sync")
    assert len(documents) == 0 and list(documents.columns) == list(tarvik.many.schema("documents").names)
    assert rows(failures) == [{"file": str(tmp_path / "*.txt"), "error": "FileNotFoundError",
                               "message": "no such file, folder or match", "line": None}]
    assert len(dask.compute(tarvik.dask.read_statements([]).documents, scheduler="sync")[0]) == 0
