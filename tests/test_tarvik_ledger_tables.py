"""tarvik._columns.build_table: the tables the ledger hands back, built without pyarrow.

These run wherever the module does, the sanitized build included, where the stream is read
back through ctypes (arrow_rows); with pyarrow they also check that reader against pyarrow's.
"""

from __future__ import annotations

import datetime
import decimal
import importlib.util

import pytest

from tarvik import _columns
from arrow_rows import read_stream, rows, schema

D = decimal.Decimal
WIDE = decimal.Context(prec=100)


def test_a_table_of_each_type_reads_back_as_given():
    table = _columns.build_table([
        ("line", "int64", False, 0, [1, -(2**63), 2**63 - 1]),
        ("text", "string", True, 0, ["Оплата «Ладога»", None, ""]),
        ("day", "date32", False, 0, [0, -719162, 2932896]),
        ("amount", "decimal", True, 2, [150, None, -(10**37)]),
        ("derived", "bool", True, 0, [True, False, None]),
    ])
    assert len(table) == 3
    assert schema(table) == [("line", "l"), ("text", "u"), ("day", "tdD"), ("amount", "d:38,2"), ("derived", "b")]
    assert read_stream(table) == [
        {"line": 1, "text": "Оплата «Ладога»", "day": datetime.date(1970, 1, 1), "amount": D("1.50"),
         "derived": True},
        {"line": -(2**63), "text": None, "day": datetime.date(1, 1, 1), "amount": None, "derived": False},
        {"line": 2**63 - 1, "text": "", "day": datetime.date(9999, 12, 31), "amount": D(-(10**37)).scaleb(-2, WIDE),
         "derived": None},
    ]
    if importlib.util.find_spec("pyarrow") is not None:
        assert rows(table) == read_stream(table)


@pytest.mark.parametrize(
    ("values", "scale", "format"),
    [
        ([10**38 - 1, -(10**38 - 1)], 2, "d:38,2"),
        ([10**38], 2, "d:76,2,256"),
        ([-(10**75) * 9], 0, "d:76,0,256"),
        ([2**64, -(2**64) - 1, 2**127], 5, "d:76,5,256"),
        ([], 28, "d:38,28"),
    ],
    ids=["38 digits fit 128 bits", "39 do not", "76 digits", "past 64 bits both ways", "no rows"],
)
def test_a_decimal_column_widens_past_38_digits(values, scale, format):
    table = _columns.build_table([("amount", "decimal", False, scale, values)])
    assert schema(table) == [("amount", format)]
    assert [r["amount"] for r in read_stream(table)] == [D(v).scaleb(-scale, WIDE) for v in values]


@pytest.mark.parametrize(
    ("columns", "error", "message"),
    [
        ([("a", "int64", False, 0, [1.5])], TypeError, "column a, row 0: not a value of its type: 1.5"),
        ([("a", "int64", False, 0, [True])], TypeError, "column a, row 0: not a value of its type: True"),
        ([("a", "int64", False, 0, [2**63])], OverflowError, "column a, row 0: not a value of its type"),
        ([("a", "bool", False, 0, [1])], TypeError, "column a, row 0: not a value of its type: 1"),
        ([("a", "string", False, 0, [b"x"])], TypeError, "column a, row 0: not a value of its type: b'x'"),
        ([("a", "decimal", False, 2, [D(1)])], TypeError, "column a, row 0: not a value of its type"),
        ([("a", "decimal", False, 2, [2**300])], OverflowError, "column a, row 0: a decimal past 256 bits"),
        ([("a", "decimal", False, 2, [10**76])], ValueError, "column a: a decimal of more than 76 digits"),
        ([("a", "decimal", False, 77, [])], ValueError, "column a: no type 'decimal' at scale 77"),
        ([("a", "float", False, 0, [])], ValueError, "column a: no type 'float'"),
        ([("a", "date32", False, 0, [2**40])], ValueError, "column a: a day out of range"),
        ([("a", "string", False, 0, [None])], ValueError, "column a: a null, which it takes none of"),
        ([("a", "int64", False, 0, [1]), ("b", "int64", False, 0, [])], ValueError,
         "column b: not as long as the first"),
        ([("a", "int64", False, 0)], TypeError, "build_table"),
        ([("a", "int64", False, 0, 5)], TypeError, "a column's values must be a sequence"),
        (5, TypeError, "build_table() takes a sequence of columns"),
    ],
    ids=["float", "bool for int", "int past 64 bits", "int for bool", "bytes for text", "Decimal for its units",
         "past 256 bits", "77 digits", "scale 77", "unknown type", "day past int32", "null in a column of none",
         "columns of two lengths", "no values", "values not a sequence", "columns not a sequence"],
)
def test_what_no_column_holds_is_refused(columns, error, message):
    with pytest.raises(error, match=message.replace("(", r"\(").replace(")", r"\)")):
        _columns.build_table(columns)


def test_a_text_the_table_holds_outlives_its_str():
    texts = [f"назначение {n}" for n in range(1000)]
    table = _columns.build_table([("purpose", "string", False, 0, texts)])
    expected = list(texts)
    del texts
    assert [r["purpose"] for r in read_stream(table)] == expected
