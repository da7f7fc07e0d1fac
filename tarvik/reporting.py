"""`report`: an archive of statements as one HTML page to look at.

    page = tarvik.report("archive/")              # files, folders, glob patterns or bytes
    pathlib.Path("report.html").write_text(page, encoding="utf-8")

The page stands alone: its charts are SVG drawn by matplotlib and embedded in it, its styles are
in it, and it has no scripts, so it opens the same on a machine cut off from the internet. What
it shows comes from `tarvik.ledger`: a summary of the files, the period, the accounts and their
totals, and whether everything reconciles; then, for each account, its balance at the end of
each day and its money in and out by month as charts, its months and its largest
counterparties each way as tables; and last every finding with its file and line.

A statement is untrusted input: every text taken from one is escaped, and the page forbids
itself, in its own header, to load or run anything.

Figures are written as Russian readers expect them: `1 234 567,89 ₽` with thin spaces between
the thousands, `−` for a minus, and dates as `DD.MM.YYYY`.
"""

from __future__ import annotations

import base64
import datetime
import decimal
import html
import importlib
import io
from collections.abc import Iterable, Mapping, Sequence
from dataclasses import dataclass, field
from typing import Any, Final

from .ledger import Finding, Ledger, Sources, ledger

__all__ = ["DEFAULT_TITLE", "format_amount", "format_date", "render", "report"]

DEFAULT_TITLE: Final = "Отчёт по выпискам"
THIN_SPACE: Final = "\u2009"
MINUS: Final = "\u2212"
RUBLE: Final = "\u00a0\u20bd"  # a no-break space, then ₽
TOP_COUNTERPARTIES: Final = 10

# What each kind of finding is called on the page, in the order the page lists them.
KIND_LABELS: Final[Mapping[str, str]] = {
    "error": "ошибка",
    "warning": "предупреждение",
    "mismatch": "остатки не сходятся",
    "turnover": "обороты не сходятся",
    "conflict": "разные версии документа",
    "continuity": "остатки не переходят",
    "overlap": "выписки расходятся",
    "gap": "пропущены дни",
    "foreign": "документ не по своим счетам",
    "skipped": "строка пропущена",
    "repair": "исправление при чтении",
}
# Findings that say the archive does not reconcile; the others say how it was read.
_PROBLEM_SEVERITIES: Final = frozenset({"error", "warning", "mismatch", "skipped"})
_MONTHS: Final = (
    "янв",
    "фев",
    "мар",
    "апр",
    "май",
    "июн",
    "июл",
    "авг",
    "сен",
    "окт",
    "ноя",
    "дек",
)

# The page's colours; the charts' balance line has its own, which the picture check looks for.
BALANCE_COLOUR: Final = "#1f5fa8"
IN_COLOUR: Final = "#2e8540"
OUT_COLOUR: Final = "#c0392b"

_STYLE: Final = """
body { font-family: "Segoe UI", "DejaVu Sans", Arial, sans-serif; margin: 2em auto;
       max-width: 1100px; color: #1d1d1d; padding: 0 1em; }
h1 { font-size: 1.6em; margin-bottom: 0.3em; }
h2 { font-size: 1.3em; margin-top: 2em; border-bottom: 1px solid #ccc; padding-bottom: 0.2em; }
h3 { font-size: 1.05em; margin-top: 1.4em; }
table { border-collapse: collapse; margin: 0.5em 0; }
th, td { padding: 0.25em 0.7em; border-bottom: 1px solid #e3e3e3; text-align: left;
         vertical-align: top; }
th { background: #f3f5f8; font-weight: 600; }
td.money, th.money { text-align: right; white-space: nowrap; font-variant-numeric: tabular-nums; }
.ok { color: #2e8540; font-weight: 600; }
.bad { color: #c0392b; font-weight: 600; }
.pair { display: flex; gap: 2em; flex-wrap: wrap; }
figure { margin: 1em 0; }
figure img { max-width: 100%; height: auto; }
figcaption { color: #555; font-size: 0.9em; }
td.place { white-space: nowrap; font-family: "DejaVu Sans Mono", monospace; font-size: 0.9em; }
"""
# Nothing may be loaded or run: images only from the page itself, styles only its own.
_POLICY: Final = "default-src 'none'; img-src data:; style-src 'unsafe-inline'"


def format_amount(amount: decimal.Decimal, *, kopecks: bool = True, sign: bool = True) -> str:
    """`amount` as Russian readers write money: `−1 234 567,89 ₽`, thin spaces between thousands.

    Kopecks are shown as two digits at least, and every digit an amount has is kept; without
    `kopecks` (the charts' axes) the amount is rounded to whole rubles. `sign` adds `₽`."""
    with decimal.localcontext(prec=decimal.MAX_PREC):
        exponent = amount.as_tuple().exponent
        if not kopecks:
            amount = amount.quantize(decimal.Decimal(1), rounding=decimal.ROUND_HALF_EVEN)
        elif isinstance(exponent, int) and exponent > -2:
            amount = amount.quantize(decimal.Decimal("0.01"))
        whole, _, fraction = f"{abs(amount):f}".partition(".")
    groups = [whole[max(0, end - 3) : end] for end in range(len(whole), 0, -3)][::-1]
    text = THIN_SPACE.join(groups)
    if fraction:
        text += "," + fraction
    if amount < 0:
        text = MINUS + text
    return text + RUBLE if sign else text


def format_date(day: datetime.date) -> str:
    """`day` as `DD.MM.YYYY`."""
    return f"{day.day:02d}.{day.month:02d}.{day.year:04d}"


def report(sources: Sources, *, repairs: bool = True, title: str = DEFAULT_TITLE) -> str:
    """The page of the statements in `sources` (as `tarvik.ledger` takes them), as HTML text.

    Needs matplotlib and pyarrow: `pip install 'tarvik[report]'`. Never raises for what a file
    holds: a file that does not read is a finding on the page."""
    return render(ledger(sources, repairs=repairs), title=title)


def render(book: Ledger, *, title: str = DEFAULT_TITLE) -> str:
    """The page of a ledger, as HTML text (needs matplotlib and pyarrow)."""
    figures = _Charts()
    accounts = _accounts(book)
    parts = [
        "<!DOCTYPE html>",
        '<html lang="ru">',
        "<head>",
        '<meta charset="utf-8">',
        f'<meta http-equiv="Content-Security-Policy" content="{_POLICY}">',
        '<meta name="viewport" content="width=device-width, initial-scale=1">',
        f"<title>{_text(title)}</title>",
        f"<style>{_STYLE}</style>",
        "</head>",
        "<body>",
        f"<h1>{_text(title)}</h1>",
        _summary(book, accounts),
    ]
    for account in accounts.values():
        parts.append(_account_section(account, figures))
    parts.append(_findings_section(book.findings))
    parts += ["</body>", "</html>", ""]
    return "\n".join(parts)


@dataclass
class _Month:
    income: decimal.Decimal = decimal.Decimal(0)
    expense: decimal.Decimal = decimal.Decimal(0)


@dataclass
class _Counterparty:
    names: dict[str, int] = field(default_factory=dict)  # each name it was given, how often
    inn: str = ""
    account: str = ""
    total: decimal.Decimal = decimal.Decimal(0)
    count: int = 0

    @property
    def name(self) -> str:
        return max(self.names, key=lambda n: self.names[n]) if self.names else ""


@dataclass
class _Account:
    number: str
    days: list[datetime.date] = field(default_factory=list)
    closing: list[decimal.Decimal] = field(default_factory=list)
    opening: decimal.Decimal | None = None
    income: decimal.Decimal = decimal.Decimal(0)
    expense: decimal.Decimal = decimal.Decimal(0)
    months: dict[tuple[int, int], _Month] = field(default_factory=dict)
    payers: dict[str, _Counterparty] = field(default_factory=dict)  # money in, by who
    payees: dict[str, _Counterparty] = field(default_factory=dict)  # money out, to whom


def _accounts(book: Ledger) -> dict[str, _Account]:
    """Each account's days, months and counterparties, from the ledger's tables."""
    accounts: dict[str, _Account] = {}

    def of(number: str) -> _Account:
        found = accounts.get(number)
        if found is None:
            found = accounts[number] = _Account(number)
        return found

    balances = _columns(book.balances, ("account", "day", "opening", "closing"))
    for number, day, opening, closing in zip(*balances, strict=True):
        account = of(number)
        if account.opening is None:
            account.opening = opening
        account.days.append(day)
        account.closing.append(closing)
    names = (
        "account",
        "direction",
        "booked",
        "amount",
        "counterparty_name",
        "counterparty_inn",
        "counterparty_account",
    )
    for number, direction, booked, amount, name, inn, other in zip(
        *_columns(book.entries, names), strict=True
    ):
        account = of(number)
        month = account.months.setdefault((booked.year, booked.month), _Month())
        side = account.payers if direction == "in" else account.payees
        if direction == "in":
            account.income += amount
            month.income += amount
        else:
            account.expense += amount
            month.expense += amount
        # One counterparty is one taxpayer where the number says who; else its account.
        key = inn if inn.strip("0 ") else f"account {other}"
        party = side.setdefault(key, _Counterparty(inn=inn, account=other))
        shown = name or ""
        party.names[shown] = party.names.get(shown, 0) + 1
        party.total += amount
        party.count += 1
    return dict(sorted(accounts.items()))


def _columns(table: Any, names: Sequence[str]) -> list[list[Any]]:
    if not hasattr(table, "column"):
        raise ImportError("the report needs pyarrow and matplotlib: pip install 'tarvik[report]'")
    return [table.column(name).to_pylist() for name in names]


def _summary(book: Ledger, accounts: Mapping[str, _Account]) -> str:
    files = list(
        dict.fromkeys([*_columns(book.entries, ("file",))[0], *(f.file for f in book.findings)])
    )
    days = [day for account in accounts.values() for day in account.days]
    income = sum((a.income for a in accounts.values()), decimal.Decimal(0))
    expense = sum((a.expense for a in accounts.values()), decimal.Decimal(0))
    problems = [f for f in book.findings if f.severity in _PROBLEM_SEVERITIES]
    if problems:
        counts = _counts(f.kind for f in problems)
        listed = ", ".join(f"{KIND_LABELS.get(kind, kind)}: {n}" for kind, n in counts.items())
        verdict = f'<span class="bad">Не всё сходится</span> ({_text(listed)})'
    else:
        verdict = '<span class="ok">Всё сходится</span>'
    period = f"{format_date(min(days))} — {format_date(max(days))}" if days else "—"
    rows = [
        ("Файлы", str(len(files))),
        ("Период", period),
        ("Счета", ", ".join(_text(n) for n in accounts) or "—"),
        ("Поступило", _money(income)),
        ("Списано", _money(expense)),
        ("Сверка", verdict),
    ]
    body = "".join(f"<tr><th>{label}</th><td>{value}</td></tr>" for label, value in rows)
    listing = "".join(f"<li>{_text(name)}</li>" for name in files)
    return (
        f'<section id="summary"><table class="summary">{body}</table>'
        f"<details><summary>Файлы ({len(files)})</summary><ul>{listing}</ul></details></section>"
    )


def _account_section(account: _Account, figures: _Charts) -> str:
    number = _text(account.number)
    closing = account.closing[-1] if account.closing else None
    facts = [
        ("Остаток на начало", account.opening),
        ("Поступило", account.income),
        ("Списано", account.expense),
        ("Остаток на конец", closing),
    ]
    body = "".join(
        f'<tr><th>{label}</th><td class="money">{"—" if value is None else _money(value)}</td></tr>'
        for label, value in facts
    )
    parts = [
        f'<section class="account" id="account-{number}">',
        f"<h2>Счёт {number}</h2>",
        f"<table>{body}</table>",
    ]
    if account.days:
        parts.append(
            _figure(
                figures.balance(account),
                f"Остаток по счёту {number} на конец дня",
                "Остаток на конец дня, "
                f"{format_date(account.days[0])} — {format_date(account.days[-1])}",
            )
        )
    if account.months:
        parts.append(
            _figure(
                figures.months(account),
                f"Поступления и списания по счёту {number} по месяцам",
                "Поступило и списано по месяцам",
            )
        )
        parts.append(_months_table(account))
    parts.append('<div class="pair">')
    parts.append(_parties_table("Крупнейшие плательщики", account.payers))
    parts.append(_parties_table("Крупнейшие получатели", account.payees))
    parts.append("</div></section>")
    return "\n".join(parts)


def _months_table(account: _Account) -> str:
    rows = []
    for (year, month), money in sorted(account.months.items()):
        rows.append(
            f'<tr><td>{_MONTHS[month - 1]} {year}</td><td class="money">{_money(money.income)}</td>'
            f'<td class="money">{_money(money.expense)}</td>'
            f'<td class="money">{_money(money.income - money.expense)}</td></tr>'
        )
    head = _heads(["Месяц"], ["Поступило", "Списано", "Разница"])
    return f"<h3>По месяцам</h3><table>{head}{''.join(rows)}</table>"


def _parties_table(title: str, parties: Mapping[str, _Counterparty]) -> str:
    top = sorted(parties.values(), key=lambda p: (-p.total, p.name))[:TOP_COUNTERPARTIES]
    if not top:
        return f"<div><h3>{title}</h3><p>Нет платежей.</p></div>"
    head = _heads(["Контрагент", "ИНН", "Счёт"], ["Сумма", "Платежей"])
    rows = "".join(
        f"<tr><td>{_text(p.name)}</td><td>{_text(p.inn)}</td><td>{_text(p.account)}</td>"
        f'<td class="money">{_money(p.total)}</td><td class="money">{p.count}</td></tr>'
        for p in top
    )
    return f"<div><h3>{title}</h3><table>{head}{rows}</table></div>"


def _findings_section(findings: Sequence[Finding]) -> str:
    problems = [f for f in findings if f.severity in _PROBLEM_SEVERITIES]
    others = [f for f in findings if f.severity not in _PROBLEM_SEVERITIES]
    parts = ['<section id="findings">', "<h2>Замечания</h2>"]
    if problems:
        parts.append(_findings_table(problems))
    else:
        parts.append("<p>Расхождений и ошибок нет.</p>")
    if others:
        counts = ", ".join(
            f"{KIND_LABELS.get(k, k)}: {n}" for k, n in _counts(f.kind for f in others).items()
        )
        parts.append(
            f"<details><summary>Исправлено при чтении: {len(others)} ({_text(counts)})</summary>"
            f"{_findings_table(others)}</details>"
        )
    parts.append("</section>")
    return "\n".join(parts)


def _findings_table(findings: Iterable[Finding]) -> str:
    head = _heads(["Файл и строка", "Что", "Подробно"])
    rows = "".join(
        f'<tr class="finding"><td class="place">{_text(_place(f))}</td>'
        f"<td>{_text(KIND_LABELS.get(f.kind, f.kind))}</td><td>{_text(f.message)}</td></tr>"
        for f in findings
    )
    return f"<table>{head}{rows}</table>"


def _place(finding: Finding) -> str:
    return finding.file if finding.line is None else f"{finding.file}:{finding.line}"


def _heads(texts: Sequence[str], figures: Sequence[str] = ()) -> str:
    """A table's head row: its columns of text, then those of figures, aligned right."""
    cells = [f"<th>{t}</th>" for t in texts] + [f'<th class="money">{t}</th>' for t in figures]
    return f"<tr>{''.join(cells)}</tr>"


def _counts(kinds: Iterable[str]) -> dict[str, int]:
    counts: dict[str, int] = {}
    for kind in kinds:
        counts[kind] = counts.get(kind, 0) + 1
    order = list(KIND_LABELS)
    return dict(
        sorted(counts.items(), key=lambda kv: order.index(kv[0]) if kv[0] in order else len(order))
    )


def _text(value: str) -> str:
    """A text from a statement, as the page shows it and never runs it."""
    return html.escape(value, quote=True)


def _money(amount: decimal.Decimal) -> str:
    return _text(format_amount(amount))


def _figure(svg: bytes, alt: str, caption: str) -> str:
    data = base64.b64encode(svg).decode("ascii")
    return (
        f'<figure><img alt="{alt}" src="data:image/svg+xml;base64,{data}">'
        f"<figcaption>{caption}</figcaption></figure>"
    )


class _Charts:
    """The charts, drawn by matplotlib as SVG whose text is outlines, so no font need be found."""

    def __init__(self) -> None:
        try:
            self._figure = importlib.import_module("matplotlib.figure")
            self._dates = importlib.import_module("matplotlib.dates")
            self._ticker = importlib.import_module("matplotlib.ticker")
            self._matplotlib = importlib.import_module("matplotlib")
        except ImportError:
            raise ImportError(
                "the report's charts need matplotlib: pip install 'tarvik[report]'"
            ) from None
        self._style = {
            "svg.fonttype": "path",
            "svg.hashsalt": "tarvik",  # the same page for the same statements
            "font.family": "DejaVu Sans",
            "font.size": 9,
            "axes.spines.top": False,
            "axes.spines.right": False,
            "axes.grid": True,
            "grid.color": "#e6e6e6",
            "axes.axisbelow": True,
        }

    def _save(self, figure: Any) -> bytes:
        out = io.BytesIO()
        figure.savefig(out, format="svg", metadata={"Date": None, "Creator": None})
        return out.getvalue()

    def _rubles(self) -> Any:
        return self._ticker.FuncFormatter(  # whole rubles; a tick between them never shows
            lambda value, _: format_amount(decimal.Decimal(round(value)), kopecks=False, sign=False)
        )

    def _rubles_axis(self, axes: Any, values: Sequence[float]) -> None:
        """Whole rubles on the value axis, thin-spaced; a flat line is shown from zero."""
        axes.yaxis.set_major_locator(self._ticker.MaxNLocator(nbins=7, integer=True))
        axes.yaxis.set_major_formatter(self._rubles())
        if values and max(values) - min(values) < 2:
            level = round((max(values) + min(values)) / 2)
            reach = max(2, abs(level) * 1.15)
            axes.set_ylim(min(0, level) - (reach if level <= 0 else 0), max(0, level) + reach)

    def balance(self, account: _Account) -> bytes:
        with self._matplotlib.rc_context(self._style):
            figure = self._figure.Figure(figsize=(10, 3.2), dpi=96, layout="constrained")
            axes = figure.add_subplot()
            # Each day's closing holds until the next day; the last day's, for that day.
            days = [datetime.datetime(d.year, d.month, d.day) for d in account.days]
            days.append(days[-1] + datetime.timedelta(days=1))
            values = [float(v) for v in account.closing]
            values.append(values[-1])
            axes.step(days, values, where="post", color=BALANCE_COLOUR, linewidth=1.8)
            axes.fill_between(days, values, step="post", color=BALANCE_COLOUR, alpha=0.08)
            self._rubles_axis(axes, values)
            # Ticks on whole days: a short span gets each day, a long one what fits.
            if (days[-1] - days[0]).days <= 10:
                locator = self._dates.DayLocator()
            else:
                locator = self._dates.AutoDateLocator(
                    minticks=3, maxticks=8, interval_multiples=True
                )
            axes.xaxis.set_major_locator(locator)
            axes.xaxis.set_major_formatter(self._dates.DateFormatter("%d.%m.%Y"))
            axes.set_ylabel("₽")
            return self._save(figure)

    def months(self, account: _Account) -> bytes:
        with self._matplotlib.rc_context(self._style):
            figure = self._figure.Figure(figsize=(10, 3.2), dpi=96, layout="constrained")
            axes = figure.add_subplot()
            keys = sorted(account.months)
            labels = [f"{_MONTHS[m - 1]} {y}" for y, m in keys]
            places = list(range(len(keys)))
            income = [float(account.months[k].income) for k in keys]
            expense = [-float(account.months[k].expense) for k in keys]
            axes.bar(places, income, width=0.6, color=IN_COLOUR, label="Поступило")
            axes.bar(places, expense, width=0.6, color=OUT_COLOUR, label="Списано")
            axes.axhline(0, color="#666666", linewidth=0.8)
            axes.set_xlim(-0.7, max(len(keys), 6) - 0.3)  # a bar or two stay bars, not walls
            axes.set_xticks(
                places,
                labels,
                rotation=45 if len(keys) > 12 else 0,
                ha="right" if len(keys) > 12 else "center",
            )
            self._rubles_axis(axes, income + expense)
            axes.legend(loc="lower left", bbox_to_anchor=(0, 1), ncols=2, frameon=False)
            axes.set_ylabel("₽")
            return self._save(figure)
