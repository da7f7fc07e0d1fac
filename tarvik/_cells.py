"""How a value becomes a CSV cell that a spreadsheet shows as it is.

A spreadsheet runs a cell that begins with `=`, `+`, `-` or `@` (and, in some, a tab or a
carriage return) as a formula, which a statement's texts (a purpose, a name) must never become:
such a text is written after an apostrophe, which the spreadsheet shows as text, as OWASP advises
against CSV injection. Amounts and line numbers stay numbers: `-3.50` is a negative amount, not a
formula. For Russian Excel an amount may be written with a decimal comma. A yes or no is
`true` or `false`, as JSON and the SQL engines that read CSV write it.
"""

from __future__ import annotations

import json
from collections.abc import Callable
from typing import Final

from ._fields import DOCUMENT_FIELDS, INTERVAL_FIELDS, Kind

__all__ = ["cell_writer"]

FORMULA_STARTS: Final = ("=", "+", "-", "@", "\t", "\r")
AMOUNT_COLUMNS: Final = frozenset(
    f.attr for f in (*DOCUMENT_FIELDS, *INTERVAL_FIELDS) if f.kind is Kind.AMOUNT
)

Cell = str | int
Value = str | int | dict[str, str] | None


def cell_writer(
    *, escape_formulas: bool, decimal_comma: bool, amounts: frozenset[str] = AMOUNT_COLUMNS
) -> Callable[[str, Value], Cell]:
    """A function of (column, value) giving the cell: "" for None, numbers as they are, a
    mapping (the keys a record has no field for) as a JSON object, which no spreadsheet runs.
    The columns `amounts` hold amounts as text (default: the records')."""

    def cell(column: str, value: Value) -> Cell:
        if value is None:
            return ""
        if isinstance(value, bool):
            return "true" if value else "false"
        if isinstance(value, int):
            return value
        if isinstance(value, dict):
            return json.dumps(value, ensure_ascii=False)
        if column in amounts:
            return value.replace(".", ",") if decimal_comma else value
        if escape_formulas and value.startswith(FORMULA_STARTS):
            return "'" + value
        return value

    return cell
