"""The ledger's work on one statement: its entries, its intervals, and what it says of itself.

This is the map step of `tarvik.ledger`: `read_statement` reads one file and never raises for
what the file holds; what it returns pickles, so a process pool, Dask or Spark runs it where the
files are, and the merge (`tarvik._ledger_merge`) joins the parts.

The own accounts of a statement are the numbers of its account sections and every `РасчСчет`
line of its header. A document gives one entry for each own account it moves: `in` where the
payee's account is one (`ПолучательСчет`, or `ПолучательРасчСчет` where that is given), `out`
where the payer's is. Account numbers are compared without the white space around them.
"""

from __future__ import annotations

import bisect
import datetime
import decimal
from collections.abc import Iterable, Sequence
from dataclasses import dataclass
from typing import Final, Literal, NamedTuple, TypeVar

from . import _sources
from ._faults import FILE_FAULTS
from ._findings import Severity, failure, notices
from .checking import mismatches
from .reading import Reading, Source, read

__all__ = [
    "Cover",
    "Entry",
    "Finding",
    "Interval",
    "StatementPart",
    "EXACT",
    "read_statement",
]

Kind = Literal[
    "error",
    "repair",
    "skipped",
    "warning",
    "mismatch",
    "foreign",
    "turnover",
    "conflict",
    "continuity",
    "overlap",
    "gap",
]
# In the order findings on one line are listed; the first five are those of `tarvik.check`.
KINDS: Final[tuple[Kind, ...]] = (
    "error",
    "repair",
    "skipped",
    "warning",
    "mismatch",
    "foreign",
    "turnover",
    "conflict",
    "continuity",
    "overlap",
    "gap",
)
SEVERITY: Final[dict[Kind, Severity]] = {
    "error": "error",
    "repair": "repair",
    "skipped": "skipped",
    "warning": "warning",
    "mismatch": "mismatch",
    "foreign": "warning",  # a document left out of the ledger, as a skipped one is
    "turnover": "mismatch",
    "conflict": "mismatch",
    "continuity": "mismatch",
    "overlap": "mismatch",
    "gap": "warning",  # days missing, as documents are from a skipped one
}

_T = TypeVar("_T")

ACCOUNT_KEY: Final = "РасчСчет"
PERIOD_KEYS: Final = ("ДатаНачала", "ДатаКонца")

# Sums of amounts are exact: any number of digits, and an inexact result raises.
EXACT: Final = decimal.Context(
    prec=decimal.MAX_PREC, traps=[decimal.Inexact, decimal.InvalidOperation]
)


@dataclass(frozen=True)
class Finding:
    """Something the ledger found: where, how grave (as `tarvik.check` grades it), what kind."""

    file: str
    line: int | None
    severity: Severity
    kind: Kind
    message: str

    def __str__(self) -> str:
        place = self.file if self.line is None else f"{self.file}:{self.line}"
        kind = "" if self.kind == self.severity else f"{self.kind}: "
        return f"{place}: {self.severity}: {kind}{self.message}"


def finding(file: str, line: int | None, kind: Kind, message: str) -> Finding:
    return Finding(file, line, SEVERITY[kind], kind, message)


class Entry(NamedTuple):
    """Money in or out of one own account, by one document of one statement."""

    account: str
    direction: Literal["in", "out"]
    booked: datetime.date  # ДатаПоступило for in, ДатаСписано for out; failing those, Дата
    amount: decimal.Decimal
    signed: decimal.Decimal  # negative for out
    counterparty_name: str | None
    counterparty_inn: str
    counterparty_kpp: str | None
    counterparty_account: str
    counterparty_bank: str
    counterparty_bic: str
    purpose: str
    doc_type: str
    doc_number: str
    doc_date: datetime.date
    file: str
    line: int
    # Not columns of the ledger: what the merge needs to tell documents apart.
    order: int  # the statement's place among the sources
    payer: (
        str  # the payer's account: its ПлательщикРасчСчет where that is given, else ПлательщикСчет
    )
    payee: str  # likewise
    own_inn: str  # the own side's, so that two copies of a document compare side by side
    own_kpp: str | None
    own_bic: str


# The ledger's columns of an entry: all but the merge's own.
ENTRY_FIELDS: Final = Entry._fields[: Entry._fields.index("order")]


class Interval(NamedTuple):
    """An account section of a statement: its days (as ordinals) and figures."""

    account: str
    start: int
    end: int  # ДатаКонца; its start day where it has none
    opening: decimal.Decimal
    income: decimal.Decimal | None
    expense: decimal.Decimal | None
    closing: decimal.Decimal | None
    file: str
    line: int
    order: int


class Cover(NamedTuple):
    """The period a statement's header declares, for one of its own accounts: days it answers
    for, whether or not an account section names them."""

    account: str
    start: int
    end: int
    file: str
    line: int
    order: int


@dataclass(frozen=True)
class StatementPart:
    """What one statement gives the ledger; it pickles."""

    file: str
    order: int
    entries: list[Entry]
    intervals: list[Interval]
    covers: list[Cover]
    findings: list[Finding]  # the statement's own: tarvik.check's, foreign documents, turnovers


def read_statement(
    source: Source, *, order: int = 0, name: str | None = None, repairs: bool = True
) -> StatementPart:
    """One statement's part of the ledger. A file that does not read is one "error" finding.

    `order` is the statement's place among the sources: where copies of a document disagree,
    the earlier statement's stands. `name` labels it (default: the path, or "<bytes>").
    """
    label = _sources.label(source, name)
    try:
        reading = read(source, repairs=repairs)
    except FILE_FAULTS as exc:
        failed = failure(label, exc)
        return StatementPart(
            label, order, [], [], [], [finding(label, failed.lineno, "error", failed.message)]
        )
    # What `tarvik.check` reports, as it words it.
    changes = [(c.lineno, c.repair, c.message) for c in reading.changes]
    told = notices(label, changes, reading.statement.warnings, reading.warning_sections())
    found = [finding(label, f.lineno, f.severity, f.message) for f in told]
    found += [finding(label, line, "mismatch", text) for line, text in mismatches(reading)]
    try:
        with decimal.localcontext(EXACT):
            return _part(reading, label, order, found)
    except _DateError as exc:
        return StatementPart(
            label, order, [], [], [], [finding(label, exc.line, "error", str(exc))]
        )


class _DateError(ValueError):
    def __init__(self, line: int, text: str) -> None:
        super().__init__(f"the date {text} is outside the years 1 to 9999, which the ledger holds")
        self.line = line


def _day(text: str, line: int) -> datetime.date:
    try:
        return datetime.date.fromisoformat(text)
    except ValueError:
        raise _DateError(line, text) from None


def _file_day(text: str) -> int | None:
    """The ordinal of a header's DD.MM.YYYY, or None where it is not one."""
    day, _, rest = text.partition(".")
    month, _, year = rest.partition(".")
    digits = day + month + year
    if not (
        len(day) == len(month) == 2 and len(year) == 4 and digits.isascii() and digits.isdigit()
    ):
        return None
    try:
        return datetime.date(int(year), int(month), int(day)).toordinal()
    except ValueError:
        return None


def _part(reading: Reading, label: str, order: int, found: list[Finding]) -> StatementPart:
    statement = reading.statement

    header_lines = reading.recording.header_lines()
    own = dict.fromkeys(
        [value.strip() for key, value, _ in header_lines if key == ACCOUNT_KEY and value.strip()]
        + [number.strip() for number in statement.accounts if number.strip()]
    )

    intervals: list[Interval] = []
    for (number, account), lines in zip(
        statement.accounts.items(), reading.recording.interval_lines(), strict=True
    ):
        for interval, line in zip(account.intervals, lines, strict=True):
            start = _day(interval.date_start, line).toordinal()
            end = start if interval.date_end is None else _day(interval.date_end, line).toordinal()
            intervals.append(
                Interval(
                    number.strip(),
                    start,
                    end,
                    decimal.Decimal(interval.start_amount),
                    _amount(interval.total_income),
                    _amount(interval.total_expense),
                    _amount(interval.end_amount),
                    label,
                    line,
                    order,
                )
            )

    covers: list[Cover] = []
    period = {key: (value, line) for key, value, line in header_lines if key in PERIOD_KEYS}
    if len(period) == 2:
        (first_text, first_line), (last_text, _) = (period[k] for k in PERIOD_KEYS)
        first, last = _file_day(first_text), _file_day(last_text)
        if first is not None and last is not None and first <= last:
            covers = [Cover(account, first, last, label, first_line, order) for account in own]

    entries, foreign = _entries(reading, label, order, own)
    found += foreign
    found += _turnovers(intervals, entries)
    return StatementPart(label, order, entries, intervals, covers, found)


def _amount(text: str | None) -> decimal.Decimal | None:
    return None if text is None else decimal.Decimal(text)


def _entries(
    reading: Reading, label: str, order: int, own: dict[str, None]
) -> tuple[list[Entry], list[Finding]]:
    entries: list[Entry] = []
    foreign: list[Finding] = []
    # One object for each text that repeats (the own side, a counterparty, a bank, a type): a
    # record reads a new str each time, and the ledger keeps its entries.
    one = _Shared().one
    for doc, line in zip(reading.statement.documents, reading.document_lines(), strict=True):
        payer_account = doc.counterparty_account.strip()
        payer_ras = (doc.counterparty_ras_account or "").strip()
        payee_account = doc.payee_account.strip()
        payee_ras = (doc.payee_ras_account or "").strip()
        payer = one(payer_ras or payer_account)
        payee = one(payee_ras or payee_account)
        out_of = payer_account if payer_account in own else payer_ras if payer_ras in own else None
        into = payee_account if payee_account in own else payee_ras if payee_ras in own else None
        doc_type, number = one(doc.doc_type), doc.doc_number
        doc_date = _day(doc.doc_date, line)
        if out_of is None and into is None:
            foreign.append(
                finding(
                    label,
                    line,
                    "foreign",
                    f"{doc_type} № {number} of {doc_date} from {payer} to {payee} "
                    "moves none of the "
                    f"statement's own accounts ({', '.join(own) or 'it names none'})",
                )
            )
            continue
        amount = decimal.Decimal(doc.amount)
        purpose = doc.purpose
        payer_side = (
            one(doc.counterparty or doc.counterparty_1 or doc.counterparty),
            one(doc.counterparty_inn),
            one(doc.counterparty_kpp),
            one(doc.counterparty_bank1),
            one(doc.counterparty_bic),
        )
        payee_side = (
            one(doc.payee),
            one(doc.payee_inn),
            one(doc.payee_kpp),
            one(doc.payee_bank1),
            one(doc.payee_bic),
        )
        for account, direction, booked, other, other_account, ours in (
            (out_of, "out", doc.outcome_date, payee_side, payee, payer_side),
            (into, "in", doc.income_date, payer_side, payer, payee_side),
        ):
            if account is None:
                continue
            name, inn, kpp, bank, bic = other
            entries.append(
                Entry(
                    one(account),
                    "out" if direction == "out" else "in",
                    doc_date if booked is None else _day(booked, line),
                    amount,
                    amount.copy_negate() if direction == "out" else amount,
                    name,
                    inn,
                    kpp,
                    other_account,
                    bank,
                    bic,
                    purpose,
                    doc_type,
                    number,
                    doc_date,
                    label,
                    line,
                    order,
                    payer,
                    payee,
                    ours[1],
                    ours[2],
                    ours[4],
                )
            )
    return entries, foreign


class _Shared(dict[object, object]):
    def one(self, value: _T) -> _T:
        """The first value equal to `value` that this has seen."""
        return self.setdefault(value, value)  # type: ignore[return-value]


class _Booked:
    """The entries of one account and direction by day, summed from the first."""

    def __init__(self, entries: Iterable[Entry]) -> None:
        pairs = sorted((e.booked.toordinal(), e.amount) for e in entries)
        self.days = [day for day, _ in pairs]
        self.sums = [decimal.Decimal(0)]
        for _, amount in pairs:
            self.sums.append(self.sums[-1] + amount)

    def within(self, first: int, last: int) -> decimal.Decimal:
        low = bisect.bisect_left(self.days, first)
        high = bisect.bisect_right(self.days, last)
        return self.sums[high] - self.sums[low]


def _turnovers(intervals: Sequence[Interval], entries: Sequence[Entry]) -> list[Finding]:
    """Each interval's totals against the statement's own entries booked within its days."""
    found: list[Finding] = []
    booked: dict[tuple[str, str], _Booked] = {}
    for interval in intervals:
        for total, direction, what in (
            (interval.income, "in", "income"),
            (interval.expense, "out", "expense"),
        ):
            if total is None:
                continue
            key = (interval.account, direction)
            if key not in booked:
                booked[key] = _Booked(
                    e for e in entries if e.account == key[0] and e.direction == direction
                )
            summed = booked[key].within(interval.start, interval.end)
            if summed != total:
                first, last = (datetime.date.fromordinal(d) for d in (interval.start, interval.end))
                period = f"{first}..{last}"
                found.append(
                    finding(
                        interval.file,
                        interval.line,
                        "turnover",
                        f"account {interval.account} {period}: {what} {total}, but the statement's "
                        f"documents booked in the period add up to {summed} "
                        f"(difference {summed - total})",
                    )
                )
    return found
