import copy
import gc
import pickle
import weakref

import pytest

import tarvik_py
from samples import (
    MARKER,
    account_section,
    cp1251,
    document_section,
    line_of,
    statement_lines,
    text,
    utf8,
)

DOCUMENT_FIELDS = [
    "doc_number",
    "doc_type",
    "doc_date",
    "amount",
    "purpose",
    "payment_type",
    "ordering",
    "counterparty_inn",
    "counterparty_kpp",
    "counterparty_bic",
    "counterparty_bank1",
    "counterparty_account",
    "counterparty",
    "counterparty_1",
    "counterparty_ras_account",
    "counterparty_cor_account",
    "outcome_date",
    "payee_inn",
    "payee",
    "payee_account",
    "payee_kpp",
    "payee_bic",
    "payee_bank1",
    "payee_ras_account",
    "payee_cor_account",
    "income_date",
]
INTERVAL_FIELDS = ["date_start", "date_end", "start_amount", "end_amount", "total_income", "total_expense"]

RESULT_CLASSES = ["Statement", "Account", "Document", "Interval"]
ALL_CLASSES = [*RESULT_CLASSES, "SectionType"]


def parse_lines(*sections):
    return tarvik_py.parse(utf8(statement_lines(*sections)))


def one_document(changes=None, doc_type="Платежное поручение"):
    return parse_lines(document_section(changes, doc_type)).documents[0]


def one_account(*changes):
    statement = parse_lines(*(account_section(c) for c in changes))
    (account,) = statement.accounts.values()
    return account


@pytest.fixture(scope="module")
def objects():
    statement = parse_lines(account_section(), document_section())
    account = statement.accounts["40702810000000000001"]
    return {
        "Statement": statement,
        "Account": account,
        "Interval": account.intervals[0],
        "Document": statement.documents[0],
        "SectionType": tarvik_py.SectionType.Account,
    }


@pytest.mark.parametrize("name", RESULT_CLASSES)
def test_result_class_names(name):
    cls = getattr(tarvik_py, name)
    assert cls.__module__ == "builtins"
    assert cls.__name__ == cls.__qualname__ == name
    assert cls.__doc__ is None


def test_section_type_class():
    cls = tarvik_py.SectionType
    assert cls.__module__ == "tarvik_py"
    assert cls.__qualname__ == "SectionType"
    assert cls.__doc__ == "Тип секции выписки для использования в hooks."


@pytest.mark.parametrize("name", ALL_CLASSES)
def test_not_instantiable_nor_subclassable(name):
    cls = getattr(tarvik_py, name)
    with pytest.raises(TypeError):
        cls()
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


@pytest.mark.parametrize("name", ALL_CLASSES)
def test_instances_are_closed(objects, name):
    obj = objects[name]
    assert not hasattr(obj, "__dict__")
    with pytest.raises(AttributeError):
        obj.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(obj)


@pytest.mark.parametrize(
    "name, attributes",
    [
        ("Statement", ["encoding", "header", "accounts", "documents", "warnings"]),
        ("Account", ["number", "intervals"]),
        ("Interval", INTERVAL_FIELDS),
        ("Document", DOCUMENT_FIELDS),
    ],
)
def test_attributes_are_read_only_in_order(objects, name, attributes):
    cls = getattr(tarvik_py, name)
    declared = [k for k, v in vars(cls).items() if type(v).__name__ == "getset_descriptor"]
    assert declared == attributes
    obj = objects[name]
    for attribute in attributes:
        assert getattr(cls, attribute).__doc__ == ""
        with pytest.raises(AttributeError):
            setattr(obj, attribute, "x")
        with pytest.raises(AttributeError):
            delattr(obj, attribute)


@pytest.mark.parametrize("name", ALL_CLASSES)
def test_not_picklable(objects, name):
    obj = objects[name]
    with pytest.raises(TypeError):
        pickle.dumps(obj)
    with pytest.raises(TypeError):
        copy.copy(obj)
    assert not hasattr(obj, "__getnewargs__")


@pytest.mark.parametrize("name", ["Account", "Interval", "Document", "SectionType"])
def test_value_classes_are_unhashable_and_unordered(objects, name):
    obj = objects[name]
    with pytest.raises(TypeError):
        hash(obj)
    with pytest.raises(TypeError):
        {obj}
    with pytest.raises(TypeError):
        obj < obj
    with pytest.raises(TypeError):
        obj >= obj
    assert obj == obj
    assert not obj != obj
    assert obj != 0 and not obj == "x"


def test_statement_compares_by_identity(objects):
    statement = objects["Statement"]
    again = parse_lines(account_section(), document_section())
    assert statement == statement
    assert statement != again
    assert hash(statement) == hash(statement)
    with pytest.raises(TypeError):
        statement < again


def test_statement_containers(objects):
    statement = objects["Statement"]
    assert statement.header is statement.header
    assert statement.accounts is statement.accounts
    assert statement.documents is statement.documents
    assert statement.warnings is statement.warnings
    assert (type(statement.header), type(statement.accounts)) == (dict, dict)
    assert (type(statement.documents), type(statement.warnings)) == (list, list)


def test_statement_count_in_repr_is_fixed_at_creation():
    statement = tarvik_py.parse(
        cp1251(statement_lines(document_section(), document_section(), document_section()))
    )
    assert repr(statement) == 'Statement(encoding="cp1251", documents=[...3], warnings=[...0])'
    statement.documents.append("extra")
    statement.warnings.clear()
    assert len(statement.documents) == 4
    assert str(statement) == 'Statement(encoding="cp1251", documents=[...3], warnings=[...0])'


def test_statement_repr_counts_warnings():
    lines = statement_lines(document_section({"Дата": ""}), document_section())
    statement = tarvik_py.parse(utf8(lines))
    assert statement.warnings == [(line_of(lines, "КонецДокумента"), "empty string is not a valid date")]
    assert repr(statement) == 'Statement(encoding="utf-8", documents=[...1], warnings=[...1])'


@pytest.mark.parametrize(
    "changes, want",
    [
        pytest.param(
            {},
            'Interval(date_start="2024-03-01", date_end=Some("2024-03-31"), '
            'start_amount="1000.00", end_amount=Some("1300.00"))',
            id="complete",
        ),
        pytest.param(
            {"ДатаКонца": None, "КонечныйОстаток": None},
            'Interval(date_start="2024-03-01", date_end=None, start_amount="1000.00", end_amount=None)',
            id="open",
        ),
        pytest.param(
            {"ДатаКонца": "  ", "НачальныйОстаток": "-7", "ДатаНачала": "1.2.0999"},
            'Interval(date_start="0999-02-01", date_end=None, start_amount="-7", end_amount=Some("1300.00"))',
            id="blank-end-date",
        ),
    ],
)
def test_interval_repr(changes, want):
    (interval,) = one_account(changes).intervals
    assert repr(interval) == want
    assert str(interval) == want


def test_interval_fields():
    (interval,) = one_account({"ВсегоСписано": None}).intervals
    assert [getattr(interval, f) for f in INTERVAL_FIELDS] == [
        "2024-03-01",
        "2024-03-31",
        "1000.00",
        "1300.00",
        "500.00",
        None,
    ]


def test_account_intervals_are_new_copies_each_read():
    account = one_account({}, {"ДатаНачала": "01.02.2024", "ДатаКонца": "29.02.2024"})
    assert repr(account) == 'Account(number="40702810000000000001", intervals=[...2])'
    first = account.intervals
    assert first is not account.intervals
    assert first == account.intervals
    assert first[0] is not account.intervals[0]
    assert [i.date_start for i in first] == ["2024-02-01", "2024-03-01"]
    first.clear()
    assert len(account.intervals) == 2
    assert account.number == "40702810000000000001"


def test_account_equality():
    base = one_account({})
    assert base == one_account({})
    assert base != one_account({"РасчСчет": "2"})
    assert base != one_account({}, {"ДатаНачала": "01.02.2024"})
    # The texts take part: 1000.00 and 1000 are different texts of one value.
    assert base != one_account({"НачальныйОстаток": "1000"})


def test_interval_equality_by_text():
    (a,) = one_account({"ВсегоПоступило": "500.00"}).intervals
    (b,) = one_account({"ВсегоПоступило": "500.0"}).intervals
    (c,) = one_account({"ВсегоПоступило": "500.00"}).intervals
    assert a != b and a == c


def test_document_fields():
    changes = {
        "ВидОплаты": "",
        "Очередность": "5",
        "ПлательщикКПП": "770001001",
        "Плательщик": "ООО «Ромашка»",
        "Плательщик1": "ООО Ромашка",
        "ПлательщикРасчСчет": "40702810000000000001",
        "ПлательщикКорсчет": "30101810400000000225",
        "ДатаСписано": "06.03.2024",
        "Получатель": "АО Лютик",
        "ПолучательКПП": "770002002",
        "ПолучательРасчСчет": "40702810000000000002",
        "ПолучательКорсчет": "30101810400000000226",
        "ДатаПоступило": "",
        "Получатель1": "ignored",
    }
    document = one_document(changes)
    assert [getattr(document, f) for f in DOCUMENT_FIELDS] == [
        "17",
        "Платежное поручение",
        "2024-03-05",
        "1500.00",
        "Оплата по счёту №5",
        "",
        "5",
        "7700000001",
        "770001001",
        "044525225",
        "ПАО Сбербанк",
        "40702810000000000001",
        "ООО «Ромашка»",
        "ООО Ромашка",
        "40702810000000000001",
        "30101810400000000225",
        "2024-03-06",
        "7700000002",
        "АО Лютик",
        "40702810000000000002",
        "770002002",
        "044525226",
        "АО «Банк»",
        "40702810000000000002",
        "30101810400000000226",
        None,
    ]


def test_document_optional_fields_absent():
    document = one_document()
    optional = [
        "payment_type",
        "ordering",
        "counterparty_kpp",
        "counterparty",
        "counterparty_1",
        "counterparty_ras_account",
        "counterparty_cor_account",
        "outcome_date",
        "payee",
        "payee_kpp",
        "payee_ras_account",
        "payee_cor_account",
        "income_date",
    ]
    assert [getattr(document, f) for f in optional] == [None] * 13


@pytest.mark.parametrize(
    "written, want",
    [("1500.00", "1500.00"), ("1500", "1500"), ("0.05", "0.05"), ("-0.50", "-0.50"), ("0", "0")],
)
def test_amount_text(written, want):
    assert one_document({"Сумма": written}).amount == want


@pytest.mark.parametrize(
    "written, want", [("05.03.2024", "2024-03-05"), ("1.2.0999", "0999-02-01"), ("31.12.9999", "9999-12-31")]
)
def test_date_text(written, want):
    assert one_document({"Дата": written}).doc_date == want


def test_attribute_reads_make_new_strs():
    document = one_document()
    assert document.purpose == document.purpose
    assert document.purpose is not document.purpose


@pytest.mark.parametrize(
    "number, doc_type, want",
    [
        (
            "17",
            "Платежное поручение",
            'Document(doc_number="17", doc_type="Платежное поручение", doc_date="2024-03-05", amount="1500.00")',
        ),
        (
            'N"1\\2',
            "",
            'Document(doc_number="N\\"1\\\\2", doc_type="", doc_date="2024-03-05", amount="1500.00")',
        ),
        (
            "a\tb",
            "x'y",
            'Document(doc_number="a\\tb", doc_type="x\'y", doc_date="2024-03-05", amount="1500.00")',
        ),
    ],
    ids=["cyrillic-unescaped", "quote-and-backslash", "tab-and-apostrophe"],
)
def test_document_repr(number, doc_type, want):
    assert repr(one_document({"Номер": number}, doc_type)) == want


def test_document_equality():
    assert one_document() == one_document()
    assert one_document() != one_document({"Номер": "18"})
    # An empty optional text is present, not absent.
    assert one_document({"ВидОплаты": ""}) != one_document()
    assert one_document({"Сумма": "1500"}) != one_document()
    assert one_document() != one_document(doc_type="Другое")


def test_section_type():
    document, account = tarvik_py.SectionType.Document, tarvik_py.SectionType.Account
    assert tarvik_py.SectionType.Document is document
    assert repr(document) == str(document) == "SectionType.Document"
    assert repr(account) == "SectionType.Account"
    assert (int(document), int(account)) == (0, 1)
    assert account != 1 and not account == 1 and document != 0
    assert document != account
    assert type(document) is tarvik_py.SectionType
    with pytest.raises(TypeError):
        [0, 1][account]  # only int() converts, not __index__
    with pytest.raises(TypeError):
        float(account)


def test_statement_in_a_cycle_is_collected():
    freed = []

    class Sentinel:
        def __del__(self):
            freed.append(True)

    gc.collect()
    statement = parse_lines(document_section())
    statement.header["me"] = statement
    statement.documents.append(statement)
    statement.accounts["sentinel"] = Sentinel()
    assert gc.is_tracked(statement)
    del statement
    assert freed == []
    gc.collect()
    assert freed == [True]


def test_statement_referents_are_its_containers():
    statement = parse_lines(document_section())
    referents = gc.get_referents(statement)
    for container in (statement.header, statement.accounts, statement.documents, statement.warnings):
        assert any(r is container for r in referents)


def test_value_objects_are_not_tracked(objects):
    for name in ["Account", "Interval", "Document", "SectionType"]:
        assert not gc.is_tracked(objects[name])


def test_empty_sections():
    statement = tarvik_py.parse(text([MARKER, *account_section(), "КонецФайла"]))
    assert statement.header == {}
    assert statement.documents == []
    statement = parse_lines(document_section())
    assert statement.accounts == {}
