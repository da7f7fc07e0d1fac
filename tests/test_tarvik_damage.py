"""Damaged files: every intact record is read, each line not read as written is one change on its
own line, and what a person would not call damage around records is still refused."""

import re
from pathlib import Path

import pytest
from hypothesis import given
from hypothesis import strategies as st

import samples
import tarvik
import tarvik_py

CORPUS = Path(__file__).resolve().parent.parent.parent / "shared" / "corpus" / "real"

DOC = samples.document_section()
DOC2 = samples.document_section({"Номер": "18"})
ACCOUNT = samples.account_section()

# name, the statement's lines, the changes (line: message), and how many documents and warnings.
DAMAGED = [
    (
        "a line without = between documents",
        samples.statement_lines(DOC, ["Левая строка"], DOC2),
        {21: "'Левая строка' is not a key=value line: skipped"},
        2,
        0,
    ),
    (
        "a page's number and a total pasted into a document",
        samples.statement_lines(DOC[:4] + ["- 2 -", "Итого: 1 500,00"] + DOC[4:]),
        {11: "'- 2 -' is not a key=value line: skipped", 12: "'Итого: 1 500,00' is not a key=value line: skipped"},
        1,
        0,
    ),
    (
        "a bare СекцияДокумент opening each document",
        samples.statement_lines(["СекцияДокумент", *DOC[1:]], ["СекцияДокумент", *DOC2[1:]]),
        {7: "'СекцияДокумент' without '=': opens a document", 21: "'СекцияДокумент' without '=': opens a document"},
        2,
        0,
    ),
    (
        "header keys after an account section",
        samples.statement_lines(ACCOUNT, ["Документ=Платежное поручение", "Отправитель=Банк"], DOC),
        {
            16: "'Документ=Платежное поручение' after the sections: kept in the header",
            17: "'Отправитель=Банк' after the sections: kept among the header's lines; the header keeps its earlier value",
        },
        1,
        0,
    ),
    (
        "КонецДокумента twice in a row, and a marker line again",
        samples.statement_lines(DOC, ["КонецДокумента", "1CClientBankExchange"], DOC2),
        {21: "'КонецДокумента' closes no section: skipped", 22: "'1CClientBankExchange' after the first line: skipped"},
        2,
        0,
    ),
    (
        "an account section without its dates, and one with no known key",
        samples.statement_lines(
            samples.account_section({"ДатаНачала": None, "ДатаКонца": None}),
            ["СекцияРасчСчет", "Ключ=значение", "КонецРасчСчет"],
            DOC,
        ),
        {},
        1,
        2,
    ),
    (
        "a misspelt marker",
        ["1CCliertBankExchange", *samples.statement_lines(DOC)[1:]],
        {1: "'1CCliertBankExchange' read as the marker 1CClientBankExchange"},
        1,
        0,
    ),
    (
        "a fragment that begins at its first document",
        [*DOC, *DOC2, "КонецФайла"],
        {1: "the file begins with a section, without the line 1CClientBankExchange: read as a statement"},
        2,
        0,
    ),
    (
        "lines after КонецФайла",
        samples.statement_lines(DOC) + ["Итого=1", "хвост"],
        {22: "'Итого=1' after КонецФайла: skipped", 23: "'хвост' after КонецФайла: skipped"},
        1,
        0,
    ),
]


@pytest.mark.parametrize(("lines", "changes", "documents", "warnings"), [d[1:] for d in DAMAGED], ids=[d[0] for d in DAMAGED])
@pytest.mark.parametrize("encode", [samples.utf8, samples.cp1251], ids=["utf-8", "cp1251"])
def test_damaged_files_read_with_each_line_reported(lines, changes, documents, warnings, encode):
    data = encode(lines)
    reading = tarvik.read(data)
    assert {c.lineno: c.message for c in reading.changes} == changes
    assert len(reading.statement.documents) == documents
    assert len(reading.statement.warnings) == warnings
    # Read as tarvik_py reads it, each damaged file is refused as tarvik_py refuses it.
    with pytest.raises(tarvik_py.ParseError) as strict:
        tarvik_py.parse(data)
    with pytest.raises(type(strict.value), match=re.escape(str(strict.value))):
        tarvik.read(data, repairs=False)


def test_a_skipped_account_section_is_a_warning_and_the_statement_goes_on():
    data = samples.utf8(
        samples.statement_lines(samples.account_section({"ДатаНачала": None}), ACCOUNT, DOC)
    )
    reading = tarvik.read(data)
    assert reading.statement.warnings == [(14, "Account parse error: missing field `ДатаНачала`")]
    assert list(reading.statement.accounts) == ["40702810000000000001"]
    assert len(reading.statement.documents) == 1


REFUSED = [
    ("a document that never ends", samples.statement_lines(DOC[:-1])[:-1], tarvik_py.UnfinishedError),
    ("КонецФайла inside a document", samples.statement_lines(DOC[:-1]), tarvik_py.SyntaxError),
    ("a section inside a document", samples.statement_lines(DOC[:-1], DOC2), tarvik_py.SyntaxError),
    ("no marker and no section", ["Дата=01.01.2024", "Сумма=1"], tarvik_py.NotStatementError),
    ("a CSV", ["date;amount;purpose", "01.01.2024;1.00;x"], tarvik_py.NotStatementError),
]


@pytest.mark.parametrize(("lines", "error"), [r[1:] for r in REFUSED], ids=[r[0] for r in REFUSED])
def test_what_is_not_damage_around_records_is_refused(lines, error):
    with pytest.raises(error):
        tarvik.read(samples.utf8(lines))


def test_a_keyword_in_the_other_encoding_is_read_as_that_keyword():
    data = samples.cp1251(samples.statement_lines(DOC)[:-1]) + "КонецФайла".encode("utf-8")
    reading = tarvik.read(data)
    assert [c.message for c in reading.changes] == ["'РљРѕРЅРµС†Р¤Р°Р№Р»Р°' is КонецФайла written in UTF-8: read as КонецФайла"]
    assert len(reading.statement.documents) == 1


# --- the property: damage inserted anywhere, reported line by line, reads as the file did ----------

JUNK = ["Левая строка", "- 2 -", "Итого: 1 500,00", "\x0cСтраница 2"]
BETWEEN = [*JUNK, "КонецДокумента", "КонецРасчСчет", "1CClientBankExchange"]
IN_DOCUMENT = [*JUNK, "1CClientBankExchange", "КонецРасчСчет"]
IN_ACCOUNT = [*JUNK, "1CClientBankExchange", "КонецДокумента"]
KEYWORDS = {"1CClientBankExchange", "СекцияРасчСчет", "КонецРасчСчет", "КонецДокумента", "КонецФайла"}


def _places(lines: list[str]) -> list[tuple[int, str]]:
    """Where a damaged line may go (before line i, 0-based), and what stands there."""
    out = []
    where = "header"
    first_closed = False
    for i, line in enumerate(lines):
        text = line.rstrip("\r")
        if i == 0:
            continue
        if where in ("header", "between"):
            out.append((i, "between-late" if first_closed else "between"))
        elif where in ("document", "account") and not text.startswith("Секция"):
            out.append((i, where))
        if text.startswith("СекцияДокумент"):
            where = "document"
        elif text == "СекцияРасчСчет":
            where = "account"
        elif text in ("КонецДокумента", "КонецРасчСчет"):
            where, first_closed = "between", True
        elif text == "КонецФайла":
            break
    return out


def _statements() -> list[tuple[str, bytes]]:
    found = [("generated", samples.cp1251(samples.mid_size(6))), ("generated-utf8", samples.utf8(samples.mid_size(3)))]
    if CORPUS.is_dir():
        for path in sorted(CORPUS.glob("*.txt")):
            data = path.read_bytes()
            try:
                reading = tarvik.read(data)
            except tarvik_py.ParseError:
                continue
            if reading.encoding in ("utf-8", "cp1251") and not any(c.repair in _DAMAGE for c in reading.changes):
                found.append((path.name, data))
    return found


_DAMAGE = {"skipped_line", "late_header", "bare_section", "misspelt_marker", "no_marker", "keyword_encoding"}
STATEMENTS = _statements()


@given(st.data())
def test_damage_inserted_anywhere_reads_as_the_whole_file_did(data):
    name, original = data.draw(st.sampled_from(STATEMENTS), label="statement")
    before = tarvik.read(original)
    encoding = before.encoding
    lines = original.split(b"\n")
    texts = [tarvik._encodings.decode(line, encoding) for line in lines]
    places = _places(texts)
    header = before.header_lines()
    count = data.draw(st.integers(1, 4), label="count")
    chosen = sorted(data.draw(st.lists(st.sampled_from(places), min_size=count, max_size=count), label="places"))
    inserted: dict[int, str] = {}  # 0-based place in the damaged file: the line
    damaged = list(lines)
    for shift, (at, where) in enumerate(chosen):
        kinds = {"document": IN_DOCUMENT, "account": IN_ACCOUNT}.get(where, BETWEEN)
        if where == "between-late" and header:
            kinds = [*kinds, "=".join(header[0])]  # a header line again, as it was: nothing changes
        line = data.draw(st.sampled_from(kinds), label="line")
        eol = b"\r" if lines[at - 1].endswith(b"\r") else b""
        damaged.insert(at + shift, tarvik._encodings.encode(line, encoding) + eol)
        inserted[at + shift] = line
    after = tarvik.read(b"\n".join(damaged))

    assert after.statement.header == before.statement.header
    assert after.statement.accounts == before.statement.accounts
    assert after.statement.documents == before.statement.documents
    assert [m for _, m in after.statement.warnings] == [m for _, m in before.statement.warnings]
    # One change per inserted line, on that line; the file's own changes, on their moved lines.
    new = {c.lineno: c for c in after.changes if c.lineno - 1 in inserted}
    assert sorted(new) == sorted(i + 1 for i in inserted)
    for lineno, change in new.items():
        assert change.repair in ("skipped_line", "late_header")
        assert inserted[lineno - 1].strip("\x0c") in change.message or inserted[lineno - 1] in change.message
    assert [(c.repair, c.message) for c in after.changes if c.lineno - 1 not in inserted] == [
        (c.repair, c.message) for c in before.changes
    ]
    # Read strictly, the damaged file is refused exactly as tarvik_py refuses it.
    with pytest.raises(tarvik_py.ParseError) as strict:
        tarvik_py.parse(b"\n".join(damaged))
    with pytest.raises(type(strict.value), match=re.escape(str(strict.value))):
        tarvik.read(b"\n".join(damaged), repairs=False)
