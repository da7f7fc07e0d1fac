"""Archives of statements written from a known ledger, and the damage a test does to one.

`LAYOUT` is an archive with a known shape: account X in five statements that follow on and
overlap (a month, eleven days of it again day by day, then half-months and ten days), account
Y in one statement over all the days. `damaged` edits a statement's text as a bank's mistake
would: a document left out, an amount changed, the balances shifted.
"""

from __future__ import annotations

import dataclasses
import datetime
import decimal
import random
import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))
import gen_ledger  # noqa: E402

import tarvik  # noqa: E402

X, Y = "40702810900000000001", "40702810900000000002"
FIRST = datetime.date(2024, 1, 1)
DAYS = 70  # to 2024-03-10
D = gen_ledger.ONE_DAY


def day(month: int, number: int) -> datetime.date:
    return datetime.date(2024, month, number)


LAYOUT = {
    "s1.txt": gen_ledger.Plan((X,), day(1, 1), day(1, 31), daily=False, encoding="cp1251"),
    "s2.txt": gen_ledger.Plan((X,), day(1, 10), day(1, 20), daily=True, encoding="cp866"),
    "s3.txt": gen_ledger.Plan((X,), day(2, 1), day(2, 14), daily=False, encoding="utf-8"),
    "s4.txt": gen_ledger.Plan((X,), day(2, 15), day(2, 29), daily=True, encoding="cp1251"),
    "s5.txt": gen_ledger.Plan((X,), day(3, 1), day(3, 10), daily=False, encoding="utf-8"),
    "y1.txt": gen_ledger.Plan((Y,), day(1, 1), day(3, 10), daily=False, encoding="cp1251"),
}


@dataclasses.dataclass
class Archive:
    known: gen_ledger.Known
    files: dict[str, bytes]  # by name, in the order of LAYOUT

    def write(self, folder: Path) -> Path:
        for name, data in self.files.items():
            (folder / name).write_bytes(data)
        return folder


def archive(seed: int = 7) -> Archive:
    known = gen_ledger.known_ledger(random.Random(seed), [X, Y], FIRST, DAYS, per_day=2)
    balances = known.balances()
    return Archive(known, {name: gen_ledger.statement(known, plan, balances) for name, plan in LAYOUT.items()})


def paid_out(known: gen_ledger.Known, account: str, on: datetime.date) -> gen_ledger.Payment:
    """A payment out of `account` to outside, paid on `on`, whose number is its own."""
    return next(
        p for p in known.payments
        if p.out_of == account and p.into is None and p.paid == on and "doc_type" not in p.document
    )


def _edit(data: bytes, name: str, edit) -> bytes:
    encoding = LAYOUT[name].encoding
    return edit(data.decode(encoding)).encode(encoding)


def _document(text: str, number: str) -> re.Match[str]:
    match = re.search(rf"СекцияДокумент=[^\r]*\r\nНомер={number}\r\n.*?КонецДокумента\r\n", text, re.S)
    assert match is not None, number
    return match


def without_document(data: bytes, name: str, number: str) -> bytes:
    def edit(text: str) -> str:
        match = _document(text, number)
        return text[: match.start()] + text[match.end() :]

    return _edit(data, name, edit)


def with_amount(data: bytes, name: str, number: str, amount: decimal.Decimal) -> bytes:
    def edit(text: str) -> str:
        match = _document(text, number)
        section = re.sub(r"\r\nСумма=[^\r]*", f"\r\nСумма={amount}", match.group(0))
        return text[: match.start()] + section + text[match.end() :]

    return _edit(data, name, edit)


def shifted(data: bytes, name: str, by: decimal.Decimal) -> bytes:
    def edit(text: str) -> str:
        return re.sub(
            r"(НачальныйОстаток|КонечныйОстаток)=([-0-9.]+)",
            lambda m: f"{m.group(1)}={decimal.Decimal(m.group(2)) + by}",
            text,
        )

    return _edit(data, name, edit)


def interval_line(data: bytes, account: str, start: datetime.date) -> int:
    """The line of the account section of `account` that starts on `start`."""
    reading = tarvik.read(data)
    intervals = reading.statement.accounts[account].intervals
    lines = reading.interval_lines()[account]
    return next(line for i, line in zip(intervals, lines) if i.date_start == start.isoformat())


def document_line(data: bytes, number: str) -> int:
    reading = tarvik.read(data)
    docs = reading.statement.documents
    return next(line for d, line in zip(docs, reading.document_lines()) if d.doc_number == number)
