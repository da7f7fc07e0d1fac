"""`tarvik.report`: one page that stands alone, shows every account and finding, runs nothing
from a statement, and writes figures as Russian readers expect."""

import base64
import datetime
import decimal
import html
import html.parser
import re
import sys
from pathlib import Path

import pytest

pytest.importorskip("matplotlib")
pytest.importorskip("pyarrow")

import ledger_archive
import samples

import tarvik
from tarvik import reporting as report

ROOT = Path(__file__).resolve().parent.parent
CORPUS = ROOT.parent / "shared" / "corpus" / "real"
D = decimal.Decimal
T = report.THIN_SPACE

AMOUNTS = [
    (D("0"), "0,00"),
    (D("5"), "5,00"),
    (D("999.9"), "999,90"),
    (D("1000"), f"1{T}000,00"),
    (D("1234567.89"), f"1{T}234{T}567,89"),
    (D("-1234.5"), f"{report.MINUS}1{T}234,50"),
    (D("12.345"), "12,345"),  # every digit the amount has is kept
    (D("123456789012345678901234567890123456.78"), None),  # beyond the default context
]


@pytest.mark.parametrize(("amount", "shown"), AMOUNTS)
def test_amounts_as_russian_readers_write_them(amount, shown):
    text = report.format_amount(amount)
    assert text.endswith("\u00a0₽")
    digits = text.removesuffix("\u00a0₽")
    if shown is not None:
        assert digits == shown
    # Read back, the text is the amount: nothing rounded.
    plain = digits.replace(T, "").replace(",", ".").replace(report.MINUS, "-")
    assert D(plain) == amount


def test_whole_rubles_for_the_axes_and_dates():
    assert report.format_amount(D("1999.5"), kopecks=False, sign=False) == f"2{T}000"
    assert report.format_amount(D("-0.4"), kopecks=False, sign=False) == "0"
    assert report.format_date(datetime.date(2024, 3, 5)) == "05.03.2024"


HOSTILE = {
    "ПолучательИНН": "<img src=x onerror=alert(2)>",
    "Получатель1": "<script>alert(1)</script>",
    "ПолучательСчет": '40702810000000000002"><svg onload=alert(3)>',
    "НазначениеПлатежа": "</td></tr><script>alert(4)</script>",
}


def hostile_statement() -> bytes:
    lines = samples.statement_lines(
        samples.account_section(),
        samples.document_section(
            {**HOSTILE, "Получатель": "<b onmouseover=alert(5)>x</b>", "Сумма": "200.00"}
        ),
    )
    return samples.utf8(lines)


class Elements(html.parser.HTMLParser):
    """The page's elements, as a browser builds them: (tag, attributes)."""

    def __init__(self, page: str) -> None:
        super().__init__()
        self.found: list[tuple[str, dict[str, str | None]]] = []
        self.feed(page)

    def handle_starttag(self, tag, attrs):
        self.found.append((tag, dict(attrs)))


OWN_TAGS = {
    "html",
    "head",
    "meta",
    "title",
    "style",
    "body",
    "h1",
    "h2",
    "h3",
    "section",
    "table",
    "tr",
    "th",
    "td",
    "span",
    "details",
    "summary",
    "ul",
    "li",
    "figure",
    "img",
    "figcaption",
    "div",
    "p",
}


def _embedded(page: str) -> list[str]:
    return [
        base64.b64decode(data).decode("utf-8")
        for data in re.findall(r'src="data:image/svg\+xml;base64,([^"]+)"', page)
    ]


def test_a_statement_cannot_put_markup_or_scripts_in_the_page(tmp_path):
    (tmp_path / "ok.txt").write_bytes(hostile_statement())
    (tmp_path / "<img src=y onerror=alert(6)>.txt").write_bytes(b"\x00\x01 not a statement")
    page = tarvik.report([str(tmp_path)])
    elements = Elements(page).found
    # Only the page's own elements, none with a handler; the texts are shown, escaped.
    assert {tag for tag, _ in elements} <= OWN_TAGS
    assert not [(tag, a) for tag, attrs in elements for a in attrs if a.startswith("on")]
    assert html.escape("<b onmouseover=alert(5)>x</b>") in page  # the payee's name
    assert html.escape(HOSTILE["ПолучательИНН"]) in page
    assert "&lt;img src=y onerror=alert(6)&gt;.txt" in page  # the failed file, named and escaped
    # The page forbids itself to load or run anything, whatever slipped through.
    assert "default-src 'none'" in page
    for svg in _embedded(page):
        assert "<script" not in svg and "onload" not in svg


def test_the_page_stands_alone():
    page = tarvik.report([str(ROOT / "examples" / "statement_cp1251.txt")])
    # Nothing is fetched: no address in any attribute or style, and none in the charts.
    for tag, attrs in Elements(page).found:
        for name in ("src", "href", "action", "srcset", "background"):
            assert attrs.get(name) is None or attrs[name].startswith(("data:", "#")), (tag, name)
    assert "url(" not in page and "@import" not in page
    svgs = _embedded(page)
    assert svgs
    for svg in svgs:
        assert not re.search(r"""href\s*=\s*["'](?!#)""", svg)
        assert "<text" not in svg  # text is drawn as outlines: no font is looked for


def test_every_account_and_finding_is_shown():
    archive = ledger_archive.archive()
    files = dict(archive.files)
    payment = ledger_archive.paid_out(archive.known, ledger_archive.X, ledger_archive.day(1, 15))
    number = payment.document["doc_number"]
    files["s1.txt"] = ledger_archive.with_amount(
        files["s1.txt"], "s1.txt", number, payment.document["amount"] + 1
    )
    book = tarvik.ledger(list(files.values()))
    page = report.render(book)
    accounts = set(book.balances.column("account").to_pylist()) | set(
        book.entries.column("account").to_pylist()
    )
    assert accounts == {ledger_archive.X, ledger_archive.Y}
    for account in accounts:
        assert f'id="account-{account}"' in page
    assert page.count('<tr class="finding">') == len(book.findings)
    for finding in book.findings:
        place = finding.file if finding.line is None else f"{finding.file}:{finding.line}"
        assert html.escape(place) in page and html.escape(finding.message) in page
    assert "Не всё сходится" in page


def test_the_summary_of_an_archive_that_reconciles():
    archive = ledger_archive.archive()
    book = tarvik.ledger(list(archive.files.values()))
    page = report.render(book)
    assert "Всё сходится" in page and "Не всё сходится" not in page
    assert "01.01.2024 — 10.03.2024" in page
    income = sum((e[3] for e in archive.known.entries() if e[1] == "in"), D(0))
    assert html.escape(report.format_amount(income)) in page
    assert page == report.render(book)  # the same statements, the same page


@pytest.mark.skipif(not CORPUS.is_dir(), reason="the shared corpus is not beside the repository")
def test_the_corpus_as_a_page():
    book = tarvik.ledger([str(CORPUS)])
    page = report.render(book)
    assert page.count('<section class="account"') == len(
        set(book.balances.column("account").to_pylist())
        | set(book.entries.column("account").to_pylist())
    )
    assert page.count('<tr class="finding">') == len(book.findings)


def test_without_matplotlib_the_report_says_what_to_install(monkeypatch):
    book = tarvik.ledger([str(ROOT / "examples" / "statement_cp1251.txt")])
    for name in [m for m in sys.modules if m == "matplotlib" or m.startswith("matplotlib.")]:
        monkeypatch.delitem(sys.modules, name)
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    monkeypatch.setitem(sys.modules, "matplotlib.figure", None)
    with pytest.raises(ImportError, match=r"tarvik\[report\]"):
        report.render(book)


def _command(cwd, *args):
    import subprocess

    return subprocess.run(
        [sys.executable, "-m", "tarvik", "report", *map(str, args)],
        capture_output=True,
        cwd=cwd,
        timeout=300,
    )


def test_the_command_writes_the_page_and_says_how_it_went(tmp_path):
    archive = ledger_archive.archive()
    files = dict(archive.files)
    payment = ledger_archive.paid_out(archive.known, ledger_archive.X, ledger_archive.day(1, 15))
    number = payment.document["doc_number"]
    files["s1.txt"] = ledger_archive.with_amount(
        files["s1.txt"], "s1.txt", number, payment.document["amount"] + 1
    )
    (tmp_path / "good").mkdir()
    (tmp_path / "off").mkdir()
    archive.write(tmp_path / "good")
    for name, data in files.items():
        (tmp_path / "off" / name).write_bytes(data)
    cases = [
        (["good", "-o", "good.html"], 0, "good.html"),
        (["off", "-o", "off.html"], 1, "off.html"),  # the amounts disagree: a mismatch
        (["good", "nope", "-o", "some.html"], 2, "some.html"),  # a path that names nothing
    ]
    for args, status, page in cases:
        run = _command(tmp_path, *args)
        assert run.returncode == status, run.stderr
        assert (tmp_path / page).read_text(encoding="utf-8").startswith("<!DOCTYPE html>")
    run = _command(tmp_path, "nope", "-o", "none.html")
    assert run.returncode == 2 and not (tmp_path / "none.html").exists()
    assert b"no statement to report, nothing written" in run.stderr
    run = _command(tmp_path, "good", "-o", "-")
    assert run.returncode == 0 and run.stdout.startswith(b"<!DOCTYPE html>")
