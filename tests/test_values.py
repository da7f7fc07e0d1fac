"""Dates and amounts as Python sees them, checked against datetime and decimal on random input."""

import datetime
import decimal
import random

import pytest

import tarvik_py
from samples import document_section, statement_lines, utf8


def _parse_documents(field, values):
    sections = [document_section({"Номер": str(i), field: v}) for i, v in enumerate(values)]
    return tarvik_py.parse(utf8(statement_lines(*sections)))


def _random_plain_amount(rng):
    digits = rng.randint(1, 28)
    text = "".join(rng.choice("0123456789") for _ in range(digits))
    point = rng.randint(0, digits)
    if rng.random() < 0.7:
        text = text[:point] + "." + text[point:]
    if rng.random() < 0.3:
        text = rng.choice("+-") + text
    return text


def _expected_amount_text(text):
    value = decimal.Decimal(text)
    if value == 0:
        value = abs(value)  # a zero never carries a sign
    return format(value, "f")


@pytest.mark.parametrize("seed", range(5))
def test_plain_amounts_match_decimal(seed):
    rng = random.Random(seed)
    texts = [_random_plain_amount(rng) for _ in range(400)]
    statement = _parse_documents("Сумма", texts)
    assert statement.warnings == []
    for doc, text in zip(statement.documents, texts, strict=True):
        assert doc.amount == _expected_amount_text(text), text
        # The scale is kept as written: as many fraction digits as the text had.
        assert -decimal.Decimal(doc.amount).as_tuple().exponent == -decimal.Decimal(text).as_tuple().exponent


@pytest.mark.parametrize("seed", range(3))
def test_dates_match_datetime(seed):
    rng = random.Random(seed)
    dates, texts = [], []
    for _ in range(400):
        year, month, day = rng.randint(1, 9999), rng.randint(1, 12), rng.randint(1, 31)
        dates.append((year, month, day))
        texts.append(f"{day:02}.{month:02}.{year:04}")
    statement = _parse_documents("Дата", texts)
    built = iter(statement.documents)
    warned = {lineno for lineno, _ in statement.warnings}
    assert all(message == "input is out of range" for _, message in statement.warnings)
    for year, month, day in dates:
        try:
            expected = datetime.date(year, month, day)
        except ValueError:
            continue
        doc = next(built)
        assert doc.doc_date == expected.isoformat()
        assert datetime.date.fromisoformat(doc.doc_date) == expected
    assert next(built, None) is None
    assert len(warned) == len(dates) - len(statement.documents)
