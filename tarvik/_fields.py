"""The fields of the format that `tarvik` reads and writes: one row per field.

The reader, the writer, the typed conversion and the command's columns all walk these tables, so
a field is added or renamed here and nowhere else.
"""

from __future__ import annotations

import enum
from dataclasses import dataclass
from typing import Final


class Kind(enum.Enum):
    """How a field's text is read: as it stands, as a date or as an amount."""

    TEXT = "text"
    DATE = "date"
    AMOUNT = "amount"


@dataclass(frozen=True)
class Field:
    attr: str  # the attribute of the tarvik_py record, and the mapping key the writer takes
    key: str  # the key in the file
    kind: Kind
    required: bool  # a record without it is not read back


def _f(attr: str, key: str, kind: Kind = Kind.TEXT, *, required: bool = False) -> Field:
    return Field(attr, key, kind, required)


# In the order of the record's attributes, which is also the order the writer writes them in.
# The document type is not among them: it stands on the section's opening line, and in the
# record's order it comes second.
DOCUMENT_FIELDS: Final = (
    _f("doc_number", "Номер", required=True),
    _f("doc_date", "Дата", Kind.DATE, required=True),
    _f("amount", "Сумма", Kind.AMOUNT, required=True),
    _f("purpose", "НазначениеПлатежа", required=True),
    _f("payment_type", "ВидОплаты"),
    _f("ordering", "Очередность"),
    _f("counterparty_inn", "ПлательщикИНН", required=True),
    _f("counterparty_kpp", "ПлательщикКПП"),
    _f("counterparty_bic", "ПлательщикБИК", required=True),
    _f("counterparty_bank1", "ПлательщикБанк1", required=True),
    _f("counterparty_account", "ПлательщикСчет", required=True),
    _f("counterparty", "Плательщик"),
    _f("counterparty_1", "Плательщик1"),
    _f("counterparty_ras_account", "ПлательщикРасчСчет"),
    _f("counterparty_cor_account", "ПлательщикКорсчет"),
    _f("outcome_date", "ДатаСписано", Kind.DATE),
    _f("payee_inn", "ПолучательИНН", required=True),
    _f("payee", "Получатель"),
    _f("payee_account", "ПолучательСчет", required=True),
    _f("payee_kpp", "ПолучательКПП"),
    _f("payee_bic", "ПолучательБИК", required=True),
    _f("payee_bank1", "ПолучательБанк1", required=True),
    _f("payee_ras_account", "ПолучательРасчСчет"),
    _f("payee_cor_account", "ПолучательКорсчет"),
    _f("income_date", "ДатаПоступило", Kind.DATE),
)

DOC_TYPE_ATTR: Final = "doc_type"
DOC_TYPE_KEY: Final = "СекцияДокумент"

# The columns of a document row: every attribute of the record, in its order.
DOCUMENT_COLUMNS: Final = (
    DOCUMENT_FIELDS[0].attr,
    DOC_TYPE_ATTR,
    *(f.attr for f in DOCUMENT_FIELDS[1:]),
)

INTERVAL_FIELDS: Final = (
    _f("date_start", "ДатаНачала", Kind.DATE, required=True),
    _f("date_end", "ДатаКонца", Kind.DATE),
    _f("start_amount", "НачальныйОстаток", Kind.AMOUNT, required=True),
    _f("total_income", "ВсегоПоступило", Kind.AMOUNT),
    _f("total_expense", "ВсегоСписано", Kind.AMOUNT),
    _f("end_amount", "КонечныйОстаток", Kind.AMOUNT),
)

# The attributes of tarvik_py.Interval in its own order, which differs from the file's.
INTERVAL_RECORD_ORDER: Final = (
    "date_start",
    "date_end",
    "start_amount",
    "end_amount",
    "total_income",
    "total_expense",
)
assert sorted(INTERVAL_RECORD_ORDER) == sorted(f.attr for f in INTERVAL_FIELDS)

# Written among the interval's lines, after its period, as 1C writes it.
ACCOUNT_KEY: Final = "РасчСчет"
INTERVAL_COLUMNS: Final = ("account", *(f.attr for f in INTERVAL_FIELDS))

# The keys a section of each kind is built from, for the repairs that touch amounts.
DOCUMENT_AMOUNT_KEYS: Final = tuple(f.key for f in DOCUMENT_FIELDS if f.kind is Kind.AMOUNT)
INTERVAL_AMOUNT_KEYS: Final = tuple(f.key for f in INTERVAL_FIELDS if f.kind is Kind.AMOUNT)

assert len(DOCUMENT_COLUMNS) == 26
