"""tarvik.read, its repairs, the typed records and check: as users call them."""

import codecs
import datetime
import decimal
import io
from pathlib import Path

import pytest

import tarvik
import tarvik_py
from tarvik import hooks
from tarvik.checking import check
from tarvik.records import as_dict, document_rows, interval_rows

ROOT = Path(__file__).resolve().parent.parent
SAMPLE = ROOT / "examples" / "statement_cp1251.txt"
CORPUS = ROOT.parent / "shared" / "corpus" / "real"

REQUIRED = [
    "Номер=7",
    "Дата=05.03.2024",
    "Сумма=100.00",
    "ПлательщикСчет=40702810900000012345",
    "ПлательщикИНН=7701234567",
    "ПлательщикБИК=044525225",
    "ПлательщикБанк1=ПАО СБЕРБАНК",
    "ПолучательСчет=40702810138000004321",
    "ПолучательИНН=5029012345",
    "ПолучательБИК=044525225",
    "ПолучательБанк1=ПАО СБЕРБАНК",
]


def statement(*sections, header=("ВерсияФормата=1.03", "Кодировка=Windows"), encoding="cp1251"):
    lines = ["1CClientBankExchange", *header]
    for section in sections:
        lines.extend(section)
    lines.append("КонецФайла")
    return ("\r\n".join(lines) + "\r\n").encode(encoding)


def document(*lines, purpose=True, drop=()):
    body = REQUIRED + (["НазначениеПлатежа=Оплата"] if purpose else [])
    keys = {line.partition("=")[0] for line in lines} | set(drop)
    body = [line for line in body if line.partition("=")[0] not in keys]
    return ["СекцияДокумент=Платежное поручение", *body, *lines, "КонецДокумента"]


def account(*lines):
    base = ["ДатаНачала=01.03.2024", "ДатаКонца=31.03.2024", "РасчСчет=40702810900000012345",
            "НачальныйОстаток=100.00"]
    keys = {line.partition("=")[0] for line in lines}
    base = [line for line in base if line.partition("=")[0] not in keys]
    return ["СекцияРасчСчет", *base, *lines, "КонецРасчСчет"]


def same_statement(a, b):
    return (
        a.header == b.header
        and a.documents == b.documents
        and a.warnings == b.warnings
        and {n: x.intervals for n, x in a.accounts.items()}
        == {n: x.intervals for n, x in b.accounts.items()}
    )


# --- sources and encodings ------------------------------------------------------------------


@pytest.mark.parametrize(
    "make",
    [
        lambda p: str(p),
        lambda p: p,
        lambda p: p.read_bytes(),
        lambda p: bytearray(p.read_bytes()),
        lambda p: memoryview(p.read_bytes()),
        lambda p: io.BytesIO(p.read_bytes()),
    ],
    ids=["str path", "PathLike", "bytes", "bytearray", "memoryview", "binary file"],
)
def test_every_kind_of_source_reads_the_same_statement(make):
    reading = tarvik.read(make(SAMPLE), repairs=False)
    assert same_statement(reading.statement, tarvik_py.parse(SAMPLE.read_bytes()))


def test_a_text_file_is_refused_with_the_mode_to_use():
    with pytest.raises(TypeError, match="'rb' mode"):
        tarvik.read(io.StringIO("1CClientBankExchange\n"))


def test_a_utf8_byte_order_mark_is_dropped_and_reported():
    text = SAMPLE.read_bytes().decode("cp1251")
    reading = tarvik.read(codecs.BOM_UTF8 + text.encode("utf-8"), repairs=False)
    assert (reading.encoding, reading.byte_order_mark) == ("utf-8", True)
    assert same_statement(reading.statement, tarvik_py.parse(text.encode("utf-8")))


def test_a_byte_order_mark_before_windows_1251_reads_as_windows_1251():
    reading = tarvik.read(codecs.BOM_UTF8 + SAMPLE.read_bytes(), repairs=False)
    assert (reading.encoding, reading.byte_order_mark) == ("cp1251", True)
    assert len(reading.statement.documents) == 4


def dos(header_line, encoding="cp866"):
    text = SAMPLE.read_bytes().decode("cp1251").replace("«", '"').replace("»", '"')
    return text.replace("Кодировка=Windows", header_line).encode(encoding)


def test_a_dos_file_reads_as_code_page_866():
    reading = tarvik.read(dos("Кодировка=DOS"))
    assert reading.encoding == "cp866"
    windows = tarvik.read(dos("Кодировка=DOS", "cp1251"))
    assert windows.encoding == "cp1251"
    assert same_statement(reading.statement, windows.statement)
    assert [c.lineno for c in reading.changes] == [c.lineno for c in windows.changes]


@pytest.mark.parametrize(
    "data",
    [
        dos("Кодировка=Windows"),  # code page 866 that does not say so
        dos("Кодировка=DOS", "cp1251"),  # says DOS, written in Windows-1251
    ],
    ids=["cp866 without the declaration", "declaration in cp1251 bytes"],
)
def test_only_a_dos_declaration_in_its_own_bytes_decides(data):
    try:
        expected = tarvik_py.parse(data)
    except tarvik_py.ParseError as exc:
        with pytest.raises(type(exc), match=str(exc)):
            tarvik.read(data, repairs=False)
    else:
        assert same_statement(tarvik.read(data, repairs=False).statement, expected)


def test_a_failure_is_tarvik_pys_own_with_the_file_named(tmp_path):
    path = tmp_path / "broken.txt"
    path.write_bytes(statement(document(), header=("Кодировка=Windows", "битая строка")))
    with pytest.raises(tarvik_py.SyntaxError) as info:
        tarvik.read(path, repairs=False)  # with them, the line is skipped as damage
    assert isinstance(info.value.detail, tarvik_py.UnrecognizedLine)
    assert info.value.detail.lineno == 3
    assert info.value.__notes__ == [f"in {path}"]


@pytest.mark.skipif(not CORPUS.is_dir(), reason="no corpus beside the project")
@pytest.mark.parametrize("path", sorted(CORPUS.glob("*.txt")), ids=lambda p: p.name)
def test_without_repairs_read_is_tarvik_py(path):
    data = path.read_bytes()
    try:
        expected = tarvik_py.parse(data)
    except tarvik_py.ParseError as exc:
        with pytest.raises(type(exc)):
            tarvik.read(data, repairs=False)
        return
    reading = tarvik.read(data, repairs=False)
    assert same_statement(reading.statement, expected) and reading.changes == ()


@pytest.mark.skipif(not CORPUS.is_dir(), reason="no corpus beside the project")
def test_repairs_name_every_payee_of_the_corpus():
    documents = []
    for path in sorted(CORPUS.glob("*.txt")):
        try:
            documents += tarvik.read(path).statement.documents
        except tarvik_py.ParseError:
            pass
    assert len(documents) == 42
    assert all(doc.payee for doc in documents)


# --- the repairs, each alone and through read ----------------------------------------------

REPAIR_CASES = [
    # section lines, attribute, expected value, expected (lineno of the source, key, old, new)
    (document("Получатель1=ООО Ромашка"), "payee", "ООО Ромашка",
     [("names_from_numbered", 17, "Получатель", None, "ООО Ромашка")]),
    (document("Получатель=", "Получатель1=ООО Ромашка"), "payee", "ООО Ромашка",
     [("names_from_numbered", 18, "Получатель", "", "ООО Ромашка")]),
    (document("Получатель=ИНН 1 ООО", "Получатель1=ООО Ромашка"), "payee", "ИНН 1 ООО", []),
    (document("Плательщик1=ИП Иванов"), "counterparty", "ИП Иванов",
     [("names_from_numbered", 17, "Плательщик", None, "ИП Иванов")]),
    (document("НазначениеПлатежа1=За товары, ", "НазначениеПлатежа2=НДС 20%", purpose=False),
     "purpose", "За товары, НДС 20%",
     [("purpose_from_numbered", 16, "НазначениеПлатежа", None, "За товары, НДС 20%")]),
    (document("НазначениеПлатежа1=", purpose=False), "purpose", "",
     [("purpose_from_numbered", 16, "НазначениеПлатежа", None, "")]),
    (document("НазначениеПлатежа=Своё", "НазначениеПлатежа1=Другое"), "purpose", "Своё", []),
    (document("ПолучательСчёт=40702810138000004321", drop=["ПолучательСчет"]), "payee_account",
     "40702810138000004321", [("yo_in_keys", 16, "ПолучательСчет", "ПолучательСчёт", "ПолучательСчет")]),
    (document("Сумма=15 000,00"), "amount", "15000.00",
     [("comma_amounts", 16, "Сумма", "15 000,00", "15000.00")]),
    (document("Сумма=1\u00a0234\u00a0567.5"), "amount", "1234567.5",
     [("comma_amounts", 16, "Сумма", "1\u00a0234\u00a0567.5", "1234567.5")]),
    (document("Сумма=-15,5"), "amount", "-15.5", [("comma_amounts", 16, "Сумма", "-15,5", "-15.5")]),
    (document("Сумма=15000.00"), "amount", "15000.00", []),
]


@pytest.mark.parametrize(
    "section, attr, want, changes",
    REPAIR_CASES,
    ids=["payee absent", "payee empty", "payee kept", "payer absent", "purpose joined",
         "purpose empty lines", "purpose kept", "yo key", "comma and spaces", "no-break spaces",
         "comma alone", "plain amount untouched"],
)
def test_each_repair_changes_what_it_should_and_says_where(section, attr, want, changes):
    reading = tarvik.read(statement(section))
    (doc,) = reading.statement.documents
    assert getattr(doc, attr) == want
    got = [(c.repair, c.lineno, c.key, c.old, c.new) for c in reading.changes]
    assert got == changes
    # The same hooks given to tarvik_py directly build the same document.
    direct = tarvik_py.parse(statement(section), hooks=list(hooks.REPAIRS))
    assert direct.documents == [doc]


@pytest.mark.parametrize(
    "amount", ["1,000.00", "1 00,5", "15 000,", "1.000,00", "15,000", " 15,00"],
    ids=["comma groups", "bad group", "no fraction", "point groups", "ambiguous comma", "space before"],
)
def test_amounts_that_may_mean_something_else_are_left_as_they_are(amount):
    if amount == "15,000":  # a comma alone is the decimal comma
        assert hooks.plain_amount(amount) == "15.000"
        return
    assert hooks.plain_amount(amount) is None


def test_account_figures_are_repaired_too():
    data = statement(account("ВсегоПоступило=1 000,50", "КонечныйОстаток=1100,50"))
    reading = tarvik.read(data)
    (interval,) = reading.statement.accounts["40702810900000012345"].intervals
    assert (interval.total_income, interval.end_amount) == ("1000.50", "1100.50")
    assert [c.lineno for c in reading.changes] == [9, 10]
    with pytest.raises(tarvik_py.SyntaxError):
        tarvik.read(data, repairs=False)


def test_user_hooks_run_after_the_repairs():
    seen = []
    tarvik.read(statement(document("Сумма=1,5")), hooks=[lambda t, a, h: seen.append(a["Сумма"])])
    assert seen == ["1.5"]


def test_the_sample_needs_exactly_its_one_repair():
    reading = tarvik.read(SAMPLE)
    assert [str(c) for c in reading.changes] == ["line 145: Сумма '15000,00' read as 15000.00"]
    assert reading.statement.warnings == []
    assert tarvik_py.parse(SAMPLE.read_bytes()).warnings == [(160, "invalid value: string \"15000,00\", expected a Decimal type representing a fixed-point number")]


# --- where records stand, and their values -------------------------------------------------


def test_rows_carry_the_line_each_section_opens_on():
    reading = tarvik.read(SAMPLE)
    lines = SAMPLE.read_bytes().decode("cp1251").split("\r\n")
    docs = list(document_rows(reading))
    assert [lines[r["line"] - 1].startswith("СекцияДокумент=") for r in docs] == [True] * 5
    assert [r["doc_number"] for r in docs] == [d.doc_number for d in reading.statement.documents]
    intervals = list(interval_rows(reading))
    assert [(r["account"], r["line"]) for r in intervals] == [
        ("40702810900000012345", 12), ("40702810900000012345", 21), ("40702978100000054321", 30)]


def test_skipped_documents_leave_the_others_their_lines():
    data = statement(document(), document("Сумма=x"), document("Номер=9"))
    reading = tarvik.read(data)
    assert reading.document_lines() == [4, 32]
    assert reading.statement.warnings[0][0] == 31


def test_as_dict_gives_dates_and_decimals():
    reading = tarvik.read(SAMPLE)
    values = as_dict(reading.statement.documents[0])
    assert values["doc_date"] == datetime.date(2024, 3, 4)
    assert values["amount"] == decimal.Decimal("43200.00") and str(values["amount"]) == "43200.00"
    assert values["payment_type"] == "01" and values["income_date"] is None
    interval = as_dict(reading.statement.accounts["40702978100000054321"].intervals[0])
    assert interval["end_amount"] == decimal.Decimal("3400.00")


def test_check_finds_the_interval_that_does_not_add_up():
    data = SAMPLE.read_bytes().replace(b"=163820.25", b"=163820.26")
    findings = check(data, name="s.txt")
    mismatch = [f for f in findings if f.severity == "mismatch"]
    assert [str(f) for f in mismatch] == [
        "s.txt:21: mismatch: account 40702810900000012345 2024-03-16..2024-03-31: opening "
        "169250.50 + income 15000.00 − expense 20430.25 = 163820.25, but the closing balance is "
        "163820.26 (difference 0.01)"
    ]
    assert [f.severity for f in findings if f.severity != "mismatch"] == ["repair"]


def test_check_turns_a_failure_into_one_finding():
    assert [str(f) for f in check(b"not a statement", name="x")] == [
        "x:1: error: Input is not a 1C statement: the first line 'not a statement' is not the marker "
        "1CClientBankExchange"
    ]


def test_the_header_lines_keep_every_line_in_order():
    data = statement(document(), header=("РасчСчет=1", "ВерсияФормата=1.03", "РасчСчет=2"))
    reading = tarvik.read(data)
    assert reading.header_lines() == [("РасчСчет", "1"), ("ВерсияФормата", "1.03"), ("РасчСчет", "2")]
    assert reading.statement.header == {"РасчСчет": "2", "ВерсияФормата": "1.03"}
    assert list(tarvik.to_arrow(data).header_lines) == reading.header_lines()
