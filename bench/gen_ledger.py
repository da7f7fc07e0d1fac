#!/usr/bin/env python3
"""Statements written with tarvik.write from a known ledger, for the ledger's tests and benchmark.

A known ledger is a group of own accounts over some days: an opening balance each, payments in
from outside and out to outside, bank fees (several of one day under one number), transfers
between the own accounts, and now and then a payment made twice alike. Each payment is booked
by the payer's bank on the day it leaves (`ДатаСписано`) and by the payee's on the day it
arrives (`ДатаПоступило`), which may be later; some documents give no such date and are booked
on their own. Some name an account through a correspondent: `ПолучательСчет` the bank's,
`ПолучательРасчСчет` the client's.

A statement is a plan: its accounts, its period, one account section per day or one for the
whole period, and its encoding. It holds every document booked on its accounts in its period,
with the right turnovers and balances; its header declares the period and lists each account.

    python3 bench/gen_ledger.py --files 300 -o build/ledger-data     # about 20 KB a file

writes the files and, beside the folder, `ledger-data.json`: how many entries and balance days
the ledger of them must give.
"""

from __future__ import annotations

import argparse
import dataclasses
import datetime
import decimal
import json
import random
import sys
from collections.abc import Iterator, Sequence
from dataclasses import dataclass, field
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import gen_statements as vocabulary  # noqa: E402

import tarvik  # noqa: E402

ENCODINGS = ("cp1251", "utf-8", "cp866")
DECLARED = {"cp1251": "Windows", "utf-8": "Windows", "cp866": "DOS"}  # UTF-8 files say Windows too
OUR_INN, OUR_KPP, OUR_NAME = "7701234567", "770101001", 'ООО "Ладога-Трейд"'
ONE_DAY = datetime.timedelta(days=1)


@dataclass(frozen=True)
class Payment:
    """One document, and the own accounts it moves: the one it leaves and when, the one it
    arrives on and when."""

    document: dict[str, object]  # as tarvik.write takes it
    out_of: str | None
    paid: datetime.date | None
    into: str | None
    received: datetime.date | None


@dataclass
class Known:
    """A known ledger: own accounts, the days it spans, their opening balances and payments."""

    accounts: list[str]
    first: datetime.date
    last: datetime.date
    opening: dict[str, decimal.Decimal]
    payments: list[Payment] = field(default_factory=list)

    def entries(self) -> list[tuple[object, ...]]:
        """Each entry the ledger must give, as (account, direction, booked, amount, signed,
        counterparty_name, counterparty_inn, counterparty_kpp, counterparty_account,
        counterparty_bank, counterparty_bic, purpose, doc_type, doc_number, doc_date)."""
        out = []
        for p in self.payments:
            d = p.document
            head = (d["purpose"], d.get("doc_type", "Платежное поручение"), d["doc_number"], d["doc_date"])
            payee_account = d.get("payee_ras_account") or d["payee_account"]
            payer_account = d.get("counterparty_ras_account") or d["counterparty_account"]
            if p.out_of is not None:
                amount = d["amount"]
                other = (d.get("payee"), d["payee_inn"], d.get("payee_kpp"), payee_account, d["payee_bank1"],
                         d["payee_bic"])
                out.append((p.out_of, "out", p.paid, amount, -amount, *other, *head))
            if p.into is not None:
                other = (d.get("counterparty"), d["counterparty_inn"], d.get("counterparty_kpp"), payer_account,
                         d["counterparty_bank1"], d["counterparty_bic"])
                out.append((p.into, "in", p.received, d["amount"], d["amount"], *other, *head))
        return out

    def days(self) -> dict[tuple[str, datetime.date], tuple[decimal.Decimal, decimal.Decimal]]:
        """Money in and out of each account on each day of the span."""
        zero = decimal.Decimal("0.00")
        out = {(a, day): (zero, zero) for a in self.accounts for day in _days(self.first, self.last)}
        for p in self.payments:
            amount = p.document["amount"]
            assert isinstance(amount, decimal.Decimal)
            if p.out_of is not None:
                income, expense = out[p.out_of, p.paid]
                out[p.out_of, p.paid] = (income, expense + amount)
            if p.into is not None:
                income, expense = out[p.into, p.received]
                out[p.into, p.received] = (income + amount, expense)
        return out

    def balances(self) -> dict[tuple[str, datetime.date], tuple[decimal.Decimal, ...]]:
        """(opening, income, expense, closing) of each account on each day of the span."""
        days = self.days()
        out = {}
        for account in self.accounts:
            balance = self.opening[account]
            for day in _days(self.first, self.last):
                income, expense = days[account, day]
                out[account, day] = (balance, income, expense, balance + income - expense)
                balance += income - expense
        return out


def _days(first: datetime.date, last: datetime.date) -> Iterator[datetime.date]:
    day = first
    while day <= last:
        yield day
        day += ONE_DAY


def _plain(text: str) -> str:
    """The text with what code page 866 lacks written as it has it, so any encoding holds it."""
    return text.translate(str.maketrans({"«": '"', "»": '"', "—": "-"}))


def _party(rng: random.Random) -> dict[str, str]:
    bank = tuple(_plain(t) for t in rng.choice(vocabulary.BANKS))
    if rng.random() < 0.2:
        name, inn, kpp = "ИП " + rng.choice(vocabulary.PERSONS), vocabulary.digits(rng, 12), ""
    else:
        name = f'{rng.choice(vocabulary.ORG_FORMS[:4])} "{rng.choice(vocabulary.ORG_WORDS)}"'
        inn = vocabulary.digits(rng, 10)
        kpp = inn[:4] + "01001"
    return {"name": name, "inn": inn, "kpp": kpp, "account": "40702810" + vocabulary.digits(rng, 12),
            "bank": bank[0], "bic": bank[2], "corr": bank[3]}


def _side(prefix: str, party: dict[str, str], through_correspondent: bool) -> dict[str, object]:
    side: dict[str, object] = {
        f"{prefix}_inn": party["inn"],
        f"{prefix}_kpp": party["kpp"],
        f"{prefix}_bic": party["bic"],
        f"{prefix}_bank1": party["bank"],
        f"{prefix}_account": party["account"],
        f"{prefix}_cor_account": party["corr"],
        "payee" if prefix == "payee" else "counterparty": party["name"],
    }
    if through_correspondent:  # the bank's account in the payee's field, the client's beside it
        side[f"{prefix}_account"] = party["corr"]
        side[f"{prefix}_ras_account"] = party["account"]
    return side


def _ours(account: str, bank: tuple[str, str, str, str]) -> dict[str, str]:
    return {"name": OUR_NAME, "inn": OUR_INN, "kpp": OUR_KPP, "account": account, "bank": bank[0], "bic": bank[2],
            "corr": bank[3]}


def known_ledger(
    rng: random.Random,
    accounts: Sequence[str],
    first: datetime.date,
    days: int,
    per_day: float = 3.0,
) -> Known:
    """A known ledger of `accounts` over `days` days from `first`, with about `per_day` payments
    a day on each account. The last two days take no new payments, so that what is paid in the
    span arrives in it."""
    last = first + (days - 1) * ONE_DAY
    banks = {a: tuple(_plain(t) for t in vocabulary.BANKS[i % 3]) for i, a in enumerate(accounts)}
    known = Known(list(accounts), first, last,
                  {a: decimal.Decimal(rng.randrange(0, 10**10)).scaleb(-2) for a in accounts})
    number = 0
    for day in _days(first, last - 2 * ONE_DAY):
        for account in accounts:
            fees = 0
            for _ in range(rng.randint(0, int(2 * per_day))):
                number += 1
                kind = rng.random()
                kopecks = rng.choice([rng.randrange(1, 100_000), rng.randrange(100_000, 10**10)])
                amount = decimal.Decimal(kopecks).scaleb(-2)
                values = {"inv": number, "date": day.strftime("%d.%m.%Y"), "year": day.year,
                          "month": vocabulary.MONTHS[day.month - 1], "amount": amount,
                          "vat": (amount / 6).quantize(amount)}
                purpose = _plain(rng.choice(vocabulary.PURPOSES).format(**values))
                extra = {"ВидПлатежа": "электронно", "Код": "0", "НазначениеПлатежа1": purpose[:210]}
                doc: dict[str, object] = {"doc_number": str(number), "doc_date": day, "amount": amount,
                                          "purpose": purpose, "payment_type": "01", "ordering": "5", "extra": extra}
                ours = _ours(account, banks[account])
                later = day + rng.choice([0, 0, 0, 1, 2]) * ONE_DAY
                correspondent = rng.random() < 0.1
                if kind < 0.35:  # in from outside
                    doc |= _side("counterparty", _party(rng), False) | _side("payee", ours, correspondent)
                    booked = later if rng.random() < 0.8 else day
                    if booked != day or rng.random() < 0.5:
                        doc["income_date"] = booked
                    payment = Payment(doc, None, None, account, booked)
                elif kind < 0.7 or len(accounts) == 1:  # out to outside
                    doc |= _side("counterparty", ours, False) | _side("payee", _party(rng), correspondent)
                    if rng.random() < 0.7:
                        doc["outcome_date"] = day
                    payment = Payment(doc, account, day, None, None)
                elif kind < 0.85:  # a bank fee: the bank numbers a day's fees alike
                    fees += 1
                    bank = {"name": banks[account][0], "inn": "7707083893", "kpp": "773601001",
                            "account": "70601810" + account[-12:], "bank": banks[account][0],
                            "bic": banks[account][2], "corr": banks[account][3]}
                    doc |= _side("counterparty", ours, False) | _side("payee", bank, False)
                    fee = decimal.Decimal(fees * 100 + rng.randrange(1, 99)).scaleb(-2)  # none of the day's alike
                    doc |= {"doc_type": "Банковский ордер", "doc_number": "1", "amount": fee, "outcome_date": day}
                    payment = Payment(doc, account, day, None, None)
                else:  # a transfer to another own account
                    other = rng.choice([a for a in accounts if a != account])
                    doc |= _side("counterparty", ours, False) | _side("payee", _ours(other, banks[other]), False)
                    doc |= {"outcome_date": day, "income_date": later}
                    payment = Payment(doc, account, day, other, later)
                known.payments.append(payment)
                if rng.random() < 0.02:  # the same document twice, as a bank sends it
                    known.payments.append(payment)
    return known


@dataclass(frozen=True)
class Plan:
    """One statement: its accounts, its period, one account section a day or one in all."""

    accounts: tuple[str, ...]
    start: datetime.date
    end: datetime.date
    daily: bool
    encoding: str = "cp1251"


def random_plans(
    rng: random.Random, known: Known, *, lengths: Sequence[int] = (1, 3, 7, 14, 31), pairs: float = 0.2
) -> list[Plan]:
    """Statements that together cover every day of every account: for each account in turn,
    periods of random `lengths`, each starting on the day after the one before or a few days
    earlier; now and then a period sent again in another encoding; and, a `pairs` share more,
    statements of two accounts over random periods."""
    plans = []
    for account in known.accounts:
        day = known.first
        while day <= known.last:
            start = max(known.first, day - rng.choice([0, 0, 0, 1, 3]) * ONE_DAY)
            end = min(known.last, max(day, start + (rng.choice(lengths) - 1) * ONE_DAY))
            plan = Plan((account,), start, end, rng.random() < 0.3, rng.choice(ENCODINGS))
            plans.append(plan)
            if rng.random() < 0.1:
                plans.append(dataclasses.replace(plan, encoding=rng.choice(ENCODINGS), daily=not plan.daily))
            day = end + ONE_DAY
    if len(known.accounts) > 1:
        for _ in range(int(len(plans) * pairs)):
            two = tuple(rng.sample(known.accounts, 2))
            start = known.first + rng.randrange((known.last - known.first).days + 1) * ONE_DAY
            end = min(known.last, start + (rng.choice(lengths) - 1) * ONE_DAY)
            plans.append(Plan(two, start, end, rng.random() < 0.3, rng.choice(ENCODINGS)))
    rng.shuffle(plans)
    return plans


def statement(
    known: Known, plan: Plan, balances: dict[tuple[str, datetime.date], tuple[decimal.Decimal, ...]]
) -> bytes:
    """The bytes of `plan`'s statement: its documents, each once, in the order they were made;
    its account sections with the known figures; a header that declares its period and lists
    each of its accounts."""
    ours = set(plan.accounts)

    def held(p: Payment) -> bool:
        return bool(
            (p.out_of in ours and plan.start <= p.paid <= plan.end)  # type: ignore[operator]
            or (p.into in ours and plan.start <= p.received <= plan.end)  # type: ignore[operator]
        )

    documents = [p.document for p in known.payments if held(p)]
    accounts = {}
    for account in plan.accounts:
        periods = [(d, d) for d in _days(plan.start, plan.end)] if plan.daily else [(plan.start, plan.end)]
        intervals = []
        for start, end in periods:
            opening = balances[account, start][0]
            income = sum((balances[account, d][1] for d in _days(start, end)), decimal.Decimal("0.00"))
            expense = sum((balances[account, d][2] for d in _days(start, end)), decimal.Decimal("0.00"))
            intervals.append({"date_start": start, "date_end": end, "start_amount": opening,
                              "total_income": income, "total_expense": expense,
                              "end_amount": balances[account, end][3]})
        accounts[account] = intervals
    header = {
        "ВерсияФормата": "1.03",
        "Кодировка": DECLARED[plan.encoding],
        "Отправитель": "Банк-Клиент",
        "Получатель": "Бухгалтерия",
        "ДатаСоздания": (plan.end + ONE_DAY).strftime("%d.%m.%Y"),
        "ДатаНачала": plan.start.strftime("%d.%m.%Y"),
        "ДатаКонца": plan.end.strftime("%d.%m.%Y"),
        "РасчСчет": plan.accounts[0],
    }
    data = tarvik.write(documents, accounts=accounts, header=header, encoding=plan.encoding)  # type: ignore[arg-type]
    # A header lists every account, one line each; a mapping holds the key once.
    key = "\r\nРасчСчет=".encode(plan.encoding)
    more = b"".join(key + a.encode() for a in plan.accounts[1:])
    first = key + plan.accounts[0].encode()
    return data.replace(first, first + more, 1)


def known_file(folder: Path) -> Path:
    return folder.parent / f"{folder.name}.json"


def write_archive(
    folder: Path, *, files: int, accounts: int = 4, per_day: float = 2.5, seed: int = 1, pad: int = 0
) -> dict[str, int]:
    """About `files` statements in `folder`, from known ledgers of `accounts` accounts over two
    months each, one after the other, so that memory holds one at a time. `pad` adds a key of
    that many characters to every document: more bytes, the same entries. Returns what the
    ledger of them must give, and writes it beside the folder, as `<folder>.json`."""
    folder.mkdir(parents=True, exist_ok=True)
    rng = random.Random(seed)
    written = entries = days = group = 0
    while written < files:
        numbers = [f"40702810{group:06d}{n:06d}" for n in range(accounts)]
        known = known_ledger(rng, numbers, datetime.date(2021, 1, 1), 60, per_day)
        if pad:
            for payment in known.payments:
                extra = payment.document["extra"]
                assert isinstance(extra, dict)
                extra["Примечание"] = ("Примечание банка " * (pad // 17 + 1))[:pad]
        balances = known.balances()
        for plan in random_plans(rng, known, lengths=(1, 7, 7, 7, 14), pairs=0.05):
            (folder / f"g{group:04d}-{written:06d}.txt").write_bytes(statement(known, plan, balances))
            written += 1
        entries += len(known.entries())
        days += len(balances)
        group += 1
    facts = {"files": written, "entries": entries, "balance_days": days}
    known_file(folder).write_text(json.dumps(facts))
    return facts


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--files", type=int, default=300, help="about how many statement files")
    parser.add_argument("--accounts", type=int, default=4, help="own accounts in a group (default 4)")
    parser.add_argument("--per-day", type=float, default=2.5, help="payments a day on each account")
    parser.add_argument("--pad", type=int, default=0, help="characters of an extra key in each document")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("-o", "--output", type=Path, required=True, help="the folder to write to")
    args = parser.parse_args(argv)
    facts = write_archive(args.output, files=args.files, accounts=args.accounts, per_day=args.per_day,
                          seed=args.seed, pad=args.pad)
    print(f"{facts['files']} files, {facts['entries']} entries, {facts['balance_days']} balance days in {args.output}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
