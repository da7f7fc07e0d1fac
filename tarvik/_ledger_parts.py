"""The ledger's work on one statement: its entries, its intervals, and what it says of itself.

This is the map step of `tarvik.ledger`: `read_statement` reads one file and never raises for
what the file holds; what it returns pickles, so a process pool, Dask or Spark runs it where the
files are, and the merge (`tarvik._ledger_merge`) joins the parts.

A part holds plain values, column by column: texts, ints for days (since 1970-01-01, as Arrow's
date32 counts them) and amounts (in units of the part's scale), and the tuples that name each
document. So what crosses between processes pickles and unpickles at the speed of its bytes, and
the merge needs no Decimal and no date to do its work.

The own accounts of a statement are the numbers of its account sections and every `РасчСчет`
line of its header. A document gives one entry for each own account it moves: `in` where the
payee's account is one (`ПолучательСчет`, or `ПолучательРасчСчет` where that is given), `out`
where the payer's is. Account numbers are compared without the white space around them.
"""

from __future__ import annotations

import bisect
import datetime
import itertools
import operator
from array import array
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any, Final, Literal, NamedTuple, cast

from . import _sources
from ._faults import FILE_FAULTS
from ._findings import Severity, failure, mismatches, notices
from .reading import Reading, Source, read

__all__ = [
    "ENTRY_FIELDS",
    "EPOCH",
    "KINDS",
    "MIN_SCALE",
    "SEVERITY",
    "Cover",
    "DocumentKey",
    "Entries",
    "Finding",
    "Identity",
    "Interval",
    "Kind",
    "Parts",
    "Sides",
    "StatementPart",
    "Version",
    "amount_text",
    "date_of",
    "document_key",
    "finding",
    "key_fields",
    "read_statement",
    "statement_part",
    "sides_of",
    "version_fields",
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

ACCOUNT_KEY: Final = "РасчСчет"
PERIOD_KEYS: Final = ("ДатаНачала", "ДатаКонца")
EPOCH: Final = datetime.date(1970, 1, 1).toordinal()
MIN_SCALE: Final = 2  # kopecks, however round the amounts

# What names a document: its type, number, date (a day number), the payer's and payee's accounts,
# as one text, one a line (no value holds a line feed, which ends a line of the file), or where
# one did, as the tuple of them: either way exact, and a text hashes once, and pickles and is
# held as one object.
DocumentKey = str | tuple[str, ...]
# Each side's INN, KPP and BIC, payer's first, alike: `Sides`.
Sides = str | tuple[str | None, ...]
# What two copies of a document must agree on: the amount (by its value: plain digits without
# the fraction's trailing zeros), the purpose, and the sides.
Version = tuple[str, str, Sides]
# A document's entry on one own account: its key, the amount's value, the account, the direction.
Identity = tuple[DocumentKey, str, str, str]


def _joined(fields: tuple[str, ...]) -> str | None:
    text = "\n".join(fields)
    return text if text.count("\n") == len(fields) - 1 else None


def document_key(doc_type: str, number: str, day: int, payer: str, payee: str) -> DocumentKey:
    fields = (doc_type, number, str(day), payer, payee)
    return _joined(fields) or fields


def key_fields(key: DocumentKey) -> tuple[str, str, int, str, str]:
    """A document's type, number, date (a day number), payer's and payee's accounts."""
    doc_type, number, day, payer, payee = key.split("\n") if isinstance(key, str) else key
    return doc_type, number, int(day), payer, payee


def sides_of(payer: tuple[str, str | None, str], payee: tuple[str, str | None, str]) -> Sides:
    """Each side's INN, KPP and BIC, as one value."""
    (payer_inn, payer_kpp, payer_bic), (payee_inn, payee_kpp, payee_bic) = payer, payee
    # The last line says which KPP is given: a KPP may be given and empty.
    given = ("k" if payer_kpp is not None else "-") + ("k" if payee_kpp is not None else "-")
    text = _joined(
        (payer_inn, payer_kpp or "", payer_bic, payee_inn, payee_kpp or "", payee_bic, given)
    )
    return text or (payer_inn, payer_kpp, payer_bic, payee_inn, payee_kpp, payee_bic)


def version_fields(version: Version) -> tuple[str | None, ...]:
    """The amount's value, the purpose, the payer's INN, KPP (None where not given) and BIC, the
    payee's alike."""
    value, purpose, sides = version
    if not isinstance(sides, str):
        return (value, purpose, *sides)
    *fields, given = sides.split("\n")
    payer_kpp = fields[1] if given[0] == "k" else None
    payee_kpp = fields[4] if given[1] == "k" else None
    return (value, purpose, fields[0], payer_kpp, fields[2], fields[3], payee_kpp, fields[5])


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


class Entries(NamedTuple):
    """Money in or out of the own accounts, one entry per row across the columns: the ledger's
    own columns but `signed` and the statement's `file`, then what the merge needs to tell
    documents apart."""

    account: Sequence[str]
    direction: Sequence[str]  # "in" or "out"
    booked: Sequence[int]  # ДатаПоступило for in, ДатаСписано for out; failing those, Дата
    amount: Sequence[int]  # in units of the part's scale
    counterparty_name: Sequence[str | None]
    counterparty_inn: Sequence[str]
    counterparty_kpp: Sequence[str | None]
    counterparty_account: Sequence[str]
    counterparty_bank: Sequence[str]
    counterparty_bic: Sequence[str]
    purpose: Sequence[str]
    doc_type: Sequence[str]
    doc_number: Sequence[str]
    doc_date: Sequence[int]
    line: Sequence[int]
    key: Sequence[DocumentKey]
    value: Sequence[str]  # the amount's value: 150 for 150.00
    sides: Sequence[Sides]

    def versions(self) -> list[Version]:
        """What each entry's copies in other statements must agree on."""
        return list(zip(self.value, self.purpose, self.sides, strict=True))

    def identities(self) -> list[Identity]:
        """Each entry's document, amount, account and direction."""
        return list(zip(self.key, self.value, self.account, self.direction, strict=True))


# The entry columns of the ledger's table that a part holds, in the table's order.
ENTRY_FIELDS: Final = Entries._fields[: Entries._fields.index("key")]
NO_ENTRIES: Final = Entries(*([()] * len(Entries._fields)))


class Interval(NamedTuple):
    """An account section of a statement: its days and figures, in units of `scale`."""

    account: str
    start: int
    end: int  # ДатаКонца; its start day where it has none
    opening: int
    income: int | None
    expense: int | None
    closing: int | None
    file: str
    line: int
    order: int
    scale: int


class Cover(NamedTuple):
    """The period a statement's header declares, for one of its own accounts: days it answers
    for, whether or not an account section names them."""

    account: str
    start: int
    end: int
    file: str
    line: int
    order: int


class StatementPart(NamedTuple):
    """What one statement gives the ledger, in plain values; it pickles."""

    file: str
    order: int
    scale: int  # of its amounts: the most fraction digits among them, and MIN_SCALE at least
    accounts: tuple[str, ...]  # its own
    entries: Entries
    intervals: list[Interval]
    covers: list[Cover]
    findings: list[Finding]  # its own: tarvik.check's (where asked for), foreign, turnovers


# How entries travel between processes: ints as machine words, the texts that differ from entry
# to entry as one text, and the rest as pickle writes them, each repeated value once.
_INTS: Final = frozenset({"booked", "amount", "doc_date", "line"})
_TEXTS: Final = frozenset({"purpose", "doc_number", "key", "value", "sides"})
_SEPARATOR: Final = "\x1f"  # between the texts of a column; a column with one in a text pickles


class Parts(list[StatementPart]):
    """Statement parts that pickle as one: their entries column by column, each column of all of
    them at once, and their intervals and declared periods as plain tuples, which costs a
    fraction of what pickling each part does."""

    def __reduce__(self) -> tuple[object, ...]:
        entries = [p.entries for p in self]
        columns = [
            _packed(name, list(itertools.chain.from_iterable(map(operator.itemgetter(i), entries))))
            for i, name in enumerate(Entries._fields)
        ]
        findings = [(f.file, f.line, f.kind, f.message) for p in self for f in p.findings]
        heads = (
            [p.file for p in self],
            [p.order for p in self],
            [p.scale for p in self],
            [p.accounts for p in self],
            [len(e.line) for e in entries],
            [len(p.intervals) for p in self],
            [len(p.covers) for p in self],
            [len(p.findings) for p in self],
        )
        intervals = list(map(tuple, itertools.chain.from_iterable(p.intervals for p in self)))
        covers = list(map(tuple, itertools.chain.from_iterable(p.covers for p in self)))
        return _unpacked, (heads, columns, intervals, covers, findings)


def _packed(name: str, values: list[object]) -> object:
    if values and name in _INTS:
        try:
            return array("q", cast("list[int]", values)).tobytes()
        except OverflowError:  # an amount past 64 bits
            return values
    if values and name in _TEXTS:
        try:
            joined = _SEPARATOR.join(values)  # type: ignore[arg-type]
        except TypeError:  # a tuple, where a value held a line feed
            return values
        if joined.count(_SEPARATOR) == len(values) - 1:
            return joined
    return values


def _split[T](values: Sequence[T], counts: list[int]) -> list[Sequence[T]]:
    """`values` cut into runs of `counts`."""
    bounds = list(itertools.accumulate(counts, initial=0))
    return list(map(values.__getitem__, map(slice, bounds[:-1], bounds[1:])))


def _unpacked(
    heads: tuple[list[Any], ...],
    columns: list[object],
    intervals: list[tuple[Any, ...]],
    covers: list[tuple[Any, ...]],
    findings: list[tuple[str, int | None, Kind, str]],
) -> Parts:
    files, orders, scales, accounts, entry_counts, interval_counts, cover_counts, finding_counts = (
        heads
    )
    values: list[Sequence[object]] = []
    for packed in columns:
        if isinstance(packed, bytes):
            values.append(array("q", packed).tolist())
        elif isinstance(packed, str):
            values.append(packed.split(_SEPARATOR))
        else:
            values.append(packed)  # type: ignore[arg-type]
    entries = map(Entries._make, zip(*(_split(c, entry_counts) for c in values), strict=True))
    return Parts(
        map(
            StatementPart._make,
            zip(
                files,
                orders,
                scales,
                accounts,
                entries,
                map(list, _split(list(map(Interval._make, intervals)), interval_counts)),
                map(list, _split(list(map(Cover._make, covers)), cover_counts)),
                _split([finding(*f) for f in findings], finding_counts),
                strict=True,
            ),
        )
    )


def date_of(day: int) -> datetime.date:
    """The date of a day number."""
    return datetime.date.fromordinal(day + EPOCH)


def amount_text(units: int, scale: int) -> str:
    """An amount as plain decimal text with `scale` fraction digits: 1500.00, -0.05, 7."""
    if scale == 0:
        return str(units)
    digits = str(abs(units)).rjust(scale + 1, "0")
    return f"{'-' if units < 0 else ''}{digits[:-scale]}.{digits[-scale:]}"


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
        return failed_part(label, order, exc)
    # What `tarvik.check` reports, as it words it.
    changes = [(c.lineno, c.repair, c.message) for c in reading.changes]
    told = notices(label, changes, reading.statement.warnings, reading.warning_sections())
    found = [finding(label, f.lineno, f.severity, f.message) for f in told]
    found += [finding(label, line, "mismatch", text) for line, text in mismatches(reading)]
    return statement_part(reading, label, order, found)


def failed_part(label: str, order: int, exc: BaseException) -> StatementPart:
    """The part of a statement that did not read: its failure, as an "error" finding."""
    failed = failure(label, exc)
    error = finding(label, failed.lineno, "error", failed.message)
    return StatementPart(label, order, MIN_SCALE, (), NO_ENTRIES, [], [], [error])


def statement_part(
    reading: Reading, label: str, order: int, found: Sequence[Finding] = ()
) -> StatementPart:
    """The part of a statement read, after the findings `found` (what `tarvik.check` says of
    it, where those are wanted): its entries, intervals, declared periods, foreign documents and
    turnovers. A date the ledger cannot hold makes the part one "error" finding."""
    try:
        return _Part(reading, label, order).part(list(found))
    except _DateError as exc:
        error = finding(label, exc.line, "error", str(exc))
        return StatementPart(label, order, MIN_SCALE, (), NO_ENTRIES, [], [], [error])


class _DateError(ValueError):
    def __init__(self, line: int, text: str) -> None:
        super().__init__(f"the date {text} is outside the years 1 to 9999, which the ledger holds")
        self.line = line


def _file_day(text: str) -> int | None:
    """The day number of a header's DD.MM.YYYY, or None where it is not one."""
    day, _, rest = text.partition(".")
    month, _, year = rest.partition(".")
    digits = day + month + year
    if not (
        len(day) == len(month) == 2 and len(year) == 4 and digits.isascii() and digits.isdigit()
    ):
        return None
    try:
        return datetime.date(int(year), int(month), int(day)).toordinal() - EPOCH
    except ValueError:
        return None


def _units(text: str) -> tuple[int, int]:
    """A record's amount (plain digits, an optional minus and fraction) as units and scale."""
    whole, _, fraction = text.partition(".")
    return int(whole + fraction), len(fraction)


def _value(text: str) -> str:
    """An amount's text that equal amounts share: 150.00, 150.0 and 150 are all 150."""
    return text.rstrip("0").rstrip(".") if "." in text else text


def _at(units: int, scale: int, wanted: int) -> int:
    """Units of `scale` as units of `wanted`, which is no smaller."""
    return units if scale == wanted else units * 10 ** (wanted - scale)


# An interval as read, before its part's scale is known: account, start, end, line, and its
# four figures as (units, scale), None where not given.
_Section = tuple[str, int, int, int, tuple[tuple[int, int] | None, ...]]


class _Part:
    """The reading of one statement turned into its part: one pass over its records."""

    def __init__(self, reading: Reading, label: str, order: int) -> None:
        self.reading = reading
        self.label = label
        self.order = order
        self.days: dict[str, int] = {}

    def day(self, text: str, line: int) -> int:
        """The day number of a record's ISO date."""
        day = self.days.get(text)
        if day is None:
            try:
                day = datetime.date.fromisoformat(text).toordinal() - EPOCH
            except ValueError:
                raise _DateError(line, text) from None
            self.days[text] = day
        return day

    def part(self, found: list[Finding]) -> StatementPart:
        reading, label, order = self.reading, self.label, self.order
        header_lines = reading.recording.header_lines()
        named = [value.strip() for key, value, _ in header_lines if key == ACCOUNT_KEY]
        named += [number.strip() for number in reading.statement.accounts]
        own = tuple(account for account in dict.fromkeys(named) if account)
        rows, scales, foreign = self.entries(own)
        sections = self.sections()
        figures = [f[1] for s in sections for f in s[4] if f is not None]
        scale = max([MIN_SCALE, *scales, *figures])
        columns: list[Sequence[Any]] = list(zip(*rows, strict=True)) or list(NO_ENTRIES)
        if any(s != scale for s in scales):
            columns[3] = [_at(units, s, scale) for units, s in zip(columns[3], scales, strict=True)]
        entries = Entries(*columns)
        intervals = [
            Interval._make(
                (
                    account,
                    start,
                    end,
                    *(None if f is None else _at(f[0], f[1], scale) for f in given),
                    label,
                    line,
                    order,
                    scale,
                )
            )
            for account, start, end, line, given in sections
        ]
        found += foreign
        found += _turnovers(intervals, entries, scale)
        return StatementPart(
            label, order, scale, own, entries, intervals, self.covers(own, header_lines), found
        )

    def sections(self) -> list[_Section]:
        statement = self.reading.statement
        out: list[_Section] = []
        for (number, account), lines in zip(
            statement.accounts.items(), self.reading.recording.interval_lines(), strict=True
        ):
            for interval, line in zip(account.intervals, lines, strict=True):
                start = self.day(interval.date_start, line)
                end = start if interval.date_end is None else self.day(interval.date_end, line)
                figures = (
                    interval.start_amount,
                    interval.total_income,
                    interval.total_expense,
                    interval.end_amount,
                )
                given = tuple(None if f is None else _units(f) for f in figures)
                out.append((number.strip(), start, end, line, given))
        return out

    def covers(self, own: Sequence[str], header_lines: list[tuple[str, str, int]]) -> list[Cover]:
        period = {key: (value, line) for key, value, line in header_lines if key in PERIOD_KEYS}
        if len(period) < 2:
            return []
        (first_text, first_line), (last_text, _) = (period[key] for key in PERIOD_KEYS)
        first, last = _file_day(first_text), _file_day(last_text)
        if first is None or last is None or first > last:
            return []
        return [Cover(account, first, last, self.label, first_line, self.order) for account in own]

    def entries(
        self, own: Sequence[str]
    ) -> tuple[list[tuple[object, ...]], list[int], list[Finding]]:
        """The entries' rows, in the order of `Entries`, the scale of each one's amount, and the
        documents that move none of the own accounts."""
        ours = set(own)
        rows: list[tuple[object, ...]] = []
        scales: list[int] = []
        foreign: list[Finding] = []
        # One object for each text that repeats (an account, a counterparty, a bank, a type): a
        # record reads a new str each time, and the ledger keeps its entries. Shared, they also
        # pickle once.
        shared: dict[Any, Any] = {}
        one = shared.setdefault
        reading = self.reading
        for doc, line in zip(reading.statement.documents, reading.document_lines(), strict=True):
            payer_account = doc.counterparty_account.strip()
            payer_ras = (doc.counterparty_ras_account or "").strip()
            payee_account = doc.payee_account.strip()
            payee_ras = (doc.payee_ras_account or "").strip()
            payer = one(payer_ras or payer_account, payer_ras or payer_account)
            payee = one(payee_ras or payee_account, payee_ras or payee_account)
            out_of = (
                payer_account if payer_account in ours else payer_ras if payer_ras in ours else None
            )
            into = (
                payee_account if payee_account in ours else payee_ras if payee_ras in ours else None
            )
            doc_type, number = one(doc.doc_type, doc.doc_type), doc.doc_number
            doc_date = self.day(doc.doc_date, line)
            if out_of is None and into is None:
                foreign.append(
                    finding(
                        self.label,
                        line,
                        "foreign",
                        f"{doc_type} № {number} of {doc.doc_date} from {payer} to {payee} "
                        "moves none of the "
                        f"statement's own accounts ({', '.join(own) or 'it names none'})",
                    )
                )
                continue
            units, scale = _units(doc.amount)
            purpose = doc.purpose
            payer_name = doc.counterparty or doc.counterparty_1 or doc.counterparty
            payer_side = (
                one(payer_name, payer_name),
                one(doc.counterparty_inn, doc.counterparty_inn),
                one(doc.counterparty_kpp, doc.counterparty_kpp),
                one(doc.counterparty_bank1, doc.counterparty_bank1),
                one(doc.counterparty_bic, doc.counterparty_bic),
            )
            payee_side = (
                one(doc.payee, doc.payee),
                one(doc.payee_inn, doc.payee_inn),
                one(doc.payee_kpp, doc.payee_kpp),
                one(doc.payee_bank1, doc.payee_bank1),
                one(doc.payee_bic, doc.payee_bic),
            )
            value = _value(doc.amount)
            key = document_key(doc_type, number, doc_date, payer, payee)
            sides = sides_of(
                (payer_side[1], payer_side[2], payer_side[4]),
                (payee_side[1], payee_side[2], payee_side[4]),
            )
            # A transfer into the account it leaves is in before out, as the ledger lists them.
            for own_account, direction, moved, (name, inn, kpp, bank, bic), their_account in (
                (into, "in", doc.income_date, payer_side, payer),
                (out_of, "out", doc.outcome_date, payee_side, payee),
            ):
                if own_account is None:
                    continue
                booked = doc_date if moved is None else self.day(moved, line)
                rows.append(
                    (
                        one(own_account, own_account),
                        direction,
                        booked,
                        units,
                        name,
                        inn,
                        kpp,
                        their_account,
                        bank,
                        bic,
                        purpose,
                        doc_type,
                        number,
                        doc_date,
                        line,
                        key,
                        value,
                        sides,
                    )
                )
                scales.append(scale)
        return rows, scales, foreign


def _turnovers(intervals: Sequence[Interval], entries: Entries, scale: int) -> list[Finding]:
    """Each interval's totals against the statement's own entries booked within its days."""
    booked: dict[tuple[str, str], tuple[list[int], list[int]]] = {}
    for account, direction, day, units in zip(
        entries.account, entries.direction, entries.booked, entries.amount, strict=True
    ):
        booked.setdefault((account, direction), ([], []))[0].append(day)
        booked[account, direction][1].append(units)
    sums: dict[tuple[str, str], tuple[list[int], list[int]]] = {}
    for key, (days, amounts) in booked.items():
        pairs = sorted(zip(days, amounts, strict=True))
        running = [0]
        for _, units in pairs:
            running.append(running[-1] + units)
        sums[key] = ([day for day, _ in pairs], running)
    found: list[Finding] = []
    for interval in intervals:
        for total, direction, what in (
            (interval.income, "in", "income"),
            (interval.expense, "out", "expense"),
        ):
            if total is None:
                continue
            days, running = sums.get((interval.account, direction), ([], [0]))
            summed = (
                running[bisect.bisect_right(days, interval.end)]
                - running[bisect.bisect_left(days, interval.start)]
            )
            if summed != total:
                period = f"{date_of(interval.start)}..{date_of(interval.end)}"
                found.append(
                    finding(
                        interval.file,
                        interval.line,
                        "turnover",
                        f"account {interval.account} {period}: {what} "
                        f"{amount_text(total, scale)}, but the statement's documents booked in "
                        f"the period add up to {amount_text(summed, scale)} "
                        f"(difference {amount_text(summed - total, scale)})",
                    )
                )
    return found
