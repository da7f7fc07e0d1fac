"""`write`: statements and payment orders in the format, checked before a byte is written.

The law: what `write` returns, `tarvik_py.parse` (for code page 866, `tarvik.read`) reads back as
the same header, accounts and documents. Whatever would break it is refused with a `WriteError`
that names the document or interval and the field. A whole `Reading` is written back with every
key the file held: the header's lines as they stood, and each section's keys that its record has
no field for. Where the law rests on how the reader reads,
the writer asks the reader: the order in which it lists an account's intervals, which intervals
it takes for one, and which encoding it takes the bytes for.
"""

from __future__ import annotations

import datetime
from collections.abc import Iterable, Mapping, Sequence
from typing import Final, Literal

import tarvik_py

from . import _encodings
from ._encodings import FileEncoding
from ._fields import ACCOUNT_NUMBER, DOCUMENT_FIELDS, INTERVAL_FIELDS, Field, Kind
from ._values import file_amount, file_date, file_date_order
from .reading import Reading, read

__all__ = ["WriteError", "write"]

DocumentLike = tarvik_py.Document | Mapping[str, object]
IntervalLike = tarvik_py.Interval | Mapping[str, object]
AccountsLike = Mapping[str, tarvik_py.Account | Iterable[IntervalLike]]
Direction = Literal["to_bank"]
# A section's lines, as (key, text) pairs.
Pairs = list[tuple[str, str]]

MARKER: Final = "1CClientBankExchange"
# The lines that open and close sections, and the file.
_ACCOUNT_OPEN: Final = "СекцияРасчСчет"
_ACCOUNT_CLOSE: Final = "КонецРасчСчет"
_DOCUMENT_CLOSE: Final = "КонецДокумента"
_FILE_END: Final = "КонецФайла"
FORMAT_VERSION: Final = "1.03"
DEFAULT_DOC_TYPE: Final = "Платежное поручение"
SENDER_KEY: Final = "Отправитель"
_EXTRA: Final = "extra"


def _written(fields: Iterable[Field]) -> tuple[Field, ...]:
    return tuple(sorted(fields, key=lambda f: f.written))


# Each section's fields in the order they are written; a document's opens with its type.
_DOCUMENT_WRITTEN: Final = _written(DOCUMENT_FIELDS)
_INTERVAL_WRITTEN: Final = _written((*INTERVAL_FIELDS, ACCOUNT_NUMBER))
_KEY: Final = {f.attr: f.key for f in DOCUMENT_FIELDS}
_DOC_TYPE: Final = _DOCUMENT_WRITTEN[0]
_DOCUMENT_ATTRS: Final = frozenset({f.attr for f in DOCUMENT_FIELDS} | {_EXTRA})
_INTERVAL_ATTRS: Final = frozenset({f.attr for f in INTERVAL_FIELDS} | {_EXTRA})
_INTERVAL_DATE_KEYS: Final = tuple(f.key for f in _INTERVAL_WRITTEN if f.kind is Kind.DATE)
_START_KEY: Final = {f.attr: f.key for f in INTERVAL_FIELDS}["date_start"]
# The field a line's key belongs to, for naming it when its text cannot be encoded.
_DOCUMENT_FIELD_OF_KEY: Final = {f.key: f.attr for f in DOCUMENT_FIELDS}
_INTERVAL_FIELD_OF_KEY: Final = {f.key: f.attr for f in _INTERVAL_WRITTEN}

# Payment orders sent to the bank must also carry who pays whom and how; a name may stand in
# its numbered key (`Плательщик1`, `Получатель1`) instead.
_TO_BANK_NAMES: Final = (("counterparty", "Плательщик1"), ("payee", "Получатель1"))
_TO_BANK_FILLED: Final = ("payment_type", "ordering")
_TO_BANK_PRESENT: Final = ("counterparty_cor_account", "payee_cor_account")


class WriteError(ValueError):
    """What `write` refuses, and where: `where` names the document, interval or header."""

    def __init__(self, where: str, field: str | None, reason: str) -> None:
        self.where = where
        self.field = field
        self.reason = reason
        place = f"{where}, field {field}" if field else where
        super().__init__(f"{place}: {reason}")


def write(
    documents: Iterable[DocumentLike] | Reading = (),
    *,
    accounts: AccountsLike | None = None,
    header: Mapping[str, str] | Sequence[tuple[str, str]] | None = None,
    encoding: FileEncoding | None = None,
    direction: Direction | None = None,
) -> bytes:
    """The bytes of a statement holding `documents` and the intervals of `accounts`.

    `documents` are `tarvik_py.Document` records or mappings keyed by their attribute names
    (dates as `datetime.date` or `YYYY-MM-DD`, amounts as `Decimal`, `int` or decimal text,
    `doc_type` "Платежное поручение" when left out), a mapping's `extra` holding other keys of the
    format. `accounts` maps an account number to its `tarvik_py.Account` or its intervals (an
    interval's mapping may have its `extra` too). `header` is written as given, a mapping or
    (key, text) pairs, repeats and all; without it one is made. `encoding` is "cp1251" unless
    given. `direction="to_bank"` also requires what a bank requires of a payment order. Raises
    WriteError (a ValueError) on the first thing that would not read back.

    `documents` may instead be a whole `Reading`, which brings its header and accounts: it is
    written back with every key the file held, in its own encoding unless `encoding` says
    another. A reading that left a section out (a warning) is refused: that section would be
    lost.
    """
    if isinstance(documents, Reading):
        if accounts is not None or header is not None:
            raise ValueError("a Reading brings its own header and accounts: give neither")
        reading = documents
        documents, accounts, header = _whole(reading)
        if encoding is None:
            if reading.encoding == "utf-16":
                raise ValueError(
                    "the statement was read from UTF-16, which is not written: give encoding "
                    f"as one of {', '.join(_encodings.DECLARED)}"
                )
            encoding = reading.encoding
    encoding = "cp1251" if encoding is None else encoding
    if encoding not in _encodings.DECLARED:
        raise ValueError(
            f"encoding must be one of {', '.join(_encodings.DECLARED)}, not {encoding!r}"
        )
    if direction not in (None, "to_bank"):
        raise ValueError(f"direction must be None or 'to_bank', not {direction!r}")
    to_bank = direction == "to_bank"

    # Each section is encoded as soon as it is checked, so only the bytes are held at once.
    made = header is None
    doc_chunks: list[bytes] = []
    doc_facts: list[tuple[str, str, str]] = []  # for a made header: type, date, payer's account
    for index, doc in enumerate(documents):
        pairs = _document(index, doc, to_bank)
        where = f"document {index}"
        doc_chunks.append(
            _encoded(where, encoding, pairs, after=[_DOCUMENT_CLOSE], fields=_DOCUMENT_FIELD_OF_KEY)
        )
        if made:
            values = dict(pairs)
            facts = (values[_KEY["doc_type"]], values[_KEY["doc_date"]])
            doc_facts.append((*facts, values[_KEY["counterparty_account"]]))
    books = [_account(number, intervals) for number, intervals in (accounts or {}).items()]
    account_chunks = [
        _encoded(
            f"account {number!r}, interval {index}",
            encoding,
            pairs,
            before=[_ACCOUNT_OPEN],
            after=[_ACCOUNT_CLOSE],
            fields=_INTERVAL_FIELD_OF_KEY,
        )
        for number, sections in books
        for index, pairs in sections
    ]
    if header is None:
        head = _made_header(doc_facts, books, encoding, to_bank)
    else:
        head = _given_header(header, encoding, to_bank)

    head_chunk = _encoded("header", encoding, head, before=[MARKER])
    if not account_chunks and not doc_chunks:
        raise WriteError(
            "file", None, "nothing to write: a statement needs an account or a document"
        )
    chunks = [head_chunk]
    chunks += account_chunks
    chunks += doc_chunks
    chunks.append(_encoded("file", encoding, [], before=[_FILE_END]))
    data = b"".join(chunks)
    documents_written = len(doc_chunks)
    del chunks, account_chunks, doc_chunks
    intervals_written = sum(len(sections) for _, sections in books)
    _check_read_back(data, encoding, documents_written, intervals_written)
    return data


def _whole(
    reading: Reading,
) -> tuple[list[dict[str, object]], dict[str, list[dict[str, object]]], list[tuple[str, str]]]:
    """A reading as `write` takes it: its documents and intervals as mappings with their
    `extra`, and its header's lines."""
    statement = reading.statement
    if statement.warnings:
        line, message = statement.warnings[0]
        raise WriteError(
            "file",
            None,
            f"the reading left {len(statement.warnings)} section(s) out (line {line}: {message}), "
            "which cannot be written back: write its records instead",
        )
    documents = [
        {**{f.attr: getattr(doc, f.attr) for f in DOCUMENT_FIELDS}, _EXTRA: extra}
        for doc, extra in zip(statement.documents, reading.document_extras(), strict=True)
    ]
    extras = reading.interval_extras()
    accounts = {
        number: [
            {**{f.attr: getattr(interval, f.attr) for f in INTERVAL_FIELDS}, _EXTRA: extra}
            for interval, extra in zip(account.intervals, extras[number], strict=True)
        ]
        for number, account in statement.accounts.items()
    }
    return documents, accounts, reading.header_lines()


def _document(index: int, doc: DocumentLike, to_bank: bool) -> Pairs:
    where = f"document {index}"
    extra: Mapping[str, object] = {}
    values: Mapping[str, object]
    if isinstance(doc, tarvik_py.Document):
        values = {f.attr: getattr(doc, f.attr) for f in DOCUMENT_FIELDS}
    elif isinstance(doc, Mapping):
        unknown = [k for k in doc if k not in _DOCUMENT_ATTRS]
        if unknown:
            raise WriteError(where, str(unknown[0]), "no such field (other keys go in 'extra')")
        values = {_DOC_TYPE.attr: DEFAULT_DOC_TYPE, **doc}
        raw_extra = doc.get(_EXTRA) or {}
        if not isinstance(raw_extra, Mapping):
            raise WriteError(where, _EXTRA, f"must be a mapping, not {type(raw_extra).__name__}")
        extra = raw_extra
    else:
        raise WriteError(
            where, None, f"must be a tarvik_py.Document or a mapping, not {type(doc).__name__}"
        )

    pairs = _field_pairs(where, _DOCUMENT_WRITTEN, values)
    pairs += _extra_pairs(where, extra, _DOCUMENT_FIELD_OF_KEY, "the document")
    if to_bank:
        _check_to_bank(where, values, extra)
    return pairs


def _field_pairs(where: str, fields: Sequence[Field], values: Mapping[str, object]) -> Pairs:
    pairs = []
    for f in fields:
        value = values.get(f.attr)
        if value is None:
            if f.required:
                raise WriteError(where, f.attr, f"missing: the reader requires {f.key}")
            continue
        try:
            if f.kind is Kind.DATE:
                text = file_date(value)
            elif f.kind is Kind.AMOUNT:
                text = file_amount(value)
            else:
                text = _text(where, f.attr, value)
        except (TypeError, ValueError) as exc:
            if isinstance(exc, WriteError):
                raise
            raise WriteError(where, f.attr, str(exc)) from None
        pairs.append((f.key, text))
    return pairs


def _text(where: str, field: str, value: object) -> str:
    if not isinstance(value, str):
        raise WriteError(where, field, f"must be str, not {type(value).__name__}")
    if "\n" in value or "\r" in value:
        raise WriteError(where, field, f"a line break cannot stand in a value: {value!r}")
    return value


def _extra_pairs(where: str, extra: object, fields: Mapping[str, str], of: str) -> Pairs:
    """The lines of a section's `extra`: keys its record has no field for (`fields`, by key)."""
    if not isinstance(extra, Mapping):
        raise WriteError(where, _EXTRA, f"must be a mapping, not {type(extra).__name__}")
    pairs = []
    for key, value in extra.items():
        field = f"extra[{key!r}]"
        if not isinstance(key, str):
            raise WriteError(where, field, f"a key must be str, not {type(key).__name__}")
        if "=" in key or "\n" in key or "\r" in key:
            raise WriteError(where, field, "a key cannot hold '=' or a line break")
        if key in fields:
            raise WriteError(where, field, f"{key} is a field of {of}: give it by its name")
        pairs.append((key, _text(where, field, value)))
    return pairs


def _check_to_bank(where: str, values: Mapping[str, object], extra: Mapping[str, object]) -> None:
    for attr, numbered in _TO_BANK_NAMES:
        if (
            not values.get(attr)
            and not extra.get(numbered)
            and not (attr == "counterparty" and values.get("counterparty_1"))
        ):
            raise WriteError(
                where, attr, f"a payment order to the bank needs a name (or {numbered})"
            )
    for attr in _TO_BANK_FILLED:
        if not values.get(attr):
            raise WriteError(where, attr, "a payment order to the bank needs it")
    for attr in _TO_BANK_PRESENT:
        if values.get(attr) is None:
            raise WriteError(where, attr, "a payment order to the bank needs it (it may be empty)")


def _interval_values(where: str, interval: object) -> Mapping[str, object]:
    if isinstance(interval, tarvik_py.Interval):
        return {f.attr: getattr(interval, f.attr) for f in INTERVAL_FIELDS}
    if isinstance(interval, Mapping):
        unknown = [k for k in interval if k not in _INTERVAL_ATTRS]
        if unknown:
            raise WriteError(where, str(unknown[0]), "no such field of an interval")
        return interval
    raise WriteError(
        where, None, f"must be a tarvik_py.Interval or a mapping, not {type(interval).__name__}"
    )


def _account(number: object, given: object) -> tuple[str, list[tuple[int, Pairs]]]:
    """The account's number, and its intervals' sections with their indexes as given, in the
    order to write them."""
    number = _text(f"account {number!r}", "number", number)
    intervals = given.intervals if isinstance(given, tarvik_py.Account) else given
    if not isinstance(intervals, Iterable) or isinstance(intervals, (str, bytes, Mapping)):
        raise WriteError(f"account {number!r}", None, "must be an Account or a list of intervals")
    sections: list[tuple[int, Pairs]] = []
    refused = None
    for index, interval in enumerate(intervals):
        where = f"account {number!r}, interval {index}"
        try:
            values = {**_interval_values(where, interval), ACCOUNT_NUMBER.attr: number}
            pairs = _field_pairs(where, _INTERVAL_WRITTEN, values)
            extra = values.get(_EXTRA) or {}
            pairs += _extra_pairs(where, extra, _INTERVAL_FIELD_OF_KEY, "the interval")
            sections.append((index, pairs))
        except WriteError as exc:
            refused = exc  # but an interval before it that repeats another is refused first
            break
    sections = _as_the_reader_lists(number, sections)
    if refused is not None:
        raise refused
    return number, sections


def _as_the_reader_lists(number: str, sections: list[tuple[int, Pairs]]) -> list[tuple[int, Pairs]]:
    """The sections in the order that makes the reader list the intervals as given, sorted by
    start date; a WriteError for the first that the reader would take for an earlier one.

    The reader is asked rather than imitated. Its order depends on the start dates alone, so it
    reads the sections sorted, and where it lists each one says where each must stand.
    """
    if len(sections) < 2:
        return sections
    wanted = sorted(sections, key=lambda s: file_date_order(dict(s[1])[_START_KEY]))
    listed = _listing(wanted)
    if len(listed) < len(wanted):
        _refuse_repeat(number, wanted, listed)
    # The reader lists at place i the section that came at place listed[i], so the one wanted
    # at place i is written there.
    out = list(wanted)
    for place, arrival in enumerate(listed):
        out[arrival] = wanted[place]
    return out


def _listing(sections: Sequence[tuple[int, Pairs]]) -> list[int]:
    """How the reader lists the intervals of `sections`, one account's: the place of each in
    `sections`, in the reader's order; a repeat it keeps once is listed once."""
    lines = [MARKER]
    place_at_line = {}
    for place, (_, pairs) in enumerate(sections):
        place_at_line[len(lines) + 1] = place
        lines += [_ACCOUNT_OPEN, *(f"{key}={text}" for key, text in pairs), _ACCOUNT_CLOSE]
    lines.append(_FILE_END)
    # Only the account's number may hold a character UTF-8 cannot encode, and it is the same in
    # every section; what the encoding cannot hold is said when the sections are encoded.
    data = ("\r\n".join(lines) + "\r\n").encode("utf-8", "replace")
    try:
        reading = read(data, repairs=False)
    except tarvik_py.ParseError as exc:
        raise WriteError("file", None, f"would not read back: {exc}") from exc
    return [place_at_line[line] for found in reading.interval_lines().values() for line in found]


def _refuse_repeat(number: str, wanted: list[tuple[int, Pairs]], listed: list[int]) -> None:
    """Raises for the first interval as given that the reader keeps only once with an earlier."""
    kept = set(listed)
    index, pairs = min(s for place, s in enumerate(wanted) if place not in kept)
    first = next(
        i
        for i, other in sorted(wanted)
        if i < index and len(_listing([(i, other), (index, pairs)])) == 1
    )
    raise WriteError(
        f"account {number!r}, interval {index}",
        None,
        f"repeats interval {first}, and the reader keeps one",
    )


def _given_header(
    header: Mapping[str, str] | Sequence[tuple[str, str]], encoding: FileEncoding, to_bank: bool
) -> Pairs:
    given = list(header.items()) if isinstance(header, Mapping) else list(header)
    if not all(isinstance(item, tuple) and len(item) == 2 for item in given):
        raise WriteError("header", None, "must be a mapping or a sequence of (key, text) pairs")
    pairs = []
    for key, value in given:
        where = "header"
        key = _text(where, repr(key), key)
        if "=" in key:
            raise WriteError(where, repr(key), "a key cannot hold '='")
        if key == _DOC_TYPE.key:
            raise WriteError(where, repr(key), "this key would open a document")
        pairs.append((key, _text(where, key, value)))
    last = dict(pairs)  # of a repeated key, the reader keeps the last
    declared = last.get(_encodings.ENCODING_KEY)
    if encoding == "cp866" and not (declared is not None and _encodings.declares_dos(declared)):
        raise WriteError(
            "header",
            _encodings.ENCODING_KEY,
            f"a cp866 file must declare {_encodings.ENCODING_KEY}=DOS, or its readers take it "
            "for another",
        )
    if to_bank and not last.get(SENDER_KEY):
        raise WriteError("header", SENDER_KEY, "a file to the bank names its sender")
    return pairs


def _made_header(
    docs: list[tuple[str, str, str]],
    books: list[tuple[str, list[tuple[int, Pairs]]]],
    encoding: FileEncoding,
    to_bank: bool,
) -> Pairs:
    now = datetime.datetime.now()
    head = [
        ("ВерсияФормата", FORMAT_VERSION),
        (_encodings.ENCODING_KEY, _encodings.DECLARED[encoding]),
        (SENDER_KEY, "tarvik"),
        ("Получатель", ""),
        ("ДатаСоздания", now.strftime("%d.%m.%Y")),
        ("ВремяСоздания", now.strftime("%H:%M:%S")),
    ]
    dates = [date for _, date, _ in docs]
    dates += [
        text
        for _, sections in books
        for _, pairs in sections
        for key, text in pairs
        if key in _INTERVAL_DATE_KEYS
    ]
    if dates:
        ordered = sorted(dates, key=file_date_order)
        head += [("ДатаНачала", ordered[0]), ("ДатаКонца", ordered[-1])]
    numbers = [number for number, _ in books]
    if not numbers and to_bank:
        numbers = list(dict.fromkeys(payer for _, _, payer in docs))
    head += [(ACCOUNT_NUMBER.key, number) for number in numbers]
    head += [("Документ", doc_type) for doc_type in dict.fromkeys(t for t, _, _ in docs)]
    return head


def _encoded(
    where: str,
    encoding: FileEncoding,
    pairs: Pairs,
    *,
    before: Sequence[str] = (),
    after: Sequence[str] = (),
    fields: Mapping[str, str] | None = None,
) -> bytes:
    """The lines `before`, `pairs` as `key=text` and `after`, encoded; a WriteError naming the
    field whose text the encoding cannot hold (by `fields`, its key; else the key itself)."""
    lines = [*before, *(f"{key}={text}" for key, text in pairs), *after]
    text = "\r\n".join(lines) + "\r\n"
    try:
        return _encodings.encode(text, encoding)
    except UnicodeEncodeError as exc:
        key = pairs[text.count("\r\n", 0, exc.start) - len(before)][0]
        field = key if fields is None else fields.get(key, f"extra[{key!r}]")
        char = text[exc.start]
        raise WriteError(
            where, field, f"{encoding} cannot hold {char!r} (U+{ord(char):04X})"
        ) from None


def _check_read_back(data: bytes, encoding: FileEncoding, documents: int, intervals: int) -> None:
    """A last look through the reader itself: it must take the bytes for `encoding`, and read
    every section written."""
    try:
        reading = read(data, repairs=False)
    except tarvik_py.ParseError as exc:
        if encoding == "cp1251" and isinstance(exc, tarvik_py.NotStatementError):
            sample = _encodings.decode(data[: _encodings.PLAUSIBLE_SAMPLE], encoding)
            found = _encodings.odd_characters(sample)
            if found is not None:
                odd, size = found
                raise WriteError(
                    "file",
                    None,
                    f"{sum(odd.values())} of its first {size} characters are neither ASCII nor "
                    "from U+0400 up (no-break spaces, guillemets, signs), too many for readers "
                    "to recognise Windows-1251: write it as utf-8",
                ) from None
        raise WriteError("file", None, f"would not read back: {exc}") from exc
    if reading.encoding != encoding and not data.isascii():
        raise WriteError(
            "file",
            None,
            "its Windows-1251 bytes also form UTF-8, and readers take them for UTF-8: write it as "
            "utf-8"
            if encoding == "cp1251"
            else f"readers take its bytes for {reading.encoding}, not {encoding}",
        )
    statement = reading.statement
    read_intervals = sum(len(a.intervals) for a in statement.accounts.values())
    if statement.warnings or len(statement.documents) != documents or read_intervals != intervals:
        raise WriteError(
            "file",
            None,
            f"would read back as {len(statement.documents)} documents and "
            f"{read_intervals} intervals, not {documents} and {intervals}: "
            f"{statement.warnings[:1]}",
        )
