#!/usr/bin/env python3
"""Writes synthetic 1CClientBankExchange statements for benchmarks.

Two families of files:

* ``--shape realistic`` (the default): what a bank's export looks like. A header with the
  lines real exports carry, account sections for several accounts over consecutive periods
  with chained balances, and document sections of several types carrying the keys the parser
  reads together with the keys it ignores (tax fields, bank cities, priority and so on).
  Cyrillic names and purposes, quotes of every kind, the numero sign, 20-digit accounts,
  9-digit BIKs, 10- and 12-digit INNs. ``--defective-share`` turns a share of the documents
  into ones the parser must drop with a warning (a missing required key, a bad amount, a bad
  or empty date); their number is written to the ``.json`` file beside the output.
* pathological shapes for timing only: ``accounts``, ``tiny-docs``, ``long-line``,
  ``many-keys``, ``same-start``, ``header-keys``, ``blank-lines`` (see SHAPES).

Output is deterministic for a given set of arguments. Lines end in CR LF. Files are written in
big chunks from a pool of pre-rendered documents, so 100 MB takes a few seconds.

    python3 bench/gen_statements.py --size-mb 100 --encoding cp1251 -o build/bench-data/x.txt
"""

from __future__ import annotations

import argparse
import datetime as dt
import json
import random
import sys
from collections.abc import Callable, Iterator
from dataclasses import asdict, dataclass, field
from pathlib import Path

CRLF = "\r\n"
MB = 1_000_000
CHUNK_DOCS = 2000  # documents encoded and written at once

SHAPES = {
    # Counts are those of the default --size-mb 100 and scale with it.
    "realistic": "a bank's export: header, account sections, documents of several types",
    "accounts": "100,000 account sections of one account, one day each",
    "tiny-docs": "1,000,000 document sections without attributes, each dropped with a warning",
    "long-line": "one document whose purpose is a single line of --size-mb megabytes",
    "many-keys": "one document section with 100,000 distinct extra keys",
    "same-start": "300,000 account sections of one account, all opening on one day",
    "header-keys": "a header of 1,500,000 distinct keys, then one document",
    "blank-lines": "a header, --size-mb megabytes of blank lines, one document",
}

# The thirteen keys a document cannot do without, in the order the parser checks them.
REQUIRED_KEYS = (
    "Номер",
    "Дата",
    "НазначениеПлатежа",
    "Сумма",
    "ПлательщикИНН",
    "ПлательщикБИК",
    "ПлательщикБанк1",
    "ПлательщикСчет",
    "ПолучательИНН",
    "ПолучательСчет",
    "ПолучательБИК",
    "ПолучательБанк1",
)

DOC_TYPES = (
    # weight, type
    (70, "Платежное поручение"),
    (12, "Банковский ордер"),
    (6, "Мемориальный ордер"),
    (5, "Платежное требование"),
    (4, "Инкассовое поручение"),
    (3, "Платежный ордер"),
)

BANKS = (
    # name, city, BIK, correspondent account
    ("ПАО СБЕРБАНК", "г. Москва", "044525225", "30101810400000000225"),
    ('АО "АЛЬФА-БАНК"', "г. Москва", "044525593", "30101810200000000593"),
    ("Банк ВТБ (ПАО)", "г. Москва", "044525187", "30101810700000000187"),
    ('АО "ТИНЬКОФФ БАНК"', "г. Москва", "044525974", "30101810145250000974"),
    ('ПАО "ПРОМСВЯЗЬБАНК"', "г. Москва", "044525555", "30101810400000000555"),
    ("ФИЛИАЛ «ЦЕНТРАЛЬНЫЙ» ПАО «СОВКОМБАНК»", "г. Бердск", "045004763", "30101810150040000763"),
    ('СИБИРСКИЙ БАНК ПАО СБЕРБАНК', "г. Новосибирск", "045004641", "30101810500000000641"),
    ('ПАО "БАНК "САНКТ-ПЕТЕРБУРГ"', "г. Санкт-Петербург", "044030790", "30101810900000000790"),
    ('УФК по г. Москве', "г. Москва", "004525988", "40102810545370000003"),
)

ORG_FORMS = ("ООО", "АО", "ПАО", "ЗАО", "ИП")
ORG_WORDS = (
    "Ромашка", "Вектор", "Северсталь-Инвест", "ТехноСнаб", "Альфа Логистик", "Уральские Самоцветы",
    "Стройресурс", "Гермес", "Диалог", "Меридиан", "Восток-Сервис", "Кондитерская фабрика Заря",
    "Торговый дом Волга", "Агрокомплекс Кубань", "Медтехника", "ПромЭнергоКомплект",
)
PERSONS = (
    "Иванов Иван Иванович", "Петрова Анна Сергеевна", "Сидоров Пётр Алексеевич",
    "Кузнецова Мария Викторовна", "Смирнов Алексей Юрьевич", "Фёдорова Ольга Николаевна",
)
PURPOSES = (
    "Оплата по счету № {inv} от {date} за поставку товара. Сумма {amount}, в т.ч. НДС (20%) {vat}",
    "Оплата по договору № {inv}/{year}-П от {date} за оказанные услуги. НДС не облагается",
    "Перечисление заработной платы за {month} {year} г. по реестру № {inv}. Без налога (НДС)",
    "Возврат излишне перечисленных средств по счету № {inv} от {date}, без НДС",
    "Комиссия за ведение счета за {month} {year} г. Без налога (НДС)",
    "Налог на доходы физических лиц за {month} {year} г.",
    "Страховые взносы на обязательное пенсионное страхование за {month} {year} г.",
    "Оплата по счёту-фактуре № {inv} от {date} — аренда помещения «Офис 12», в т.ч. НДС {vat}",
    'Предоплата по договору поставки № {inv} от {date} (спецификация № 3), "срочно"',
    "Выдача кредита по договору № {inv}-КЛ от {date}. НДС не облагается",
    "Уплата процентов по кредитному договору № {inv} за {month} {year} г.",
    "Поступление средств по эквайрингу за {date}, договор № {inv}. Комиссия {vat} руб.",
)
MONTHS = (
    "январь", "февраль", "март", "апрель", "май", "июнь",
    "июль", "август", "сентябрь", "октябрь", "ноябрь", "декабрь",
)
KBK = ("18210102010011000110", "18210202010061010160", "18210301000011000110")


@dataclass
class Meta:
    """What a generated file holds, written beside it as JSON for the benchmark to check."""

    shape: str
    encoding: str
    seed: int
    bytes: int = 0
    lines: int = 0
    accounts: int = 0
    account_sections: int = 0
    documents: int = 0  # document sections, defective ones included
    defective: int = 0  # documents the parser must drop with a warning
    defects: dict = field(default_factory=dict)  # defect_class(warning message) -> count
    note: str = ""


def fmt_date(d: dt.date) -> str:
    return f"{d.day:02d}.{d.month:02d}.{d.year:04d}"


def digits(rng: random.Random, n: int) -> str:
    return str(rng.randrange(10 ** (n - 1), 10**n))


class Output:
    """Encodes and writes text in big pieces, counting bytes and lines."""

    def __init__(self, path: Path, encoding: str, meta: Meta):
        self.file = open(path, "wb")
        self.encoding = encoding
        self.meta = meta

    def write(self, text: str) -> None:
        data = text.encode(self.encoding)
        self.file.write(data)
        self.meta.bytes += len(data)
        self.meta.lines += data.count(b"\n")

    def write_bytes(self, data: bytes) -> None:
        self.file.write(data)
        self.meta.bytes += len(data)
        self.meta.lines += data.count(b"\n")

    def close(self) -> None:
        self.file.close()


def lines(pairs) -> str:
    return "".join(f"{k}={v}{CRLF}" for k, v in pairs)


def header(rng: random.Random, encoding: str, start: dt.date, end: dt.date, accounts) -> str:
    pairs = [
        ("ВерсияФормата", "1.03"),
        ("Кодировка", "Windows" if encoding == "cp1251" else "UTF-8"),
        ("Отправитель", "Бухгалтерия предприятия, редакция 3.0"),
        ("Получатель", "СББОЛ"),
        ("ДатаСоздания", fmt_date(end + dt.timedelta(days=1))),
        ("ВремяСоздания", f"{rng.randrange(8, 20):02d}:{rng.randrange(60):02d}:"
                          f"{rng.randrange(60):02d}"),
        ("ДатаНачала", fmt_date(start)),
        ("ДатаКонца", fmt_date(end)),
    ]
    # Real exports repeat the key once per account; the parser keeps the last value.
    pairs += [("РасчСчет", number) for number in accounts]
    pairs += [("Документ", "Платежное поручение"), ("Документ", "Банковский ордер")]
    return "1CClientBankExchange" + CRLF + lines(pairs)


def amount_text(kopecks: int) -> str:
    return f"{kopecks // 100}.{kopecks % 100:02d}"


def account_section(number: str, start: dt.date, end: dt.date, balance: int, income: int,
                    expense: int) -> str:
    return (
        "СекцияРасчСчет" + CRLF
        + lines((
            ("ДатаНачала", fmt_date(start)),
            ("ДатаКонца", fmt_date(end)),
            ("РасчСчет", number),
            ("НачальныйОстаток", amount_text(balance)),
            ("ВсегоПоступило", amount_text(income)),
            ("ВсегоСписано", amount_text(expense)),
            ("КонечныйОстаток", amount_text(balance + income - expense)),
        ))
        + "КонецРасчСчет" + CRLF
    )


class Party:
    def __init__(self, rng: random.Random, account: str | None = None):
        form = rng.choice(ORG_FORMS)
        if form == "ИП":
            self.name = "ИП " + rng.choice(PERSONS)
            self.inn, self.kpp = digits(rng, 12), ""
        else:
            word = rng.choice(ORG_WORDS)
            quoting = rng.randrange(4)
            if quoting == 0:
                word = f'"{word}"'
            elif quoting == 1:
                word = f'""{word}""'  # doubled quotes, as some exporters write them
            elif quoting == 2:
                word = f"«{word}»"
            self.name = f"{form} {word}"
            self.inn = digits(rng, 10)
            self.kpp = self.inn[:4] + rng.choice(("01001", "43001", "50001"))
        self.account = account or "40702810" + digits(rng, 12)
        self.bank = rng.choice(BANKS)


def document_pairs(rng: random.Random, ours: Party, dates: list[str], tax: bool):
    """One document's lines as (key, value) pairs, with format slots for the number {0}, the
    date {1}, the amount {2} and the debit or credit date {3}, which vary per copy."""
    weights = [w for w, _ in DOC_TYPES]
    doc_type = rng.choices([t for _, t in DOC_TYPES], weights)[0]
    other = Party(rng)
    outgoing = rng.random() < 0.5
    payer, payee = (ours, other) if outgoing else (other, ours)
    when = rng.choice(dates)
    kopecks = rng.randrange(100, 50_000_000)
    values = {
        "inv": rng.randrange(1, 9999),
        "date": when,
        "year": when[-4:],
        "month": rng.choice(MONTHS),
        "amount": amount_text(kopecks).replace(".", "-"),
        "vat": amount_text(kopecks // 6),
    }
    purpose = rng.choice(PURPOSES).format(**values)
    pairs = [
        ("Номер", "{0}"),
        ("Дата", "{1}"),
        ("Сумма", "{2}"),
        ("ПлательщикСчет", payer.account),
        ("ДатаСписано", "{3}" if outgoing else ""),
        ("Плательщик", f"ИНН {payer.inn} {payer.name}"),
        ("ПлательщикИНН", payer.inn),
        ("ПлательщикКПП", payer.kpp),
        ("Плательщик1", payer.name),
        ("ПлательщикРасчСчет", payer.account),
        ("ПлательщикБанк1", payer.bank[0]),
        ("ПлательщикБанк2", payer.bank[1]),
        ("ПлательщикБИК", payer.bank[2]),
        ("ПлательщикКорсчет", payer.bank[3]),
        ("ПолучательСчет", payee.account),
        ("ДатаПоступило", "" if outgoing else "{3}"),
        ("Получатель", f"ИНН {payee.inn} {payee.name}"),
        ("ПолучательИНН", payee.inn),
        ("ПолучательКПП", payee.kpp),
        ("Получатель1", payee.name),
        ("ПолучательРасчСчет", payee.account),
        ("ПолучательБанк1", payee.bank[0]),
        ("ПолучательБанк2", payee.bank[1]),
        ("ПолучательБИК", payee.bank[2]),
        ("ПолучательКорсчет", payee.bank[3]),
        ("ВидПлатежа", rng.choice(("", "электронно", "срочно"))),
        ("ВидОплаты", rng.choice(("01", "01", "06", "16", "17"))),
        ("Код", "0" if not tax else digits(rng, 20)),
        ("КодНазПлатежа", ""),
        ("СтатусСоставителя", "01" if tax else ""),
        ("ПоказательКБК", rng.choice(KBK) if tax else ""),
        ("ОКАТО", digits(rng, 8) if tax else ""),
        ("ПоказательОснования", "ТП" if tax else ""),
        ("ПоказательПериода", f"МС.{rng.randrange(1, 13):02d}.{when[-4:]}" if tax else ""),
        ("ПоказательНомера", "0" if tax else ""),
        ("ПоказательДаты", when if tax else ""),
        ("ПоказательТипа", ""),
        ("Очередность", "5" if not tax else "3"),
        ("СрокАкцепта", ""),
        ("ВидАккредитива", ""),
        ("СрокПлатежа", ""),
        ("УсловиеОплаты1", ""),
        ("ПлатежПоПредст", ""),
        ("ДополнУсловия", ""),
        ("НомерСчетаПоставщика", ""),
        ("ДатаОтсылкиДок", ""),
        ("НазначениеПлатежа", purpose),
        ("НазначениеПлатежа1", purpose[:210]),
    ]
    return doc_type, pairs


def render(doc_type: str, pairs) -> str:
    return f"СекцияДокумент={doc_type}{CRLF}{lines(pairs)}КонецДокумента{CRLF}"


def missing_field(key: str) -> str:
    return f"missing field `{key}`"


def bad_amount_message(value: str) -> str:
    return ('invalid value: string "' + value
            + '", expected a Decimal type representing a fixed-point number')


AMOUNT_DEFECT = bad_amount_message("...")


def defect_class(message: str) -> str:
    """The warning text, with the value left out of an amount message so that they count as one."""
    return AMOUNT_DEFECT if message.startswith('invalid value: string "') else message


def write_realistic(out: Output, args, rng: random.Random) -> None:
    meta = out.meta
    target = int(args.size_mb * MB)
    start = dt.date(2024, 1, 1)
    periods = args.periods
    if args.account_share:
        # An account section takes about 200 characters, a Cyrillic one 2 bytes in UTF-8.
        per_section = 200 if out.encoding == "cp1251" else 300
        periods = max(1, int(target * args.account_share / per_section / args.accounts))
    period_days = max(1, 366 // periods)
    end = start + dt.timedelta(days=period_days * periods - 1)
    ours = [Party(rng) for _ in range(args.accounts)]
    numbers = [p.account for p in ours]

    out.write(header(rng, out.encoding, start, end, numbers))
    pieces = []
    for party in ours:
        balance = rng.randrange(0, 10**10)
        for i in range(periods):
            income, expense = rng.randrange(0, 10**9), rng.randrange(0, 10**9)
            expense = min(expense, balance + income)
            day = start + dt.timedelta(days=i * period_days)
            pieces.append(account_section(party.account, day,
                                          day + dt.timedelta(days=period_days - 1), balance,
                                          income, expense))
            balance += income - expense
            if len(pieces) >= CHUNK_DOCS:
                out.write("".join(pieces))
                pieces.clear()
    out.write("".join(pieces))
    meta.accounts = len(ours)
    meta.account_sections = len(ours) * periods

    all_dates = [fmt_date(start + dt.timedelta(days=i)) for i in range((end - start).days + 1)]
    dates = all_dates[:: max(1, len(all_dates) // 400)]
    pool = []
    for i in range(args.pool):
        doc_type, pairs = document_pairs(rng, rng.choice(ours), dates, tax=i % 10 == 0)
        pool.append((doc_type, pairs, render(doc_type, pairs)))

    footer = "КонецФайла" + CRLF
    number = 0
    defect_kinds = ("missing", "amount", "date", "empty-date")
    limit = target - len(footer.encode(out.encoding))
    average = sum(len(t.encode(out.encoding)) for _, _, t in pool) / len(pool)
    while out.meta.bytes < limit:
        chunk = []
        for _ in range(min(CHUNK_DOCS, 1 + int((limit - out.meta.bytes) / average))):
            number += 1
            doc_type, pairs, template = pool[number % len(pool)]
            when = dates[(number * 7919) % len(dates)]
            kopecks = (number * 104729) % 5_000_000_00 + 1
            amount = amount_text(kopecks) if number % 50 else str(kopecks // 100)
            slots = [str(number % 100000), when, amount, when]
            if args.defective_share and rng.random() < args.defective_share:
                kind = defect_kinds[meta.defective % len(defect_kinds)]
                if kind == "missing":
                    turn = meta.defective // len(defect_kinds)
                    key = REQUIRED_KEYS[turn % len(REQUIRED_KEYS)]
                    template = render(doc_type, [p for p in pairs if p[0] != key])
                    message = missing_field(key)
                elif kind == "amount":
                    slots[2] = f"{kopecks // 100:,}".replace(",", " ") + f",{kopecks % 100:02d}"
                    message = bad_amount_message(slots[2])
                elif kind == "date":
                    slots[1] = "30.02." + when[-4:]
                    message = "input is out of range"
                else:
                    slots[1] = ""
                    message = "empty string is not a valid date"
                meta.defective += 1
                message = defect_class(message)
                meta.defects[message] = meta.defects.get(message, 0) + 1
            chunk.append(template.format(*slots))
        meta.documents += len(chunk)
        out.write("".join(chunk))
    out.write(footer)


def write_one_account(out: Output, rng: random.Random, first: dt.date, last: dt.date,
                      sections: Callable[[str], Iterator[str]]) -> None:
    """A header for one account, then its sections as `sections` makes them for that number."""
    number = "40702810" + digits(rng, 12)
    out.write(header(rng, out.encoding, first, last, [number]))
    count, pieces = 0, []
    for section in sections(number):
        pieces.append(section)
        if len(pieces) >= 10 * CHUNK_DOCS:
            count += len(pieces)
            out.write("".join(pieces))
            pieces.clear()
    count += len(pieces)
    out.write("".join(pieces) + "КонецФайла" + CRLF)
    out.meta.accounts, out.meta.account_sections = 1, count


def write_accounts(out: Output, args, rng: random.Random) -> None:
    count = args.count or max(1, int(100_000 * args.size_mb / 100))
    start = dt.date(1800, 1, 1)

    def sections(number: str) -> Iterator[str]:
        balance = 10**8
        for i in range(count):
            income, expense = (i * 7919) % 10**7, (i * 104729) % 10**7
            day = start + dt.timedelta(days=i)
            yield account_section(number, day, day, balance, income, expense)
            balance += income - expense

    write_one_account(out, rng, start, start + dt.timedelta(days=count - 1), sections)


def write_same_start(out: Output, args, rng: random.Random) -> None:
    count = args.count or max(1, int(300_000 * args.size_mb / 100))
    start = dt.date(2024, 1, 1)

    def sections(number: str) -> Iterator[str]:
        # Figures differ, so no section repeats another and each is filed among the rest.
        for i in range(count):
            yield account_section(number, start, start, 10**8 + i, i % 1000, i % 777)

    write_one_account(out, rng, start, start, sections)


def write_header_keys(out: Output, args, rng: random.Random) -> None:
    count = args.count or max(1, int(1_500_000 * args.size_mb / 100))
    start = dt.date(2024, 1, 1)
    out.write(header(rng, out.encoding, start, start, []))
    step = 50_000
    for first in range(0, count, step):
        out.write("".join(f"ДопКлюч{i:08d}=значение {i}{CRLF}"
                          for i in range(first, min(count, first + step))))
    out.write(minimal_document(1) + "КонецФайла" + CRLF)
    out.meta.documents = 1


def minimal_document(number: int, purpose: str = "Оплата по счету № 1") -> str:
    return render("Платежное поручение", (
        ("Номер", str(number)), ("Дата", "05.03.2024"), ("Сумма", "15000.00"),
        ("НазначениеПлатежа", purpose),
        ("ПлательщикИНН", "7701234567"), ("ПлательщикБИК", "044525225"),
        ("ПлательщикБанк1", "ПАО СБЕРБАНК"), ("ПлательщикСчет", "40702810900000012345"),
        ("ПолучательИНН", "5029012345"), ("ПолучательСчет", "40702810138000004321"),
        ("ПолучательБИК", "044525225"), ("ПолучательБанк1", "ПАО СБЕРБАНК"),
    ))


def write_tiny_docs(out: Output, args, rng: random.Random) -> None:
    count = args.count or max(1, int(1_000_000 * args.size_mb / 100))
    start = dt.date(2024, 1, 1)
    out.write(header(rng, out.encoding, start, start, []))
    block = ("СекцияДокумент=" + CRLF + "КонецДокумента" + CRLF).encode(out.encoding)
    step = 100_000
    for done in range(0, count, step):
        out.write_bytes(block * min(step, count - done))
    out.write("КонецФайла" + CRLF)
    out.meta.documents = out.meta.defective = count
    out.meta.defects = {missing_field("Номер"): count}


def write_long_line(out: Output, args, rng: random.Random) -> None:
    start = dt.date(2024, 1, 1)
    out.write(header(rng, out.encoding, start, start, []))
    prefix, suffix = minimal_document(1, "\x00").split("\x00")
    out.write(prefix)
    unit = "Оплата по счету № 12 от 05.03.2024, НДС 20% — «срочно». ".encode(out.encoding)
    target = int(args.size_mb * MB)
    piece = unit * max(1, (8 * MB) // len(unit))
    while out.meta.bytes + len(piece) < target:
        out.write_bytes(piece)
    out.write_bytes(unit * max(0, (target - out.meta.bytes) // len(unit)))
    out.write(suffix + "КонецФайла" + CRLF)
    out.meta.documents = 1


def write_many_keys(out: Output, args, rng: random.Random) -> None:
    count = args.count or max(1, int(100_000 * args.size_mb / 100))
    start = dt.date(2024, 1, 1)
    out.write(header(rng, out.encoding, start, start, []))
    prefix, suffix = minimal_document(1).split("КонецДокумента")
    out.write(prefix)
    step = 50_000
    for first in range(0, count, step):
        out.write("".join(f"ДопРеквизит{i:07d}=значение {i}{CRLF}"
                          for i in range(first, min(count, first + step))))
    out.write("КонецДокумента" + suffix + "КонецФайла" + CRLF)
    out.meta.documents = 1


def write_blank_lines(out: Output, args, rng: random.Random) -> None:
    start = dt.date(2024, 1, 1)
    out.write(header(rng, out.encoding, start, start, []))
    # Mostly empty lines, some holding only spaces or a tab, as editors leave them.
    unit = (CRLF * 13 + "  " + CRLF + "\t" + CRLF).encode(out.encoding)
    target = int(args.size_mb * MB)
    piece = unit * ((8 * MB) // len(unit))
    while out.meta.bytes + len(piece) < target:
        out.write_bytes(piece)
    out.write_bytes(unit * max(0, (target - out.meta.bytes) // len(unit)))
    out.write(minimal_document(1) + "КонецФайла" + CRLF)
    out.meta.documents = 1


WRITERS = {
    "realistic": write_realistic,
    "accounts": write_accounts,
    "tiny-docs": write_tiny_docs,
    "long-line": write_long_line,
    "many-keys": write_many_keys,
    "same-start": write_same_start,
    "header-keys": write_header_keys,
    "blank-lines": write_blank_lines,
}


def generate(args) -> Meta:
    """Writes the file `args.output` and its `.json` description; returns the description."""
    encoding = {"utf-8": "utf-8", "utf8": "utf-8", "cp1251": "cp1251"}[args.encoding.lower()]
    meta = Meta(shape=args.shape, encoding=encoding, seed=args.seed, note=SHAPES[args.shape])
    path = Path(args.output)
    path.parent.mkdir(parents=True, exist_ok=True)
    out = Output(path, encoding, meta)
    try:
        WRITERS[args.shape](out, args, random.Random(args.seed))
    finally:
        out.close()
    Path(str(path) + ".json").write_text(json.dumps(asdict(meta), ensure_ascii=False, indent=1),
                                         encoding="utf-8")
    return meta


def argument_parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("-o", "--output", required=True, help="file to write")
    p.add_argument("--shape", choices=sorted(SHAPES), default="realistic")
    p.add_argument("--encoding", choices=("cp1251", "utf-8"), default="cp1251")
    p.add_argument("--size-mb", type=float, default=100.0,
                   help="target size in megabytes (10^6 bytes); shapes with a fixed count "
                   "scale it by size/100 (default 100)")
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--accounts", type=int, default=3, help="realistic: accounts (default 3)")
    p.add_argument("--periods", type=int, default=12,
                   help="realistic: consecutive account sections per account (default 12)")
    p.add_argument("--account-share", type=float, default=0.0,
                   help="realistic: choose --periods so that account sections take about this "
                   "share of the size (account-heavy statements)")
    p.add_argument("--defective-share", type=float, default=0.0,
                   help="realistic: share of documents made defective (default 0)")
    p.add_argument("--pool", type=int, default=4096,
                   help="realistic: distinct documents to vary (default 4096)")
    p.add_argument("--count", type=int, default=0,
                   help="accounts, tiny-docs, many-keys: override the count")
    return p


def main(argv=None) -> int:
    args = argument_parser().parse_args(argv)
    if not 0.0 <= args.defective_share <= 1.0:
        sys.exit("--defective-share must lie in 0..1")
    meta = generate(args)
    print(json.dumps(asdict(meta), ensure_ascii=False))
    return 0


if __name__ == "__main__":
    sys.exit(main())
