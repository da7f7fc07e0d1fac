"""tarvik.dask.ledger on a cluster of two worker processes equals tarvik.ledger of the same files.

The archive: statements of a known ledger over random overlapping periods, and the layout of
ledger_archive with a damage of each kind (a document left out, another amount in one copy,
shifted balances, a statement left out), a file that does not read, a pattern that names none.
"""

from __future__ import annotations

import datetime
import decimal
import random

import pytest

import tarvik
from arrow_rows import rows
from ledger_archive import X, archive, gen_ledger, paid_out, shifted, day, with_amount, without_document

distributed = pytest.importorskip("distributed")
pytest.importorskip("dask.bag")
import dask  # noqa: E402  (after the skips: dask is an extra)

import tarvik.dask  # noqa: E402

MISSING = "none-such-*.txt"


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    root = tmp_path_factory.mktemp("ledger")
    rng = random.Random(11)
    accounts = [f"4070281090000001{n:04d}" for n in range(3)]
    known = gen_ledger.known_ledger(rng, accounts, datetime.date(2023, 6, 1), 45, per_day=2)
    balances = known.balances()
    for n, plan in enumerate(gen_ledger.random_plans(rng, known)):
        (root / f"r{n:03d}.txt").write_bytes(gen_ledger.statement(known, plan, balances))
    made = archive()
    left_out = next(p for p in made.known.payments if p.out_of == X and p.into is None
                    and day(1, 10) <= p.paid <= day(1, 20) and "doc_type" not in p.document
                    and p.paid != day(1, 15))
    made.files["s1.txt"] = without_document(made.files["s1.txt"], "s1.txt", left_out.document["doc_number"])
    changed = paid_out(made.known, X, day(1, 15)).document
    made.files["s2.txt"] = with_amount(made.files["s2.txt"], "s2.txt", changed["doc_number"], changed["amount"] + 1)
    made.files["s5.txt"] = shifted(made.files["s5.txt"], "s5.txt", decimal.Decimal("1.00"))
    del made.files["s3.txt"]
    made.write(root)
    (root / "x-broken.txt").write_bytes(made.files["s4.txt"][:-40])
    return root


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as c:
        yield c


def same(one, other):
    assert rows(one.entries) == rows(other.entries)
    assert rows(one.balances) == rows(other.balances)
    assert one.findings == other.findings


@pytest.fixture(scope="module")
def expected(folder):
    book = tarvik.ledger([str(folder), str(folder / MISSING)])
    assert {f.kind for f in book.findings} >= {"turnover", "conflict", "continuity", "gap", "error"}
    return book


def test_a_cluster_gives_the_ledger_of_one_process(client, folder, expected):
    same(tarvik.dask.ledger([str(folder), str(folder / MISSING)], files_per_partition=5), expected)


@pytest.mark.parametrize("files_per_partition", [1, 7, 1000])
def test_any_split_of_the_files_gives_one_ledger(folder, expected, files_per_partition):
    with dask.config.set(scheduler="sync"):
        same(tarvik.dask.ledger([str(folder), str(folder / MISSING)], files_per_partition=files_per_partition),
             expected)


def test_no_file_is_an_empty_ledger_and_the_pattern_an_error(tmp_path):
    book = tarvik.dask.ledger(str(tmp_path / "*.txt"))
    assert rows(book.entries) == [] and rows(book.balances) == []
    assert [(f.file, f.kind) for f in book.findings] == [(str(tmp_path / "*.txt"), "error")]
    with pytest.raises(ValueError, match="files_per_partition must be at least 1, not 0"):
        tarvik.dask.ledger(str(tmp_path), files_per_partition=0)
