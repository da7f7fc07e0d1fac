"""tarvik.ledger: the entries, the balances and the findings of statements that overlap and repeat.

The law: statements written with tarvik.write from a known ledger, over random overlapping
periods in random encodings, give back exactly its entries and daily balances, and no finding.
Then one damage at a time, each giving its finding; then the rules case by case.
"""

from __future__ import annotations

import collections
import datetime
import decimal
import random

import pytest

import tarvik

from arrow_rows import rows, schema
from ledger_archive import (
    LAYOUT,
    X,
    Y,
    archive,
    day,
    gen_ledger,
    document_line,
    interval_line,
    paid_out,
    shifted,
    with_amount,
    without_document,
)
from tarvik.ledger import ENTRY_COLUMNS, NO_MATCH, Finding

D = decimal.Decimal
KEY_COLUMNS = [name for name, _, _ in ENTRY_COLUMNS if name not in ("file", "line")]


def entry_values(book) -> collections.Counter:
    return collections.Counter(tuple(row[c] for c in KEY_COLUMNS) for row in rows(book.entries))


def kinds(book) -> list[tuple[str, int | None, str]]:
    return [(f.file, f.line, f.kind) for f in book.findings]


# --- the law ---------------------------------------------------------------------------------


@pytest.mark.parametrize("seed", [1, 2, 3, 4, 5])
def test_statements_of_a_known_ledger_give_back_its_entries_and_balances(seed):
    rng = random.Random(seed)
    accounts = [f"4070281090000000{n:04d}" for n in range(rng.randint(1, 4))]
    known = gen_ledger.known_ledger(rng, accounts, datetime.date(2024, 1, 1), rng.randint(20, 50), per_day=2)
    balances = known.balances()
    plans = gen_ledger.random_plans(rng, known)
    files = [gen_ledger.statement(known, plan, balances) for plan in plans]
    assert {p.encoding for p in plans} >= {"cp1251", "utf-8"} and any(p.daily for p in plans)

    book = tarvik.ledger(files)

    assert book.findings == []
    assert entry_values(book) == collections.Counter(known.entries())
    got = {(r["account"], r["day"]): r for r in rows(book.balances)}
    assert {k: (r["opening"], r["income"], r["expense"], r["closing"]) for k, r in got.items()} == balances
    # A day is the bank's own where a statement gives an account section of that one day.
    one_day = {(a, d) for p in plans if p.daily or p.start == p.end for a in p.accounts
               for d in gen_ledger._days(p.start, p.end)}
    assert {k for k, r in got.items() if not r["derived"]} == one_day


def test_the_tables_are_typed_as_to_arrow_types_them():
    book = tarvik.ledger(archive().files["s1.txt"])
    assert dict(schema(book.entries)) == {
        "account": "u", "direction": "u", "booked": "tdD", "amount": "d:38,2", "signed": "d:38,2",
        "counterparty_name": "u", "counterparty_inn": "u", "counterparty_kpp": "u", "counterparty_account": "u",
        "counterparty_bank": "u", "counterparty_bic": "u", "purpose": "u", "doc_type": "u", "doc_number": "u",
        "doc_date": "tdD", "file": "u", "line": "l",
    }
    assert dict(schema(book.balances)) == {
        "account": "u", "day": "tdD", "opening": "d:38,2", "income": "d:38,2", "expense": "d:38,2",
        "closing": "d:38,2", "derived": "b",
    }


# --- one finding for each damage ---------------------------------------------------------------


@pytest.fixture(scope="module")
def layout():
    """The archive of LAYOUT, its ledger, and a payment out of X on 15 January, which both s1
    (the month) and s2 (day by day) hold."""
    made = archive()
    return made, tarvik.ledger(list(made.files.values())), paid_out(made.known, X, day(1, 15))


def damaged_ledger(made, **files):
    given = dict(made.files)
    for name, data in files.items():
        if data is None:
            del given[name]
        else:
            given[name] = data
    return given, tarvik.ledger(list(given.values()))


def test_the_archive_undamaged_is_its_known_ledger(layout):
    made, book, _ = layout
    assert book.findings == []
    assert entry_values(book) == collections.Counter(made.known.entries())


@pytest.mark.parametrize("name", ["s2.txt", "s1.txt"], ids=["from the days", "from the month"])
def test_a_document_left_out_of_one_statement_is_one_turnover_finding(layout, name):
    made, book, payment = layout
    data = without_document(made.files[name], name, payment.document["doc_number"])
    given, damaged = damaged_ledger(made, **{name: data})
    start = day(1, 15) if LAYOUT[name].daily else LAYOUT[name].start
    label = f"<bytes {list(given).index(name) + 1}>"
    assert kinds(damaged) == [(label, interval_line(data, X, start), "turnover")]
    amount = payment.document["amount"]
    assert damaged.findings[0].message.endswith(f"(difference {-amount})")
    # The other statement holds the document: the entry is still there, once.
    assert entry_values(damaged) == entry_values(book)


def test_a_statement_left_out_is_one_gap_finding(layout):
    made, _, _ = layout
    given, damaged = damaged_ledger(made, **{"s3.txt": None})
    label = f"<bytes {list(given).index('s4.txt') + 1}>"
    assert kinds(damaged) == [(label, interval_line(made.files["s4.txt"], X, day(2, 15)), "gap")]
    assert "no statement covers 2024-02-01..2024-02-14" in damaged.findings[0].message
    missing = {(X, d) for d in gen_ledger._days(day(2, 1), day(2, 14))}
    assert {(r["account"], r["day"]) for r in rows(damaged.balances)} & missing == set()


def test_a_different_amount_in_one_copy_is_a_conflict_and_the_earlier_copy_stands(layout):
    made, book, payment = layout
    number = payment.document["doc_number"]
    data = with_amount(made.files["s2.txt"], "s2.txt", number, payment.document["amount"] + 1)
    _, damaged = damaged_ledger(made, **{"s2.txt": data})
    line = document_line(data, number)
    # The copy's own statement no longer adds up either: that is the turnover, on its day.
    assert kinds(damaged) == [
        ("<bytes 2>", interval_line(data, X, day(1, 15)), "turnover"),
        ("<bytes 2>", line, "conflict"),
    ]
    conflict = damaged.findings[1]
    assert f"differs from its copy at <bytes 1>:{document_line(made.files['s1.txt'], number)}" in conflict.message
    assert f"amount {payment.document['amount']} there, {payment.document['amount'] + 1} here" in conflict.message
    assert entry_values(damaged) == entry_values(book)


def test_a_shifted_balance_is_one_continuity_finding(layout):
    made, _, _ = layout
    data = shifted(made.files["s5.txt"], "s5.txt", D("100.00"))
    _, damaged = damaged_ledger(made, **{"s5.txt": data})
    assert kinds(damaged) == [("<bytes 5>", interval_line(data, X, day(3, 1)), "continuity")]
    assert damaged.findings[0].message.endswith("(difference 100.00)")


def test_statements_that_overlap_and_disagree_are_an_overlap_finding(layout):
    made, _, _ = layout
    # The days of s2 shifted all alike: they follow on from one another, but not from the month.
    data = shifted(made.files["s2.txt"], "s2.txt", D("-5.00"))
    _, damaged = damaged_ledger(made, **{"s2.txt": data})
    assert kinds(damaged) == [
        ("<bytes 1>", interval_line(made.files["s1.txt"], X, day(1, 1)), "overlap"),
        ("<bytes 2>", interval_line(data, X, day(1, 10)), "overlap"),
    ]


# --- the rules, case by case -------------------------------------------------------------------

OURS, OTHER, THIRD = "40702810000000000001", "40702810000000000009", "40702810000000000008"
CORR = "30101810400000000225"  # a bank's correspondent account


def document(**changes):
    doc = {
        "doc_number": "7", "doc_date": datetime.date(2024, 3, 4), "amount": D("150.00"), "purpose": "Оплата",
        "counterparty": "ООО Ромашка", "counterparty_inn": "7700000001", "counterparty_bic": "044525225",
        "counterparty_bank1": "ПАО СБЕРБАНК", "counterparty_account": OURS,
        "payee": "АО Ладога", "payee_inn": "7700000002", "payee_kpp": "770001001", "payee_bic": "044525593",
        "payee_bank1": "АО АЛЬФА-БАНК", "payee_account": OTHER,
    }
    return doc | changes


def statement(*documents, accounts=(OURS,), encoding="cp1251"):
    """A statement without account sections: its own accounts are its header's."""
    data = tarvik.write(list(documents), header={"ВерсияФормата": "1.03", "РасчСчет": accounts[0]}, encoding=encoding)
    more = b"".join(b"\r\n" + "РасчСчет=".encode(encoding) + a.encode() for a in accounts[1:])
    key = ("РасчСчет=" + accounts[0]).encode(encoding)
    return data.replace(key, key + more, 1)


@pytest.mark.parametrize(
    ("doc", "accounts", "expected"),
    [
        (document(outcome_date=datetime.date(2024, 3, 5)), (OURS,),
         [(OURS, "out", day(3, 5), D("-150.00"), OTHER, "АО Ладога")]),
        (document(counterparty_account=OTHER, payee_account=OURS, income_date=datetime.date(2024, 3, 6)), (OURS,),
         [(OURS, "in", day(3, 6), D("150.00"), OTHER, "ООО Ромашка")]),
        (document(payee_account=THIRD), (OURS, THIRD),
         [(OURS, "out", day(3, 4), D("-150.00"), THIRD, "АО Ладога"),
          (THIRD, "in", day(3, 4), D("150.00"), OURS, "ООО Ромашка")]),
        (document(counterparty_account=OTHER, payee_account=CORR, payee_ras_account=OURS), (OURS,),
         [(OURS, "in", day(3, 4), D("150.00"), OTHER, "ООО Ромашка")]),
        (document(payee_account=CORR, payee_ras_account=OTHER), (OURS,),
         [(OURS, "out", day(3, 4), D("-150.00"), OTHER, "АО Ладога")]),
        (document(payee_account=OTHER, payee_ras_account=""), (OURS,),
         [(OURS, "out", day(3, 4), D("-150.00"), OTHER, "АО Ладога")]),
        (document(counterparty_account=f" {OURS} "), (OURS,),
         [(OURS, "out", day(3, 4), D("-150.00"), OTHER, "АО Ладога")]),
        (document(counterparty_account=OTHER, payee_account=OURS, counterparty=None, counterparty_1="ИП Петров"),
         (OURS,),
         [(OURS, "in", day(3, 4), D("150.00"), OTHER, "ИП Петров")]),
        (document(counterparty_account=OTHER, payee_account=THIRD), (OURS,), []),
    ],
    ids=["out, booked when it left", "in, booked when it arrived", "between two own accounts: both",
         "in through a correspondent", "out to a client of a correspondent", "an empty РасчСчет is not given",
         "white space around an account", "the payer's name in Плательщик1", "neither side ours: foreign"],
)
def test_a_document_gives_an_entry_for_each_own_account_it_moves(doc, accounts, expected):
    book = tarvik.ledger(statement(doc, accounts=accounts), repairs=False)  # the name as the file has it
    got = [(r["account"], r["direction"], r["booked"], r["signed"], r["counterparty_account"], r["counterparty_name"])
           for r in rows(book.entries)]
    assert got == sorted(expected)
    assert [f.kind for f in book.findings] == ([] if expected else ["foreign"])
    if not expected:
        assert book.findings[0] == Finding(
            "<bytes>", 3 + len(accounts), "warning", "foreign",
            f"Платежное поручение № 7 of 2024-03-04 from {OTHER} to {THIRD} moves none of the statement's own "
            f"accounts ({OURS})")


FEE_1, FEE_2 = document(amount=D("10.00")), document(amount=D("20.00"))
PURPOSE = document(purpose="Оплата по счёту 5")


@pytest.mark.parametrize(
    ("statements", "entries", "conflicts"),
    [
        ([[FEE_1], [FEE_1]], [("10.00", 0)], 0),
        ([[FEE_1, FEE_1], [FEE_1]], [("10.00", 0), ("10.00", 0)], 0),
        ([[FEE_1], [FEE_1, FEE_1]], [("10.00", 1), ("10.00", 1)], 0),
        ([[FEE_1, FEE_2], [FEE_2]], [("10.00", 0), ("20.00", 0)], 0),
        ([[FEE_1], [FEE_1, FEE_2]], [("10.00", 0), ("20.00", 1)], 0),
        ([[FEE_1], [FEE_2]], [("10.00", 0)], 1),
        ([[FEE_1, FEE_2], [FEE_1, PURPOSE]], [("10.00", 0), ("20.00", 0)], 1),
        ([[document(doc_number="8")], [document(doc_number="9")]], [("150.00", 0), ("150.00", 1)], 0),
    ],
    ids=["one copy each: one entry", "twice in the first file: two", "twice in the second: two, from it",
         "a fee of the day the second lacks", "a fee only the second has", "another amount: a conflict",
         "another purpose: a conflict", "two numbers: two documents"],
)
def test_copies_of_a_document_are_one_entry_as_many_times_as_one_file_holds_it(statements, entries, conflicts):
    book = tarvik.ledger([statement(*docs) for docs in statements])
    got = [(str(r["amount"]), int(r["file"][len("<bytes "):-1]) - 1) for r in rows(book.entries)]
    assert sorted(got) == sorted(entries)
    assert [f.kind for f in book.findings] == ["conflict"] * conflicts


def test_a_statement_that_adds_up_is_no_finding_and_one_that_does_not_says_by_how_much():
    sections = {OURS: [{"date_start": day(3, 4), "date_end": day(3, 4), "start_amount": D("1000.00"),
                        "total_income": D("0.00"), "total_expense": D("150.00"), "end_amount": D("850.00")}]}
    good = tarvik.write([document()], accounts=sections)
    assert tarvik.ledger(good).findings == []
    sections[OURS][0] |= {"total_expense": D("200.00"), "end_amount": D("800.00")}
    bad = tarvik.ledger(tarvik.write([document()], accounts=sections))
    assert [str(f) for f in bad.findings] == [
        "<bytes>:12: mismatch: turnover: account 40702810000000000001 2024-03-04..2024-03-04: expense 200.00, but "
        "the statement's documents booked in the period add up to 150.00 (difference -50.00)"]
    assert [(r["opening"], r["expense"], r["closing"], r["derived"]) for r in rows(bad.balances)] == [
        (D("1000.00"), D("200.00"), D("800.00"), False)]


def test_what_check_reports_the_ledger_reports_alike(tmp_path):
    sections = {OURS: [{"date_start": day(3, 4), "date_end": day(3, 4), "start_amount": D("1.00"),
                        "total_income": D("0.00"), "total_expense": D("0.00"), "end_amount": D("2.00")}]}
    sample = tarvik.write([document(), document(doc_number="8", amount=D("12.50"))], accounts=sections)
    sample = sample.replace(b"=12.50", b"=12,50").replace("Номер=7".encode("cp1251"), b"N=7")
    (tmp_path / "sample.txt").write_bytes(sample)
    (tmp_path / "broken.txt").write_bytes(sample[:-20])
    paths = [str(ROOT_EXAMPLE), str(tmp_path / "broken.txt"), str(tmp_path / "sample.txt")]
    book = tarvik.ledger(paths)
    check_kinds = {"error", "warning", "mismatch", "repair"}
    got = [(f.file, f.line, f.severity, f.message) for f in book.findings if f.kind in check_kinds]
    want = [(f.name, f.lineno, f.severity, f.message) for path in paths for f in tarvik.check(path)]
    assert got == want
    assert {f.severity for f in book.findings} == check_kinds


@pytest.mark.parametrize("repairs", [True, False])
def test_repairs_are_as_in_read(repairs):
    data = statement(document()).replace(b"=150.00", b"=150,00")
    book = tarvik.ledger(data, repairs=repairs)
    assert len(rows(book.entries)) == (1 if repairs else 0)
    assert [f.kind for f in book.findings] == (["repair"] if repairs else ["warning"])


def test_sources_are_paths_folders_patterns_and_bytes(tmp_path):
    made = archive()
    (tmp_path / "archive").mkdir()
    folder = made.write(tmp_path / "archive")
    (folder / "notes.md").write_text("not a statement")
    data = made.files["y1.txt"]
    book = tarvik.ledger([str(folder), str(tmp_path / "*.none"), data, bytearray(data)])
    files = [f.file for f in book.findings]
    assert files == [str(folder / "notes.md"), str(tmp_path / "*.none")]
    assert [f.message for f in book.findings][1] == NO_MATCH
    # The bytes repeat y1.txt of the folder: its entries are there once, from the file.
    assert {r["file"] for r in rows(book.entries)} <= {str(folder / n) for n in LAYOUT}
    assert entry_values(book) == collections.Counter(made.known.entries())
    with pytest.raises(TypeError, match="a source is a path, a pattern or bytes, not int"):
        tarvik.ledger([1])


ROOT_EXAMPLE = gen_ledger.HERE.parent / "examples" / "statement_cp1251.txt"
