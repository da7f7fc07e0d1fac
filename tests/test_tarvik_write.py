"""`tarvik.writing.write` against its law: what tarvik_py reads, written in an encoding that holds
its text, reads back as the same header, accounts and documents; what cannot be written so is
refused with a WriteError that names the place, for a reason that holds."""

import ast
import datetime
import json
import re
import subprocess
import sys
from decimal import Decimal
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import tarvik_py
import test_properties as gen
from samples import ACCOUNT, MARKER, account_section, document_section
from tarvik import read
from tarvik.writing import WriteError, write

ROOT = Path(__file__).resolve().parent.parent
CORPUS = ROOT.parent / "shared" / "corpus" / "real"
ENCODINGS = ("cp1251", "utf-8", "cp866")


def dos_ready(header, encoding):
    # A code page 866 file is known by its header alone, so it must say so.
    return {**header, "Кодировка": "DOS"} if encoding == "cp866" else dict(header)


def read_back(data, encoding):
    # tarvik_py takes no code page 866: tarvik.read decodes it first.
    return read(data, repairs=False).statement if encoding == "cp866" else tarvik_py.parse(data)


def parsed(data):
    try:
        return tarvik_py.parse(data)
    except tarvik_py.ParseError:
        return None


def by_number(accounts):
    return {number: account.intervals for number, account in accounts.items()}


def holds(text, encoding):
    # The reader's Windows-1251 has U+0098 at byte 0x98, which Python's table leaves out.
    text = text.replace("\x98", "") if encoding == "cp1251" else text
    return text.encode(encoding, "replace") == text.encode(encoding, "ignore")


def doc_texts(doc):
    return [v for v in (getattr(doc, name) for name in gen.DOCUMENT_FIELDS) if v is not None]


def all_texts(documents, accounts, header):
    return [*header, *header.values(), *accounts, *(t for d in documents for t in doc_texts(d))]


def place(documents, accounts, header, where, field):
    """The text that a refusal of records points at."""
    if where == "header":
        return field + header.get(field, "")
    if match := re.fullmatch(r"document (\d+)", where):
        return getattr(documents[int(match[1])], field)
    number, index = re.fullmatch(r"account (.*?)(?:, interval (\d+))?", where).groups()
    number = ast.literal_eval(number)
    return number if field == "number" else getattr(accounts[number].intervals[int(index)], field)


def assert_refusal_holds(documents, accounts, header, encoding, error):
    if error.where == "file":
        if not documents and not any(a.intervals for a in accounts.values()):
            return  # a statement needs a section; there is none to write
        # Only Windows-1251 is refused whole: where the reader would take its bytes for another
        # encoding, or for no statement.
        assert encoding == "cp1251", error
        text = write(documents, accounts=accounts, header=header, encoding="utf-8").decode()
        data = b"\x98".join(part.encode("cp1251") for part in text.split("\x98"))
        assert gen.decode(data) != (text, "cp1251"), error
        return
    value = place(documents, accounts, header, error.where, error.field)
    assert not holds(value, encoding) or "\n" in value or "\r" in value, error
    if match := re.fullmatch(r"document (\d+)", error.where):
        # Documents are checked in order: the first that cannot be written is the one named.
        earlier = [t for d in documents[: int(match[1])] for t in doc_texts(d)]
        assert all(holds(t, encoding) for t in earlier), error


def law(documents, accounts, header, encoding):
    """The bytes written, checked to read back the same; None where refused for a reason."""
    try:
        data = write(documents, accounts=accounts, header=header, encoding=encoding)
    except WriteError as error:
        assert_refusal_holds(documents, accounts, header, encoding, error)
        return None
    back = read_back(data, encoding)
    assert back.warnings == []
    assert list(back.header.items()) == list(header.items())
    assert by_number(back.accounts) == by_number(accounts)
    assert back.documents == list(documents)
    return data


def statement_law(statement, encoding):
    header = dos_ready(statement.header, encoding)
    data = law(statement.documents, statement.accounts, header, encoding)
    texts = all_texts(statement.documents, statement.accounts, header)
    assert (data is not None) == all(holds(t, encoding) for t in texts)
    return data


# --- Real and generated statements ----------------------------------------------------------

# Files that tarvik_py refuses hold no statement to write; without the corpus, the example alone.
REAL = [p for p in sorted(CORPUS.glob("*.txt")) if parsed(p.read_bytes())]
REAL.append(ROOT / "examples" / "statement_cp1251.txt")


@pytest.mark.parametrize("encoding", ENCODINGS)
@pytest.mark.parametrize("path", REAL, ids=lambda p: p.name)
def test_real_statements_read_back(path, encoding):
    statement_law(tarvik_py.parse(path.read_bytes()), encoding)


def test_dos_header_with_a_key_beginning_like_a_section_reads_back():
    # A header key is no section, whatever it begins with: the declaration after it still counts.
    text = "\r\n".join([MARKER, "СекцияX=1", *account_section(), "КонецФайла", ""])
    assert statement_law(tarvik_py.parse(text.encode()), "cp866") is not None


GENERATED = {
    "cp1251": "--encoding cp1251 --size-mb 2 --seed 1",
    "utf-8 defective": "--encoding utf-8 --size-mb 2 --seed 2 --defective-share 0.15 --periods 30",
    "cp1251 defective": "--encoding cp1251 --size-mb 1 --seed 3 --defective-share 0.3 --accounts 5",
}
GENERATOR = ROOT / "bench" / "gen_statements.py"


@pytest.fixture(scope="module")
def generated(tmp_path_factory):
    out = {}
    for name, args in GENERATED.items():
        path = tmp_path_factory.mktemp("generated") / "statement.txt"
        subprocess.run([sys.executable, GENERATOR, "-o", path, *args.split()], check=True)
        meta = json.loads(path.with_name(path.name + ".json").read_text())
        out[name] = tarvik_py.parse(path.read_bytes()), meta
    return out


@pytest.mark.parametrize("encoding", ENCODINGS)
@pytest.mark.parametrize("name", GENERATED)
def test_generated_statements_read_back(generated, name, encoding):
    statement, meta = generated[name]
    # Defective documents are warnings of the reading, not documents: they are not written.
    assert len(statement.warnings) == meta["defective"]
    assert len(statement.documents) == meta["documents"] - meta["defective"]
    statement_law(statement, encoding)
    if encoding == "cp866":
        # Guillemets and dashes have no place in code page 866; the other documents do.
        kept = [d for d in statement.documents if all(holds(t, "cp866") for t in doc_texts(d))]
        assert 0 < len(kept) < len(statement.documents)
        assert law(kept, statement.accounts, dos_ready(statement.header, "cp866"), "cp866")


# --- Generated statements of every odd kind: whatever tarvik_py reads obeys the law ----------
# Mostly texts that every encoding holds, so that most statements are written and read back.
HELD = st.sampled_from(list("0123456789 AaZz.,-+_/\"'\\=\t№ёЁабвгжщАБВГЖЩъЫьЭюЯ"))
TEXTS = st.one_of(st.text(HELD, max_size=12), gen.texts, st.sampled_from(["\x98", "a\xa0b", "—"]))
DATES = st.one_of(
    gen.valid_dates, st.sampled_from(["29.02.2024", "1.2.0024", "01.01.0000", "01.02.+20245"])
)


@st.composite
def account_sections(draw):
    # Figures the reader takes, so that the statement is read: its sections are what vary.
    optional = st.one_of(st.none(), gen.valid_amounts)
    return account_section({
        "ДатаНачала": draw(DATES),
        "ДатаКонца": draw(st.one_of(st.none(), DATES, st.sampled_from(["", " "]))),
        "РасчСчет": draw(st.one_of(st.sampled_from([ACCOUNT["РасчСчет"], "2"]), TEXTS)),
        "НачальныйОстаток": draw(gen.valid_amounts),
        **{k: draw(optional) for k in ("ВсегоПоступило", "ВсегоСписано", "КонечныйОстаток")},
    })


@st.composite
def document_sections(draw):
    # Every key the reader knows, with odd texts and dates that it still reads.
    keys = draw(st.lists(st.sampled_from([*gen.TEXT_KEYS, "ДатаСписано", "ДатаПоступило"])))
    changes = {"ПолучательБанк1": "АО Банк"}  # the sample's guillemets would keep it from cp866
    changes.update((k, draw(DATES if k.startswith("Дата") else TEXTS)) for k in keys)
    changes["Сумма"] = draw(gen.valid_amounts)
    doc_type = draw(st.one_of(st.sampled_from(["Платежное поручение", ""]), TEXTS))
    return document_section(changes, doc_type)


@st.composite
def statements(draw):
    lines = [MARKER]
    for key in draw(st.lists(st.sampled_from(gen.HEADER_KEYS), max_size=4)):
        lines.append(f"{key}={draw(TEXTS)}")
    sections = st.one_of(gen.sections(), account_sections(), document_sections())
    for section in draw(st.lists(sections, min_size=1, max_size=6)):
        lines.extend(section)
    lines.append("КонецФайла")
    return draw(gen.encoded(draw(gen.joined_text(lines))))


@settings(max_examples=gen.examples(2500))
@given(st.one_of(statements(), statements(), statements(), gen.inputs()))
def test_what_tarvik_py_reads_reads_back_the_same(data):
    statement = parsed(data)
    for encoding in ENCODINGS if statement else ():
        header = dos_ready(statement.header, encoding)
        law(statement.documents, statement.accounts, header, encoding)


# --- Mappings in ------------------------------------------------------------------------------
DOC = {
    "doc_number": "17", "doc_date": "2024-03-05", "amount": "1500.00", "purpose": "Оплата №5",
    "counterparty_account": "40702810000000000001", "counterparty_inn": "7700000001",
    "counterparty_bank1": "ПАО Сбербанк", "counterparty_bic": "044525225",
    "payee_account": "40702810000000000002", "payee_inn": "7700000002",
    "payee_bank1": "АО Банк", "payee_bic": "044525226",
}
TO_BANK = {
    **DOC, "counterparty": "ООО Плательщик", "payee": "ООО Получатель", "payment_type": "01",
    "ordering": "5", "counterparty_cor_account": "", "payee_cor_account": "",
}
INTERVAL = {"date_start": "2024-03-01", "date_end": "2024-03-31", "start_amount": "1000.00"}
NUMBER = "40702810000000000001"
ORDER = "Платежное поручение"


@pytest.mark.parametrize("encoding", ENCODINGS)
def test_documents_as_mappings_read_back(encoding):
    extra = {"ПлательщикБанк2": "г. Москва", "Код": "0", "": "пустой ключ"}
    given = [
        {**DOC, "doc_date": datetime.date(2024, 3, 5), "amount": Decimal("1500.50"),
         "outcome_date": datetime.date(2024, 3, 6), "extra": extra},
        {**DOC, "amount": 7, "doc_type": "Банковский ордер", "payment_type": ""},
        {**DOC, "amount": Decimal("1E+3"), "income_date": "2024-03-07", "doc_number": ""},
        {**DOC, "amount": Decimal("-0.05"), "doc_date": "+20245-01-02"},
    ]
    data = write(given, encoding=encoding)
    varied = ("amount", "doc_date", "doc_number")
    docs = read_back(data, encoding).documents
    assert [d.doc_date for d in docs] == 3 * ["2024-03-05"] + ["+20245-01-02"]
    assert [d.amount for d in docs] == ["1500.50", "7", "1000", "-0.05"]
    assert [(d.outcome_date, d.income_date, d.payment_type) for d in docs] == [
        ("2024-03-06", None, None), (None, None, ""), (None, "2024-03-07", None), 3 * (None,)]
    assert [d.doc_type for d in docs] == [ORDER, "Банковский ордер", ORDER, ORDER]
    assert [d.doc_number for d in docs] == ["17", "17", "", "17"]
    for doc in docs:
        assert all(getattr(doc, k) == v for k, v in DOC.items() if k not in varied)
        # Other keys are written as given, but no field of the record holds them.
        assert not set(extra.values()) & set(doc_texts(doc))
    # Amounts in the plain form that every reader of the format takes.
    extra = {**extra, "Сумма": "1000", "Дата": "02.01.+20245"}
    for key, value in extra.items():
        assert f"\r\n{key}={value}\r\n".encode(encoding) in data


STARTS = [datetime.date(2024, 1, 1), datetime.date(2024, 2, 1), datetime.date(2023, 12, 31)]
ROWS = st.tuples(st.sampled_from(STARTS), st.integers(0, 10**6), st.booleans())  # as date or text


@settings(max_examples=gen.examples(300))
@given(st.lists(ROWS, min_size=1, max_size=9, unique_by=lambda r: r[1]), st.sampled_from(ENCODINGS))
def test_intervals_read_back_by_start_and_as_given_among_equal_starts(rows, encoding):
    given = [
        {"date_start": start if as_date else start.isoformat(), "start_amount": amount}
        for start, amount, as_date in rows
    ]
    back = read_back(write(accounts={NUMBER: given}, encoding=encoding), encoding)
    expected = sorted(rows, key=lambda row: row[0])  # stable: equal starts stay as given
    assert [(i.date_start, i.start_amount) for i in back.accounts[NUMBER].intervals] == [
        (start.isoformat(), str(amount)) for start, amount, _ in expected
    ]


@pytest.mark.parametrize("encoding, declared", list(zip(ENCODINGS, ["Windows", "UTF-8", "DOS"])))
@pytest.mark.parametrize("accounts, period", [
    pytest.param({}, ("05.03.2024", "02.04.2024"), id="documents only"),
    pytest.param({NUMBER: [{**INTERVAL, "date_start": datetime.date(2024, 2, 1)}]},
                 ("01.02.2024", "02.04.2024"), id="an interval starts first"),
    pytest.param({NUMBER: [{**INTERVAL, "date_end": "2024-05-31"}]},
                 ("01.03.2024", "31.05.2024"), id="an interval ends last"),
])
def test_made_header_declares_the_encoding_and_the_period(encoding, declared, accounts, period):
    documents = [{**DOC, "doc_date": datetime.date(2024, 4, 2)}, DOC]
    header = read_back(write(documents, accounts=accounts, encoding=encoding), encoding).header
    assert header["Кодировка"] == declared
    assert (header["ДатаНачала"], header["ДатаКонца"]) == period
    assert header.get("РасчСчет") == (NUMBER if accounts else None)


def doc(**changes):
    return {"documents": [{**DOC, **changes}]}


def but(mapping, key):
    return {k: v for k, v in mapping.items() if k != key}


def interval(*intervals, **options):
    return {"accounts": {NUMBER: list(intervals)}, **options}


def to_bank(document, **options):
    return {"documents": [document], "direction": "to_bank", **options}


AT = f"account {NUMBER!r}, interval"
CP866 = {"encoding": "cp866"}
YEAR = {**INTERVAL, "date_start": "+20245-01-01"}
LATER = {**INTERVAL, "date_start": "2024-03-02"}
SAME = {**INTERVAL, "date_start": datetime.date(2024, 3, 1), "start_amount": Decimal(1000)}
REFUSALS = {
    "missing field": ({"documents": [DOC, but(DOC, "payee_bic")]}, "document 1", "payee_bic"),
    "missing balance": (interval(but(INTERVAL, "start_amount")), f"{AT} 0", "start_amount"),
    "date as the file has it": (doc(doc_date="05.03.2024"), "document 0", "doc_date"),
    "date of no day": (doc(doc_date="2023-02-29"), "document 0", "doc_date"),
    "29 February 1900": (doc(outcome_date="1900-02-29"), "document 0", "outcome_date"),
    "year beyond the reader": (doc(doc_date="+262143-01-01"), "document 0", "doc_date"),
    "date with a time": (
        doc(income_date=datetime.datetime(2024, 3, 5, 12)), "document 0", "income_date"),
    "float amount": (doc(amount=1500.5), "document 0", "amount"),
    "amount as the file has it": (doc(amount="1 500,00"), "document 0", "amount"),
    "29 fraction digits": (doc(amount=Decimal("0." + "0" * 28 + "5")), "document 0", "amount"),
    "2**96": (doc(amount=2**96), "document 0", "amount"),
    "2**96 by exponent": (doc(amount=Decimal("8E+28")), "document 0", "amount"),
    "2**96 in an interval": (
        interval({**INTERVAL, "total_income": Decimal(2**96)}), f"{AT} 0", "total_income"),
    "line feed": (doc(purpose="Оплата\nпо счёту"), "document 0", "purpose"),
    "carriage return": (doc(payee="ООО\r"), "document 0", "payee"),
    "line feed in extra": (doc(extra={"Код": "0\n1"}), "document 0", "extra['Код']"),
    "line feed in header": ({"header": {"Отправитель": "1С\n"}}, "header", "Отправитель"),
    "line feed in number": ({"accounts": {"1\n2": [INTERVAL]}}, "account '1\\n2'", "number"),
    "'=' in an extra key": (doc(extra={"Код=1": "0"}), "document 0", "extra['Код=1']"),
    "extra key of a field": (doc(extra={"Сумма": "1"}), "document 0", "extra['Сумма']"),
    "extra key of the type": (
        doc(extra={"СекцияДокумент": "x"}), "document 0", "extra['СекцияДокумент']"),
    "no such field": (doc(summa="1"), "document 0", "summa"),
    "cp1251: purpose": (doc(purpose="Оплата ☺"), "document 0", "purpose"),
    "cp1251: type": ({"documents": [DOC, {**DOC, "doc_type": "☺"}]}, "document 1", "doc_type"),
    "cp1251: header": ({"header": {"Отправитель": "☺"}}, "header", "Отправитель"),
    "cp1251: number": (
        {"accounts": {"☺": [INTERVAL]}, "header": {}}, "account '☺', interval 0", "number"),
    "cp1251: extra": (doc(extra={"Код": "☺"}), "document 0", "extra['Код']"),
    "cp1251: extra named as in an interval": (
        doc(extra={"ДатаНачала": "☺"}), "document 0", "extra['ДатаНачала']"),
    "cp866: guillemets": ({**doc(purpose="«Заря»"), **CP866}, "document 0", "purpose"),
    "cp866 declared Windows": (
        {**doc(), **CP866, "header": {"Кодировка": "Windows"}}, "header", "Кодировка"),
    "cp866 undeclared": ({**doc(), **CP866, "header": {}}, "header", "Кодировка"),
    "too many guillemets for cp1251": (doc(purpose="«»" * 400), "file", None),
    "nothing to write": ({}, "file", None),
    "repeated interval": (interval(INTERVAL, LATER, dict(INTERVAL)), f"{AT} 2", None),
    "repeat in another scale and type": (interval(LATER, INTERVAL, SAME), f"{AT} 2", None),
    "repeat with a longer year": (
        interval(YEAR, {**YEAR, "date_start": "+020245-01-01"}), f"{AT} 1", None),
    "to bank: no sender": (
        to_bank(TO_BANK, header={"Кодировка": "Windows"}), "header", "Отправитель"),
    "to bank: no payer": (to_bank(but(TO_BANK, "counterparty")), "document 0", "counterparty"),
    "to bank: no payee": (to_bank({**TO_BANK, "payee": ""}), "document 0", "payee"),
    "to bank: no kind": (to_bank(but(TO_BANK, "payment_type")), "document 0", "payment_type"),
    "to bank: no priority": (to_bank({**TO_BANK, "ordering": ""}), "document 0", "ordering"),
    "to bank: no correspondent account": (
        to_bank(but(TO_BANK, "payee_cor_account")), "document 0", "payee_cor_account"),
}


@pytest.mark.parametrize("arguments, where, field", REFUSALS.values(), ids=REFUSALS)
def test_refusals_name_the_place(arguments, where, field):
    with pytest.raises(WriteError) as info:
        write(**arguments)
    assert isinstance(info.value, ValueError)
    assert (info.value.where, info.value.field) == (where, field)
    assert str(info.value).startswith(where)


NUMBERED = {"payee_1": {**but(TO_BANK, "payee"), "extra": {"Получатель1": "ООО"}},
            "counterparty_1": {**but(TO_BANK, "counterparty"), "counterparty_1": "ООО"}}


@pytest.mark.parametrize("document", [TO_BANK, *NUMBERED.values()], ids=["names", *NUMBERED])
def test_a_complete_payment_order_goes_to_the_bank(document):
    back = tarvik_py.parse(write([document], direction="to_bank"))
    assert back.header["Отправитель"] == "tarvik"
    assert back.documents[0].payee_cor_account == ""
