"""The command's exit status and messages, case by case, as a shell runs it.

The one rule: 0 all is well; 1 warnings, skipped lines or mismatches; 2 a file could not be read,
an option was wrong, or nothing was read at all. A mistake is one line on stderr and leaves no file behind; a
closed pipe or a console that cannot show a character changes neither the status nor the rest.
"""

import csv
import io
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
SAMPLE = ROOT / "examples" / "statement_cp1251.txt"
DATA = SAMPLE.read_bytes()
OK, PROBLEMS, UNREADABLE = 0, 1, 2
COMMAND = [sys.executable, "-m", "tarvik"]


def run_in(cwd, *args, env=None, shell=None):
    argv = ["bash", "-c", shell] if shell else [*COMMAND, *map(str, args)]
    environ = {**os.environ, **(env or {})}
    return subprocess.run(argv, capture_output=True, cwd=cwd, env=environ, timeout=120)


def without_every_document_number(data):
    text = data.decode("cp1251")
    return "\r\n".join(l for l in text.split("\r\n") if not l.startswith("Номер=")).encode("cp1251")


def damaged(data, after_line, line):
    """`data` with `line` inserted after line `after_line`."""
    lines = data.split(b"\r\n")
    return b"\r\n".join([*lines[:after_line], line.encode("cp1251"), *lines[after_line:]])


@pytest.fixture
def folder(tmp_path):
    """good.txt clean (one repair), off.txt with a balance off by 0.01, skipped.txt with every
    document left out, cut.txt cut short, junk.txt with a line pasted in after the first document,
    bare.txt whose second document opens with a bare СекцияДокумент, account.txt whose first
    account section lacks its start date; other/ holds no statement, empty/ nothing."""
    (tmp_path / "good.txt").write_bytes(DATA)
    (tmp_path / "off.txt").write_bytes(DATA.replace(b"=163820.25", b"=163820.26", 1))
    (tmp_path / "skipped.txt").write_bytes(without_every_document_number(DATA))
    (tmp_path / "cut.txt").write_bytes(b"".join(DATA.splitlines(keepends=True)[:68]))
    (tmp_path / "junk.txt").write_bytes(damaged(DATA, 77, "Левая строка"))
    (tmp_path / "bare.txt").write_bytes(
        DATA.replace("СекцияДокумент=Платежное поручение\r\nНомер=2231".encode("cp1251"),
                     "СекцияДокумент\r\nНомер=2231".encode("cp1251"))
    )
    (tmp_path / "account.txt").write_bytes(
        DATA.replace("СекцияРасчСчет\r\nДатаНачала=".encode("cp1251"), "СекцияРасчСчет\r\nНачало=".encode("cp1251"), 1)
    )
    (tmp_path / "other").mkdir()
    (tmp_path / "other" / "README.md").write_text("# Выписки за март\n", encoding="utf-8")
    (tmp_path / "other" / "report.pdf").write_bytes(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n")
    (tmp_path / "other" / "ledger.csv").write_text("file,line\n", encoding="utf-8")
    (tmp_path / "empty").mkdir()
    (tmp_path / "mixed").mkdir()
    (tmp_path / "mixed" / "README.md").write_text("notes\n", encoding="utf-8")
    (tmp_path / "mixed" / "a.txt").write_bytes(DATA)
    (tmp_path / "mixed" / "deep").mkdir()
    (tmp_path / "mixed" / "deep" / "b.txt").write_bytes(DATA.replace(b"=163820.25", b"=163820.26", 1))
    return tmp_path


# (arguments, status, what stdout holds, what stderr holds); "" holds anything.
STATUS_CASES = [
    (["show", "good.txt"], OK, "Documents: 5", ""),
    (["show", "skipped.txt"], PROBLEMS, "Documents: 0\nWarnings: 5", ""),
    (["show", "off.txt"], PROBLEMS, "Mismatches: 1\n  line 21: account 40702810900000012345", ""),
    (["show", "cut.txt"], UNREADABLE, "", "cut.txt:39: error: Statement is not finished: the file ends at line 68 inside "
     "the document section that begins at line 39"),
    (["show", "nope.txt"], UNREADABLE, "", "nope.txt: error: [Errno 2] No such file or directory: 'nope.txt'"),
    (["check", "good.txt"], OK, "good.txt:145: repair:", "checked 1 files, 1 with findings"),
    (["check", "-q", "good.txt"], OK, "", "checked 1 files, 0 with findings"),
    (["check", "-q", "good.txt", "off.txt"], PROBLEMS, "off.txt:21: mismatch:", "checked 2 files, 1 with findings"),
    (["check", "skipped.txt"], PROBLEMS, "skipped.txt:76: warning: document skipped: missing field `Номер`", ""),
    (["check", "good.txt", "cut.txt"], UNREADABLE, "cut.txt:39: error: Statement is not finished", ""),
    (["check", "nope.txt"], UNREADABLE, "nope.txt: error: no such file, folder or match", "checked 0 files"),
    (["check", "empty"], UNREADABLE, "empty: error: no statement in this folder", "checked 0 files, 0 with findings"),
    (["check", "other"], UNREADABLE, "other: error: no statement in this folder",
     "skipped 3 files in folders that do not begin with 1CClientBankExchange: other/README.md, other/ledger.csv, "
     "other/report.pdf\nchecked 0 files"),
    (["check", "-q", "mixed"], PROBLEMS, "mixed/deep/b.txt:21: mismatch:",
     "tarvik check: skipped 1 files in folders that do not begin with 1CClientBankExchange: mixed/README.md\n"
     "checked 2 files, 1 with findings"),
    (["check", "-q", "mixed/README.md"], UNREADABLE, "mixed/README.md:1: error: Input is not a 1C statement: the "
     "first line 'notes' is not the marker 1CClientBankExchange", ""),
    # One file, however it is named: a folder, a glob, the same path twice, ./ and a link.
    (["check", "-q", "mixed", "mixed/*.txt", "./mixed/a.txt", "mixed/a.txt", "mixed//deep/../a.txt", "link.txt"],
     PROBLEMS, "", "checked 2 files, 1 with findings"),
    (["convert", "empty", "other", "-o", "out.csv"], UNREADABLE, "", "other: error: no statement in this folder\n"
     "tarvik convert: no statement to convert, nothing written"),
    (["convert", "skipped.txt", "-o", "out.csv"], PROBLEMS, "", "0 documents from 1 files written to out.csv"),
    # Damage around intact records: a line skipped is a finding, a line taken in the obvious way a
    # repair, and an account section that does not build a warning.
    (["show", "junk.txt"], PROBLEMS, "Documents: 5", ""),
    (["check", "junk.txt"], PROBLEMS, "junk.txt:78: skipped: 'Левая строка' is not a key=value line: skipped", ""),
    (["check", "-q", "junk.txt"], PROBLEMS, "junk.txt:78: skipped:", "checked 1 files, 1 with findings"),
    (["check", "-q", "bare.txt"], OK, "", "checked 1 files, 0 with findings"),
    (["check", "bare.txt"], OK, "bare.txt:78: repair: 'СекцияДокумент' without '=': opens a document", ""),
    (["check", "-q", "account.txt"], PROBLEMS,
     "account.txt:20: warning: account section skipped: Account parse error: missing field `ДатаНачала`", ""),
    (["show", "account.txt"], PROBLEMS, "line 20: account section: Account parse error", ""),
    (["convert", "junk.txt", "-o", "out.csv"], PROBLEMS, "", "5 documents from 1 files written to out.csv"),
]
STATUS_IDS = [
    "show clean", "show all documents left out", "show mismatch", "show cut", "show missing",
    "check clean", "check -q counts what it shows", "check -q mismatch", "check warnings", "check one cut",
    "check missing", "check empty folder", "check folder of other files", "check folder walk skips others",
    "check a named file is read", "check overlapping paths", "convert nothing", "convert warnings",
    "show a skipped line", "check a skipped line", "check -q keeps a skipped line", "check -q a bare opening",
    "check a bare opening", "check an account section left out", "show an account section left out",
    "convert a skipped line",
]


@pytest.mark.parametrize("args, status, out, err", STATUS_CASES, ids=STATUS_IDS)
def test_exit_status(folder, args, status, out, err):
    os.symlink(folder / "mixed" / "a.txt", folder / "link.txt")
    run = run_in(folder, *args)
    stdout, stderr = run.stdout.decode(), run.stderr.decode()
    assert run.returncode == status, stderr
    assert out in stdout and err in stderr
    assert "Traceback" not in stderr
    assert not (folder / "out.csv").exists() or status != UNREADABLE


# A mistake in the options: status 2, one line on stderr, nothing on stdout, no file written.
MISTAKES = [
    (["--encoding", "latin-9x"], "--encoding latin-9x: not an encoding Python knows"),
    (["--encoding", "latin-9"], "--encoding latin-9: not an encoding Python knows"),
    (["--encoding", "latin9"], "--encoding latin9 cannot hold Cyrillic letters"),
    (["--encoding", "hex"], "--encoding hex: not an encoding Python knows"),
    (["--delimiter", ";;"], "--delimiter ';;': give one character"),
    (["--delimiter", '"'], "--delimiter '\"': give one character"),
    (["--jobs", "0"], "argument -j/--jobs: must be at least 1, not 0"),
    (["--jobs", "two"], "argument -j/--jobs: not a number: 'two'"),
    (["--format", "jsonl"], "--format jsonl contradicts the name out.csv"),
    (["--scale", "4"], "--scale applies to Parquet output, not CSV"),
    (["--partition-by", "year"], "--partition-by applies to Parquet output, not CSV"),
    (["-o", "out.txt"], "cannot tell the format of out.txt"),
    (["-o", "-", "--format", "parquet"], "Parquet cannot be written to standard output"),
    (["-o", "out.parquet", "--encoding", "cp1251"], "--encoding applies to CSV output, not Parquet"),
    (["-o", "out.parquet", "--decimal-comma"], "--decimal-comma applies to CSV output, not Parquet"),
    (["-o", "out.jsonl", "--encoding", "cp1251"], "JSON lines are UTF-8"),
    (["-o", "out.jsonl", "--no-formula-escape"], "--no-formula-escape applies to CSV output, not JSON lines"),
    (["-o", "no/out.csv"], "cannot write no/out.csv: there is no folder no"),
    (["-o", "empty"], "cannot tell the format of empty"),
    (["-o", "empty", "--format", "csv"], "empty is a folder: name a file"),
]


@pytest.mark.parametrize("extra, said", MISTAKES, ids=[" ".join(m[0]) for m in MISTAKES])
def test_an_option_mistake_is_one_line_and_leaves_nothing(folder, extra, said):
    before = sorted(p for p in folder.rglob("*"))
    args = ["convert", "good.txt", *extra]
    if "-o" not in extra:
        args += ["-o", "out.csv"]
    run = run_in(folder, *args)
    stderr = run.stderr.decode()
    assert run.returncode == UNREADABLE and run.stdout == b""
    assert stderr.count("\n") == 1 and said in stderr, stderr
    assert sorted(p for p in folder.rglob("*")) == before


# A reader that closes the pipe early: the status is still that of everything found.
PIPES = [
    ("tarvik check good.txt cut.txt off.txt | head -1", UNREADABLE, "good.txt:145: repair:"),
    ("tarvik check good.txt off.txt | head -1", PROBLEMS, "good.txt:145: repair:"),
    ("tarvik check good.txt good.txt mixed/a.txt | head -1", OK, "good.txt:145: repair:"),
    ("tarvik show good.txt | head -1", OK, "good.txt (cp1251)"),
    ("tarvik show off.txt | head -1", PROBLEMS, "off.txt (cp1251)"),
    # The rows cannot all reach their reader: convert stops, and does not call that a success.
    ("tarvik convert -j 1 " + " ".join(["good.txt"] + [f"copy{i}.txt" for i in range(40)]) + " -o - | head -1",
     UNREADABLE, "file,line,doc_number"),
]


@pytest.mark.parametrize("pipeline, status, first", PIPES, ids=[p[0][:40] for p in PIPES])
def test_a_closed_pipe_is_no_pass(folder, pipeline, status, first):
    for i in range(40):
        (folder / f"copy{i}.txt").write_bytes(DATA)
    tarvik = " ".join(COMMAND)
    run = run_in(folder, shell=f"set -o pipefail; {pipeline.replace('tarvik', tarvik, 1)}")
    stderr = run.stderr.decode()
    assert run.returncode == status, stderr
    assert run.stdout.decode().startswith(first)
    assert "Traceback" not in stderr and "BrokenPipe" not in stderr and "Exception ignored" not in stderr


@pytest.mark.parametrize("env", [{"PYTHONIOENCODING": "cp1251"}, {"PYTHONIOENCODING": "ascii"}],
                         ids=["cp1251", "ascii"])
def test_a_console_that_cannot_show_a_character(folder, env):
    run = run_in(folder, "check", "off.txt", env=env)
    assert run.returncode == PROBLEMS and b"Traceback" not in run.stderr
    line = run.stdout.decode(env["PYTHONIOENCODING"]).splitlines()[0]
    assert "opening 169250.50 + income 15000.00 \\u2212 expense 20430.25" in line
    show = run_in(folder, "show", "off.txt", env=env)
    assert show.returncode == PROBLEMS and b"Traceback" not in show.stderr


def test_utf8_output_is_what_it_was(folder):
    run = run_in(folder, "check", "off.txt", env={"PYTHONIOENCODING": "utf-8"})
    assert "income 15000.00 − expense 20430.25".encode() in run.stdout


@pytest.mark.parametrize("format_, parse", [
    ("csv", lambda text: list(csv.DictReader(io.StringIO(text)))),
    ("jsonl", lambda text: [json.loads(line) for line in text.splitlines()]),
])
def test_standard_output(folder, format_, parse):
    run = run_in(folder, "convert", "good.txt", "-o", "-", "--format", format_)
    assert run.returncode == OK, run.stderr
    rows = parse(run.stdout.decode())
    assert [r["amount"] for r in rows] == ["43200.00", "87450.50", "430.25", "20000.00", "15000.00"]
    assert "5 documents from 1 files written to standard output" in run.stderr.decode()
    assert not (folder / "-").exists()


def spreadsheet_statement():
    text = DATA.decode("cp1251")
    text = text.replace("НазначениеПлатежа=Оплата по счету № 1187", "НазначениеПлатежа==HYPERLINK(\"x\")", 1)
    text = text.replace("Сумма=87450.50", "Сумма=-87450.50", 1)
    text = text.replace("НазначениеПлатежа=", "НазначениеПлатежа=@SUM(A1)", 1)
    return text.replace("Номер=418", "Номер=-418", 1).encode("cp1251")


@pytest.mark.parametrize("extra, amounts, texts", [
    ([], ["43200.00", "-87450.50"], ["'@SUM(A1)=HYPERLINK(\"x\")", "'-418"]),
    (["--decimal-comma"], ["43200,00", "-87450,50"], ["'@SUM(A1)=HYPERLINK(\"x\")", "'-418"]),
    (["--no-formula-escape"], ["43200.00", "-87450.50"], ["@SUM(A1)=HYPERLINK(\"x\")", "-418"]),
], ids=["escaped", "decimal comma", "as they are"])
def test_csv_cells_for_a_spreadsheet(folder, extra, amounts, texts):
    (folder / "sheet.txt").write_bytes(spreadsheet_statement())
    run = run_in(folder, "convert", "sheet.txt", "-o", "out.csv", "--delimiter", ";", *extra)
    assert run.returncode == OK, run.stderr
    with open(folder / "out.csv", encoding="utf-8", newline="") as f:
        rows = list(csv.DictReader(f, delimiter=";"))
    assert [r["amount"] for r in rows[:2]] == amounts
    assert [rows[0]["purpose"][:len(texts[0])], rows[0]["doc_number"]] == texts
    assert rows[0]["line"] == "39"  # a number stays a number


TEXT = DATA.decode("cp1251")


@pytest.mark.parametrize("head, statement", [
    (DATA, True),
    (TEXT.encode("utf-8"), True),
    (b"\xef\xbb\xbf" + TEXT.encode("utf-8"), True),
    (TEXT.encode("utf-16"), True),  # with its byte-order mark
    (TEXT.encode("utf-16-le"), True),
    (TEXT.encode("utf-16-be"), True),
    (b"\r\n  1cclientbankexchange\r\n", True),  # a damaged first line still fails as a statement
    (b"1CClientBankExchang\r\n", True),
    (b"", False),
    (b"# 1CClientBankExchange files\n", False),
    (b"%PDF-1.7\n", False),
    (b"file,line,doc_number\r\n", False),
], ids=["cp1251", "utf-8", "utf-8 mark", "utf-16 mark", "utf-16-le", "utf-16-be", "blank line, case",
        "misspelt", "empty", "a README about the format", "pdf", "csv"])
def test_what_a_folder_walk_takes_for_a_statement(head, statement):
    from tarvik._paths import begins_like_statement

    assert begins_like_statement(head[:256]) is statement
