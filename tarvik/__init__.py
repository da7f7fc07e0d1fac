"""tarvik: Russian bank statements in the 1CClientBankExchange format, read and written.

    reading = tarvik.read("kl_to_1c.txt")      # BOM, DOS code page and the usual repairs
    reading.statement.documents                 # tarvik_py.Document records
    data = tarvik.write(reading.statement.documents, encoding="cp1251")

`tarvik_py` is the strict reader underneath; `tarvik` meets files as banks write them.
"""

from . import hooks
from .reading import Change, Hook, Reading, Source, read

__all__ = ["Change", "Hook", "Reading", "Source", "hooks", "read"]
