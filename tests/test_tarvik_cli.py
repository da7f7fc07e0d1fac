"""The tarvik command, run as a shell runs it."""

import csv
import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
SAMPLE = ROOT / "examples" / "statement_cp1251.txt"
OK, PROBLEMS, UNREADABLE = 0, 1, 2


def tarvik(*args, cwd=None):
    return subprocess.run(
        [sys.executable, "-m", "tarvik", *map(str, args)],
        capture_output=True, text=True, encoding="utf-8", cwd=cwd, timeout=120,
    )


@pytest.fixture
def files(tmp_path):
    """A folder of statements: one clean, one with a skipped document, one whose balance is off;
    under sub/, one cut short and a file that is no statement, which a folder walk skips."""
    data = SAMPLE.read_bytes()
    (tmp_path / "good.txt").write_bytes(data)
    (tmp_path / "skipped.txt").write_bytes(data.replace("Номер=431".encode("cp1251"), b"", 1))
    (tmp_path / "off.txt").write_bytes(data.replace(b"=163820.25", b"=163820.26", 1))
    (tmp_path / "sub").mkdir()
    (tmp_path / "sub" / "junk.txt").write_bytes(data[:400])
    (tmp_path / "sub" / "notes.md").write_text("# March\n", encoding="utf-8")
    return tmp_path


def test_show_prints_the_statement_and_its_repairs():
    run = tarvik("show", SAMPLE)
    assert run.returncode == OK, run.stderr
    out = run.stdout.splitlines()
    assert out[0] == "statement_cp1251.txt (cp1251)"
    assert "Documents: 5" in out and "Warnings: 0" in out
    assert out[-2:] == ["Repairs: 1", "  line 145: Сумма '15000,00' read as 15000.00"]
    strict = tarvik("show", "--no-repairs", SAMPLE).stdout.splitlines()
    assert "Documents: 4" in strict and strict[-1] == "Repairs: 0"


def test_show_of_an_unreadable_file_names_it_and_its_line(files):
    run = tarvik("show", files / "sub" / "junk.txt")
    assert run.returncode == UNREADABLE and run.stdout == ""
    assert run.stderr == (f"{files / 'sub' / 'junk.txt'}:12: error: Statement is not finished: the file ends at "
                          "line 16 inside the account section that begins at line 12 ('СекцияРасчСчет'): "
                          "КонецРасчСчет is missing\n")


@pytest.mark.parametrize(
    "names, status, severities",
    [
        (["good.txt"], OK, ["repair"]),
        # The document left out is missing from the turnover its interval states.
        (["skipped.txt"], PROBLEMS, ["mismatch", "warning", "repair"]),
        (["off.txt"], PROBLEMS, ["mismatch", "repair"]),
        (["sub"], UNREADABLE, ["error"]),
        (["missing.txt"], UNREADABLE, ["error"]),
        (["good.txt", "sub"], UNREADABLE, ["repair", "error"]),
    ],
    ids=["clean", "warning", "mismatch", "unreadable", "no such file", "one bad among good"],
)
def test_check_exit_status_and_findings(files, names, status, severities):
    run = tarvik("check", *names, cwd=files)
    assert run.returncode == status, run.stderr
    lines = run.stdout.splitlines()
    assert [line.split(": ")[1] for line in lines] == severities
    assert all(line.split(":")[0] in {*names, "sub/junk.txt"} for line in lines)


def test_check_many_files_in_workers_matches_one_process(files):
    one = tarvik("check", "-j", "1", files)
    two = tarvik("check", "-j", "2", str(files / "*.txt"), files / "sub")
    assert one.returncode == two.returncode == UNREADABLE
    assert sorted(one.stdout.splitlines()) == sorted(two.stdout.splitlines())
    assert "off.txt:21: mismatch:" in one.stdout and "skipped.txt:141: warning:" in one.stdout
    # off.txt's closing balance is not that of the same interval in good.txt and skipped.txt.
    assert one.stderr.endswith("checked 4 files, 4 with findings, 1 findings across statements\n")
    assert "off.txt:21: mismatch: overlap: account 40702810900000012345:" in one.stdout


def test_convert_to_csv_for_excel(files):
    out = files / "docs.csv"
    run = tarvik("convert", files / "good.txt", files / "skipped.txt", "-o", out,
                 "--delimiter", ";", "--encoding", "cp1251")
    assert run.returncode == PROBLEMS, run.stderr
    with open(out, encoding="cp1251", newline="") as f:
        rows = list(csv.DictReader(f, delimiter=";"))
    assert len(rows) == 5 + 4
    assert rows[0]["file"].endswith("good.txt") and rows[0]["line"] == "39"
    assert [r["amount"] for r in rows[:5]] == ["43200.00", "87450.50", "430.25", "20000.00", "15000.00"]
    assert rows[0]["income_date"] == "" and rows[0]["payee"].startswith("ИНН 5029012345")
    assert "skipped.txt:141: warning: document skipped: missing field `Номер`" in run.stderr


def test_convert_intervals_to_json_lines(files):
    out = files / "intervals.jsonl"
    run = tarvik("convert", "--intervals", files / "good.txt", "-o", out)
    assert run.returncode == OK, run.stderr
    rows = [json.loads(line) for line in out.read_text(encoding="utf-8").splitlines()]
    assert [(r["account"], r["line"], r["end_amount"]) for r in rows] == [
        ("40702810900000012345", 12, "169250.50"),
        ("40702810900000012345", 21, "163820.25"),
        ("40702978100000054321", 30, "3400.00"),
    ]


def test_convert_refuses_an_output_it_cannot_name(files):
    run = tarvik("convert", files / "good.txt", "-o", files / "out.xlsx")
    assert run.returncode == UNREADABLE and "name it .csv, .jsonl or .parquet" in run.stderr


def test_a_row_the_output_encoding_cannot_hold_is_reported(files):
    data = SAMPLE.read_bytes().decode("cp1251").replace("Номер=418", "Номер=418✓")
    (files / "tick.txt").write_bytes(data.encode("utf-8"))
    run = tarvik("convert", files / "tick.txt", "-o", files / "out.csv", "--encoding", "cp1251")
    assert run.returncode == UNREADABLE
    assert f"{files / 'tick.txt'}:39: error: row not written: cp1251 cannot hold '✓'" in run.stderr
    assert len((files / "out.csv").read_text(encoding="cp1251").splitlines()) == 1 + 4


def test_a_terminal_gets_a_progress_bar_and_a_pipe_does_not(files):
    import pty

    controller, terminal = pty.openpty()
    with open(terminal, "wb", closefd=True) as stderr:
        run = subprocess.run([sys.executable, "-m", "tarvik", "check", "-j", "2", files],
                             stdout=subprocess.PIPE, stderr=stderr, timeout=120)
    bar = os.read(controller, 65536).decode("utf-8", "replace")
    os.close(controller)
    assert run.returncode == UNREADABLE
    assert "check: 100%" in bar and "4/4" in bar
    assert "check: 100%" not in tarvik("check", "-j", "2", files).stderr


def test_a_rerun_does_not_read_its_own_output(files):
    out = files / "all.csv"
    first = tarvik("convert", files / "good.txt", files / "off.txt", files, "-o", out)
    second = tarvik("convert", files / "good.txt", files / "off.txt", files, "-o", out)
    assert first.returncode == second.returncode == UNREADABLE  # sub/junk.txt
    assert first.stderr == second.stderr


@pytest.mark.parametrize("command", [[], ["show"], ["check"], ["convert"]])
def test_every_command_answers_help(command):
    run = tarvik(*command, "--help")
    assert run.returncode == OK and run.stdout.startswith("usage: tarvik")


def test_the_console_script_is_installed():
    script = shutil.which("tarvik", path=os.path.dirname(sys.executable))
    if script is None:
        pytest.skip("tarvik is not installed beside this interpreter (a source checkout)")
    run = subprocess.run([script, "show", SAMPLE], capture_output=True, text=True, encoding="utf-8")
    assert run.returncode == OK and "Documents: 5" in run.stdout


# Parquet: (arguments after the files, exit status, what stderr says, the Parquet files written
# under OUT, relative to it: [] for OUT itself a file, and the rows they hold).
PARQUET_CASES = [
    (["-o", "out.parquet"], UNREADABLE, "sub/junk.txt:12: error: Statement is not finished", [], 5 + 4 + 5),
    (["-o", "out", "--format", "parquet", "--intervals", "--partition-by", "account"], UNREADABLE,
     "9 intervals from 4 files", ["account=40702810900000012345/part-0.parquet", "account=40702978100000054321/part-0.parquet"],
     3 * 3),
    (["-o", "out.parquet", "--partition-by", "year", "month"], UNREADABLE, "14 documents",
     ["year=2024/month=3/part-0.parquet"], 14),
    (["-o", "out.parquet", "--partition-by", "payee_bic", "--partition-by", "nope", "line"], UNREADABLE,
     "cannot partition by nope: choose from year, month, file, line,", None, 0),
    (["-o", "out.csv", "--partition-by", "year"], UNREADABLE, "--partition-by applies to Parquet output, not CSV", None, 0),
    (["-o", "out.parquet", "--scale", "29"], UNREADABLE, "--scale: invalid choice", None, 0),
]


@pytest.mark.parametrize(
    "args, status, said, written, rows", PARQUET_CASES,
    ids=["one parquet file", "by account", "by year and month", "unknown column", "not parquet", "bad scale"],
)
def test_convert_to_parquet(files, args, status, said, written, rows):
    pq = pytest.importorskip("pyarrow.parquet")
    pc = pytest.importorskip("pyarrow.compute")
    run = tarvik("convert", "good.txt", "skipped.txt", "off.txt", "sub", *args, cwd=files)
    assert run.returncode == status and said in run.stderr, run.stderr
    out = files / args[1]
    if written is None:
        assert not out.exists()
        return
    found = sorted(str(p.relative_to(out)) for p in out.rglob("*.parquet")) if out.is_dir() else []
    assert found == written
    table = pq.read_table(out)
    assert table.num_rows == rows
    assert table.schema.field("file").type == "string"
    for name, type_ in [("amount", "decimal128(38, 2)"), ("doc_date", "date32[day]"), ("line", "int64"),
                        ("end_amount", "decimal128(38, 2)"), ("date_start", "date32[day]")]:
        if name in table.schema.names:
            assert str(table.schema.field(name).type) == type_
    if "amount" in table.schema.names:
        good = table.filter(pc.equal(table.column("file"), "good.txt"))
        assert [str(a) for a in good.column("amount").to_pylist()] == [
            "43200.00", "87450.50", "430.25", "20000.00", "15000.00"]


def test_parquet_without_pyarrow_names_the_extra(files):
    code = ("import sys; sys.modules['pyarrow'] = None; from tarvik.cli import main; "
            f"sys.exit(main(['convert', {str(files / 'good.txt')!r}, '-o', {str(files / 'out.parquet')!r}]))")
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, encoding="utf-8", timeout=120)
    assert run.returncode == UNREADABLE
    assert "Parquet needs pyarrow: pip install 'tarvik[arrow]'" in run.stderr
    assert not (files / "out.parquet").exists()


def test_a_partitioned_output_never_lands_on_files_it_did_not_write(files):
    pytest.importorskip("pyarrow")
    (files / "ds").mkdir()
    (files / "ds" / "mine.txt").write_text("keep")
    run = tarvik("convert", "good.txt", "-o", "ds", "--format", "parquet", "--partition-by", "year", cwd=files)
    assert run.returncode == UNREADABLE and "ds is a folder that holds files already" in run.stderr
    run = tarvik("convert", "good.txt", "-o", "ds", "--format", "parquet", cwd=files)
    assert run.returncode == UNREADABLE and "ds is a folder: name a file, or give --partition-by" in run.stderr
    assert [p.name for p in (files / "ds").iterdir()] == ["mine.txt"]


def polars_accounts(path):
    pl = pytest.importorskip("polars")
    frame = pl.read_parquet(path)
    return frame.schema["account"], sorted(frame["account"].cast(pl.String).unique().to_list())


def duckdb_accounts(path):
    duckdb = pytest.importorskip("duckdb")
    query = f"from read_parquet('{path}/**/*.parquet', hive_partitioning = true)"
    kind = dict((c[0], c[1]) for c in duckdb.sql(f"describe {query}").fetchall())["account"]
    return kind, sorted(r[0] for r in duckdb.sql(f"select distinct account {query}").fetchall())


def pyarrow_accounts(path):
    pq = pytest.importorskip("pyarrow.parquet")
    table = pq.read_table(path)
    return str(table.schema.field("account").type), sorted(set(table.column("account").to_pylist()))


@pytest.mark.parametrize("read, kinds", [
    (polars_accounts, {"Categorical", "String"}),
    (duckdb_accounts, {"VARCHAR"}),
    (pyarrow_accounts, {"dictionary<values=string, indices=int32, ordered=0>", "string"}),
], ids=["polars", "duckdb", "pyarrow"])
def test_partitioned_account_numbers_read_back_as_text(files, read, kinds):
    pytest.importorskip("pyarrow")
    data = SAMPLE.read_bytes()
    (files / "zeros.txt").write_bytes(data.replace(b"40702978100000054321", b"00000000000000000001"))
    run = tarvik("convert", "good.txt", "zeros.txt", "--intervals", "-o", "ds", "--format", "parquet",
                 "--partition-by", "account", "year", cwd=files)
    assert run.returncode == OK, run.stderr
    assert (files / "ds" / "account=00000000000000000001" / "year=2024").is_dir()
    kind, accounts = read(files / "ds")
    assert str(kind) in kinds
    assert accounts == ["00000000000000000001", "40702810900000012345", "40702978100000054321"]
