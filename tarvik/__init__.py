"""tarvik: Russian bank statements in the 1CClientBankExchange format, read, checked and written.

    reading = tarvik.read("kl_to_1c.txt")   # byte-order mark, DOS code page, the usual repairs
    reading.statement.documents              # tarvik_py.Document records
    reading.changes                          # what the repairs changed, with their lines
    data = tarvik.write(orders, encoding="cp1251", direction="to_bank")
    print(tarvik.show("kl_to_1c.txt"))       # and check, convert: as the command's of each name

`tarvik_py` is the strict reader underneath; `tarvik` meets files as banks write them.
"""

import importlib
from typing import TYPE_CHECKING

from . import hooks
from .checking import Finding, check
from .columns import ArrowTable, Columns, to_arrow
from .ledger import Ledger, ledger
from .reading import Change, Hook, Reading, Source, read
from .records import as_dict, document_rows, interval_rows
from .reporting import report
from .showing import Summary, show
from .writing import WriteError, write

if TYPE_CHECKING:
    from .converting import Conversion, convert

__all__ = [
    "ArrowTable",
    "Change",
    "Columns",
    "Conversion",
    "Finding",
    "Hook",
    "Ledger",
    "Reading",
    "Source",
    "Summary",
    "WriteError",
    "as_dict",
    "check",
    "convert",
    "document_rows",
    "hooks",
    "interval_rows",
    "ledger",
    "read",
    "report",
    "show",
    "to_arrow",
    "write",
]


def __getattr__(name: str) -> object:
    # convert, and what it writes with (csv, json, the tables of many files), is imported when
    # first used, so that it costs `import tarvik` nothing.
    if name in ("Conversion", "convert"):
        return getattr(importlib.import_module(".converting", __name__), name)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
