"""Every real statement file beside the project gives the outcome its content calls for."""

from dataclasses import dataclass, field
from pathlib import Path

import pytest

import tarvik_py

CORPUS = Path(__file__).resolve().parent.parent.parent / "shared" / "corpus" / "real"


@dataclass
class Read:
    encoding: str
    accounts: list
    header_keys: int
    documents: int
    # doc_number, doc_date, amount of the first document
    first: tuple
    end_dates: list = field(default_factory=list)


@dataclass
class Fails:
    exc_class: type
    message: str
    detail: tuple = None  # class, then the field values after lineno, lineno first


NOT_STATEMENT = Fails(tarvik_py.NotStatementError, "Input is not a 1C statement")
UNFINISHED = Fails(tarvik_py.UnfinishedError, "Statement is not finished")

EXPECTED = {
    "clbnk_kl_to_1c_cp1251.txt": Read(
        "cp1251", ["40702810000000074935"], 9, 3, ("69147", "2024-01-01", "6936.00"), ["2024-04-11"]
    ),
    # Its document sections open with a bare "СекцияДокумент", which is no line of the format.
    "clbnk_to_bank_cp1251_mixed_eol.txt": Fails(
        tarvik_py.SyntaxError,
        "Unrecognized line: 'СекцияДокумент'",
        (tarvik_py.UnrecognizedLine, 10, "СекцияДокумент"),
    ),
    # No "КонецФайла"; the unknown key inside the account section is no failure of its own.
    "condo_invalid_utf8.txt": UNFINISHED,
    "condo_statement_utf8.txt": Read(
        "utf-8", ["40702810801500116391"], 9, 4, ("61298", "2022-04-15", "700"), ["2022-10-27"]
    ),
    "kilylabs_one_day_cp1251.txt": Read(
        "cp1251", ["40702810200000000001"], 9, 13, ("697162", "2016-01-11", "83.23"), ["2016-01-11"]
    ),
    "kilylabs_one_day_utf8.txt": Read(
        "utf-8", ["40702810200000000001"], 9, 13, ("697162", "2016-01-11", "83.23"), ["2016-01-11"]
    ),
    "odoo-ru_kl_to_1c_cp1251.txt": Read(
        "cp1251", ["00000000000000000001"], 8, 1, ("3", "2023-03-31", "108159.12"), ["2023-01-02"]
    ),
    # A statement needs a section: "КонецФайла" right after the header is unexpected there.
    "odoo-ru_min_header_only_cp1251.txt": Fails(
        tarvik_py.SyntaxError,
        "Unexpected section 'КонецФайла' in context 'header'",
        (tarvik_py.UnexpectedSection, 3, "КонецФайла", "header"),
    ),
    "unact_test_utf8.txt": Read(
        "utf-8",
        ["40700000000000000000", "40600000000000000000"],
        10,
        6,
        ("1", "2022-09-21", "99.00"),
        ["2022-09-21", "2022-09-21"],
    ),
    "zharikovpro_documents_cp1251.txt": Read(
        "cp1251", ["40000000000000000000"], 6, 2, ("1", "2015-01-01", "1000.00"), ["2015-01-01"]
    ),
    "zharikovpro_general_cp1251.txt": UNFINISHED,
    "zharikovpro_remainings_cp1251.txt": UNFINISHED,
    "zharikovpro_wrong_format.txt": NOT_STATEMENT,
}

pytestmark = pytest.mark.skipif(not CORPUS.is_dir(), reason="no corpus beside the project")


def corpus_files():
    return sorted(p.name for p in CORPUS.glob("*.txt")) if CORPUS.is_dir() else []


def test_every_corpus_file_has_an_expected_outcome():
    assert corpus_files() == sorted(EXPECTED)


@pytest.mark.parametrize("name", sorted(EXPECTED))
def test_corpus_file(name):
    data = (CORPUS / name).read_bytes()
    want = EXPECTED[name]
    if isinstance(want, Fails):
        with pytest.raises(tarvik_py.ParseError) as info:
            tarvik_py.parse(data)
        assert type(info.value) is want.exc_class
        assert info.value.args == (want.message,)
        if want.detail is None:
            assert not hasattr(info.value, "detail")
        else:
            detail_class, *values = want.detail
            detail = info.value.detail
            assert type(detail) is detail_class
            assert list(detail.__getnewargs__()) == values
        return

    sections = []
    statement = tarvik_py.parse(data, [lambda kind, attrs, header: sections.append(int(kind))])
    assert statement.encoding == want.encoding
    assert list(statement.accounts) == want.accounts
    assert len(statement.header) == want.header_keys
    assert len(statement.documents) == want.documents
    # Every document of the set carries the thirteen required keys.
    assert statement.warnings == []
    first = statement.documents[0]
    assert (first.doc_number, first.doc_date, first.amount) == want.first
    end_dates = [i.date_end for a in statement.accounts.values() for i in a.intervals]
    assert end_dates == want.end_dates
    assert sections.count(0) == want.documents
    assert sections.count(1) == len(want.end_dates)
    # The hook changed nothing, so the result is the one without hooks.
    plain = tarvik_py.parse(data)
    assert plain.documents == statement.documents
    assert plain.accounts == statement.accounts
    if want.encoding == "utf-8":
        assert tarvik_py.parse(data.decode("utf-8")).documents == statement.documents


def test_the_two_encodings_of_one_file_read_alike():
    cp1251 = tarvik_py.parse((CORPUS / "kilylabs_one_day_cp1251.txt").read_bytes())
    utf8 = tarvik_py.parse((CORPUS / "kilylabs_one_day_utf8.txt").read_bytes())
    assert (cp1251.encoding, utf8.encoding) == ("cp1251", "utf-8")
    assert cp1251.header == utf8.header
    assert cp1251.accounts == utf8.accounts
    assert cp1251.documents == utf8.documents


def test_leading_spaces_of_values_are_kept():
    statement = tarvik_py.parse((CORPUS / "odoo-ru_kl_to_1c_cp1251.txt").read_bytes())
    assert statement.documents[0].counterparty_bank1 == " Банк ГПБ (АО)"
