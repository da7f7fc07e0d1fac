"""The ledger of each real file beside the project: its entries and its findings, each explained.

Most shared files are cut samples or anonymised, so their account sections' turnovers do not
match their documents; each turnover finding below says by how much, and the comment why.
"""

from __future__ import annotations

import collections
import decimal
import re
from pathlib import Path

import pytest

import tarvik
from arrow_rows import rows

CORPUS = Path(__file__).resolve().parent.parent.parent / "shared" / "corpus" / "real"
D = decimal.Decimal

pytestmark = pytest.mark.skipif(not CORPUS.is_dir(), reason="no corpus beside the project")

# file: (entries, their signed sum, findings by kind, turnovers as (line, what, stated, documents))
EXPECTED = {
    # A cut sample: three documents under a section of a quarter's totals. Two leave the account
    # (6936.00 + 150000.00); № 1 runs between two other accounts.
    "clbnk_kl_to_1c_cp1251.txt": (2, D("-156936.00"), {"turnover": 2, "foreign": 1},
                                  [(11, "income", "616050.00", "0.00"), (11, "expense", "789647.44", "156936.00")]),
    # Read past its damage (bare openings, КонецФайла in UTF-8); both documents lack
    # ПлательщикСчет, as orders to the bank written by that program do, and are left out.
    "clbnk_to_bank_cp1251_mixed_eol.txt": (0, 0, {"repair": 7, "warning": 2}, []),
    "condo_invalid_utf8.txt": (0, 0, {"error": 1}, []),
    # Anonymised: four documents of half a year's totals, in 1052.98 + 1166.98, out 700 + 14000.
    "condo_statement_utf8.txt": (4, D("-12480.04"), {"repair": 8, "turnover": 2},
                                 [(11, "income", "2681831.46", "2219.96"), (11, "expense", "2554737.23", "14700.00")]),
    # The ten documents out of the account give the payer's account anonymised as
    # 12312312312312312, so none is the account's: all ten are foreign, and they are the whole
    # expense, 41184.00. The three in add up to the income, 40000.00.
    "kilylabs_one_day_cp1251.txt": (3, D("40000.00"), {"repair": 26, "foreign": 10, "turnover": 1},
                                    [(11, "expense", "41184.00", "0.00")]),
    "kilylabs_one_day_utf8.txt": (3, D("40000.00"), {"repair": 26, "foreign": 10, "turnover": 1},
                                  [(11, "expense", "41184.00", "0.00")]),
    # The section is of 2 January; the one document, of 31 March, left the account on 3 April.
    "odoo-ru_kl_to_1c_cp1251.txt": (1, D("-108159.12"), {"repair": 2, "turnover": 1},
                                    [(11, "expense", "108159.12", "0.00")]),
    "odoo-ru_min_header_only_cp1251.txt": (0, 0, {"error": 1}, []),
    # Two accounts, six transfers between them, each an entry on both: the totals match.
    "unact_test_utf8.txt": (12, D("0.00"), {}, []),
    # Made-up figures: № 2 arrives on the account (2000.00), № 1 runs between two others.
    "zharikovpro_documents_cp1251.txt": (1, D("2000.00"), {"repair": 4, "turnover": 2, "foreign": 1},
                                         [(8, "income", "10.90", "2000.00"), (8, "expense", "3.15", "0.00")]),
    "zharikovpro_general_cp1251.txt": (0, 0, {"error": 1}, []),
    "zharikovpro_remainings_cp1251.txt": (0, 0, {"error": 1}, []),
    "zharikovpro_wrong_format.txt": (0, 0, {"error": 1}, []),
}

TURNOVER = re.compile(
    r"account \d+ \S+: (income|expense) ([-0-9.]+), but the statement's documents booked in the period add up "
    r"to ([-0-9.]+) \(difference ([-0-9.]+)\)"
)


def test_every_corpus_file_has_an_expected_ledger():
    assert sorted(p.name for p in CORPUS.glob("*.txt")) == sorted(EXPECTED)


@pytest.mark.parametrize("name", sorted(EXPECTED))
def test_the_ledger_of_a_corpus_file(name):
    count, total, found, turnovers = EXPECTED[name]
    book = tarvik.ledger(str(CORPUS / name))
    entries = rows(book.entries)
    assert (len(entries), sum(r["signed"] for r in entries)) == (count, total)
    assert collections.Counter(f.kind for f in book.findings) == found
    got = []
    for f in book.findings:
        if f.kind == "turnover":
            what, stated, documents, difference = TURNOVER.fullmatch(f.message).groups()
            assert D(difference) == D(documents) - D(stated)
            got.append((f.line, what, stated, documents))
    assert got == turnovers


def test_the_foreign_documents_are_the_missing_expense():
    reading = tarvik.read(CORPUS / "kilylabs_one_day_cp1251.txt")
    book = tarvik.ledger(str(CORPUS / "kilylabs_one_day_cp1251.txt"))
    foreign = {f.line for f in book.findings if f.kind == "foreign"}
    amounts = [D(d.amount) for d, line in zip(reading.statement.documents, reading.document_lines()) if line in foreign]
    expense = reading.statement.accounts["40702810200000000001"].intervals[0].total_expense
    assert sum(amounts) == D(expense)


def test_one_statement_in_two_encodings_is_one_ledger():
    both = tarvik.ledger([str(CORPUS / "kilylabs_one_day_cp1251.txt"), str(CORPUS / "kilylabs_one_day_utf8.txt")])
    one = tarvik.ledger(str(CORPUS / "kilylabs_one_day_cp1251.txt"))
    assert rows(both.entries) == rows(one.entries) and rows(both.balances) == rows(one.balances)
    assert [f.kind for f in both.findings] == [f.kind for f in one.findings] * 2
