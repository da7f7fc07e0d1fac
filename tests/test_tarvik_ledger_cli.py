"""`tarvik ledger`, as a shell runs it: exit statuses, findings on stderr, refusals that leave
nothing behind, the three formats holding the same rows, and -j 2 writing what -j 1 writes.

The archive is ledger_archive's: `clean/` as written, `damaged/` with a damage of each kind (a
document left out, another amount in one copy, shifted balances, a statement left out).
"""

import csv
import decimal
import io
import json
import re

import pytest

from ledger_archive import X, archive, day, paid_out, shifted, with_amount, without_document
from test_tarvik_cli_cases import COMMAND, OK, PROBLEMS, UNREADABLE, run_in


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    root = tmp_path_factory.mktemp("ledger_cli")
    made = archive()
    made.write((root / "clean").mkdir() or root / "clean")
    files = dict(made.files)
    left_out = next(p for p in made.known.payments if p.out_of == X and p.into is None
                    and day(1, 10) <= p.paid <= day(1, 20) and "doc_type" not in p.document
                    and p.paid != day(1, 15))
    files["s1.txt"] = without_document(files["s1.txt"], "s1.txt", left_out.document["doc_number"])
    changed = paid_out(made.known, X, day(1, 15)).document
    files["s2.txt"] = with_amount(files["s2.txt"], "s2.txt", changed["doc_number"], changed["amount"] + 1)
    files["s5.txt"] = shifted(files["s5.txt"], "s5.txt", decimal.Decimal("1.00"))
    del files["s3.txt"]
    (root / "damaged").mkdir()
    for name, data in files.items():
        (root / "damaged" / name).write_bytes(data)
    (root / "cut.txt").write_bytes(made.files["s4.txt"][:-40])
    (root / "empty").mkdir()
    return root


# (arguments, status, what stderr holds); each written to out.csv unless it says otherwise.
CASES = [
    (["clean"], OK, "entries from 6 files written to out.csv, 0 findings"),
    (["clean", "--balances"], OK, "balances from 6 files written to out.csv, 0 findings"),
    (["clean", "clean/s1.txt", "-j", "1"], OK, "from 6 files"),  # one file, however named
    (["damaged"], PROBLEMS, ": mismatch: turnover: account 40702810900000000001 2024-01-01..2024-01-31: expense"),
    (["damaged"], PROBLEMS, "damaged/s2.txt:"),
    (["damaged"], PROBLEMS, ": mismatch: conflict: "),
    (["damaged"], PROBLEMS, ": mismatch: continuity: "),
    (["damaged"], PROBLEMS, ": warning: gap: account 40702810900000000001: no statement covers 2024-02-01..2024-02-14"),
    (["clean", "cut.txt"], UNREADABLE, "cut.txt:"),
    (["clean", "none-such.txt"], UNREADABLE, "none-such.txt: error: no such file, folder or match"),
    (["none-such.txt"], UNREADABLE, "tarvik ledger: no statement to book, nothing written"),
    (["empty"], UNREADABLE, "empty: error: no statement in this folder"),
    (["--no-repairs", "clean", "-o", "out.jsonl"], OK, "written to out.jsonl"),
]
CASE_IDS = [
    "clean", "balances", "overlapping paths", "turnover", "conflict", "conflict kind", "continuity", "gap",
    "a file cut short", "a path that names nothing", "nothing read", "empty folder", "strict, JSON lines",
]


@pytest.mark.parametrize("args, status, err", CASES, ids=CASE_IDS)
def test_exit_status(folder, args, status, err):
    for old in folder.glob("out.*"):
        old.unlink()
    if "-o" not in args:
        args = [*args, "-o", "out.csv"]
    run = run_in(folder, "ledger", *args)
    stderr = run.stderr.decode()
    assert run.returncode == status, stderr
    assert err in stderr and "Traceback" not in stderr
    assert run.stdout == b""
    written = list(folder.glob("out.*"))
    assert written if "nothing written" not in stderr else not written


# A mistake in the options: status 2, one line on stderr, no file written, no statement read.
MISTAKES = [
    (["--encoding", "latin9"], "--encoding latin9 cannot hold Cyrillic letters"),
    (["--delimiter", ";;"], "--delimiter ';;': give one character"),
    (["--jobs", "0"], "argument -j/--jobs: must be at least 1, not 0"),
    (["--format", "jsonl"], "--format jsonl contradicts the name out.csv"),
    (["-o", "out.txt"], "cannot tell the format of out.txt"),
    (["-o", "-", "--format", "parquet"], "Parquet cannot be written to standard output"),
    (["-o", "out.jsonl", "--encoding", "cp1251"], "JSON lines are UTF-8"),
    (["-o", "out.parquet", "--decimal-comma"], "--decimal-comma applies to CSV output, not Parquet"),
    (["-o", "no/out.csv"], "cannot write no/out.csv: there is no folder no"),
    (["-o", "empty", "--format", "csv"], "empty is a folder: name a file"),
]


@pytest.mark.parametrize("extra, said", MISTAKES, ids=[" ".join(m[0]) for m in MISTAKES])
def test_an_option_mistake_is_one_line_and_leaves_nothing(folder, extra, said):
    before = sorted(folder.rglob("*"))
    args = ["ledger", "damaged", *extra]
    if "-o" not in extra:
        args += ["-o", "out.csv"]
    run = run_in(folder, *args)
    stderr = run.stderr.decode()
    assert run.returncode == UNREADABLE and run.stdout == b""
    assert stderr.count("\n") == 1 and said in stderr, stderr
    assert sorted(folder.rglob("*")) == before


def parquet_rows(path):
    pq = pytest.importorskip("pyarrow.parquet")
    shown = {bool: lambda v: "true" if v else "false", int: str}
    return [{k: shown.get(type(v), str)(v) if v is not None else "" for k, v in row.items()}
            for row in pq.read_table(path).to_pylist()]


@pytest.mark.parametrize("balances", [False, True], ids=["entries", "balances"])
def test_the_formats_hold_the_same_rows(folder, tmp_path, balances):
    pytest.importorskip("pyarrow.parquet")  # before the command, which refuses Parquet without it
    extra = ["--balances"] if balances else []
    runs = {f: run_in(folder, "ledger", "damaged", "-o", "-", "--format", f, *extra) for f in ("csv", "jsonl")}
    assert {r.returncode for r in runs.values()} == {PROBLEMS}
    from_csv = list(csv.DictReader(io.StringIO(runs["csv"].stdout.decode(), newline="")))
    from_jsonl = [json.loads(line) for line in runs["jsonl"].stdout.decode().splitlines()]
    as_text = [{k: "" if v is None else str(v).lower() if isinstance(v, bool) else str(v) for k, v in row.items()}
               for row in from_jsonl]
    assert from_csv == as_text and len(from_csv) > 50
    out = tmp_path / "out.parquet"
    assert run_in(folder, "ledger", "damaged", "-o", out, *extra).returncode == PROBLEMS
    assert parquet_rows(out) == from_csv
    assert "written to standard output" in runs["csv"].stderr.decode()


def test_a_closed_pipe_is_no_pass(folder):
    """The rows cannot all reach their reader: the ledger stops, and does not call that a success."""
    command = " ".join(map(str, COMMAND))
    run = run_in(folder, shell=f"set -o pipefail; {command} ledger damaged clean -j 1 -o - | head -1")
    stderr = run.stderr.decode()
    assert run.returncode == UNREADABLE, stderr
    assert run.stdout.decode().startswith("account,direction,booked,amount,signed,")
    assert "Traceback" not in stderr and "BrokenPipe" not in stderr and "Exception ignored" not in stderr


def test_two_workers_write_what_one_writes(folder):
    one = run_in(folder, "ledger", "damaged", "clean", "-o", "-", "-j", "1")
    two = run_in(folder, "ledger", "damaged", "clean", "-o", "-", "-j", "2")
    assert one.returncode == two.returncode == PROBLEMS
    assert one.stdout == two.stdout and one.stderr == two.stderr
    assert len(one.stdout.splitlines()) > 100


ACROSS = ("conflict", "continuity", "overlap", "gap")


def ledger_lines(book, kinds):
    return sorted(str(f) for f in book.findings if f.kind in kinds)


@pytest.mark.parametrize("jobs", ["1", "2"])
def test_check_reports_what_the_ledger_finds(folder, jobs):
    import tarvik

    book = tarvik.ledger([str(folder / "damaged")])
    run = run_in(folder, "check", "-q", "-j", jobs, folder / "damaged")
    assert run.returncode == PROBLEMS
    lines = run.stdout.decode().splitlines()
    found = [line for line in lines if line.split(": ")[2] in ("turnover", "foreign", *ACROSS)]
    assert sorted(found) == ledger_lines(book, ("turnover", "foreign", *ACROSS))
    across = ledger_lines(book, ACROSS)
    assert {line.split(": ")[2] for line in across} == set(ACROSS) - {"overlap"}
    assert sorted(lines[-len(across):]) == across  # after every file's own
    assert f"checked 5 files, 2 with findings, {len(across)} findings across statements" in run.stderr.decode()


def test_check_finds_no_foreign_document_where_a_statement_names_no_own_account(tmp_path):
    import tarvik
    from test_tarvik_cli_cases import DATA

    text = DATA.decode("cp1251")
    text = re.sub(r"СекцияРасчСчет\r\n.*?КонецРасчСчет\r\n", "", text, flags=re.S)
    orders = "\r\n".join(line for line in text.split("\r\n") if not line.startswith("РасчСчет="))
    (tmp_path / "orders.txt").write_bytes(orders.encode("cp1251"))
    assert {f.kind for f in tarvik.ledger(str(tmp_path / "orders.txt")).findings} == {"repair", "foreign"}
    run = run_in(tmp_path, "check", "-q", "orders.txt")
    assert (run.returncode, run.stdout) == (OK, b"")
