"""tarvik: Russian bank statements in the 1CClientBankExchange format, read, checked and written.

    reading = tarvik.read("kl_to_1c.txt")   # byte-order mark, DOS code page, the usual repairs
    reading.statement.documents              # tarvik_py.Document records
    reading.changes                          # what the repairs changed, with their lines
    data = tarvik.write(orders, encoding="cp1251", direction="to_bank")

`tarvik_py` is the strict reader underneath; `tarvik` meets files as banks write them.
"""

from . import hooks
from .checking import Finding, check
from .columns import ArrowTable, Columns, to_arrow
from .ledger import Ledger, ledger
from .reading import Change, Hook, Reading, Source, read
from .reporting import report
from .records import as_dict, document_rows, interval_rows
from .writing import WriteError, write

__all__ = [
    "ArrowTable",
    "Change",
    "Columns",
    "Finding",
    "Hook",
    "Ledger",
    "Reading",
    "Source",
    "WriteError",
    "as_dict",
    "check",
    "document_rows",
    "hooks",
    "interval_rows",
    "ledger",
    "read",
    "report",
    "to_arrow",
    "write",
]
