"""The law on the file: `write(read(f))` read back holds every key of every section with its text,
and the header's lines as they stood. The exceptions are the values a repair changed, which are
reported, and blank values of the records' own keys, which read as absent.

The sections are compared as the file's own lines split them, not through what `read` models."""

from pathlib import Path

import pytest
from hypothesis import given
from hypothesis import strategies as st

import samples
import tarvik
import tarvik_py
from tarvik._encodings import decode
from tarvik._fields import ACCOUNT_NUMBER, DOCUMENT_FIELDS, INTERVAL_FIELDS
from tarvik._sources import prepare

CORPUS = sorted((Path(__file__).resolve().parent.parent.parent / "shared" / "corpus" / "real").glob("*.txt"))
OWN_KEYS = {f.key for f in (*DOCUMENT_FIELDS, *INTERVAL_FIELDS, ACCOUNT_NUMBER)}


def raw_sections(data: bytes, encoding: str) -> tuple[list[tuple[str, str]], dict[int, tuple[int, dict[str, str]]]]:
    """The header's key=value lines, and each section by its opening line: its closing line and
    its keys (a repeated key with its last text), as the lines stand in the file."""
    text, _, dos = prepare(data)
    lines = decode(text, "utf-8" if dos else encoding).split("\n")
    header: list[tuple[str, str]] = []
    sections: dict[int, tuple[int, dict[str, str]]] = {}
    opened: int | None = None
    keys: dict[str, str] = {}
    for number, line in enumerate(lines, 1):
        line = line.removesuffix("\r")
        if line == "КонецФайла":
            break
        if line.startswith("СекцияДокумент") or line == "СекцияРасчСчет":
            opened, keys = number, {}
            if line.startswith("СекцияДокумент="):
                keys["СекцияДокумент"] = line.partition("=")[2]
        elif line in ("КонецДокумента", "КонецРасчСчет") and opened is not None:
            sections[opened] = (number, keys)
            opened = None
        elif "=" in line and number > 1:
            key, _, value = line.partition("=")
            if opened is None:
                header.append((key, value))
            else:
                keys[key] = value
    return header, sections


def assert_written_back_whole(data: bytes) -> None:
    reading = tarvik.read(data)
    if reading.statement.warnings:
        with pytest.raises(tarvik.WriteError, match="cannot be written back"):
            tarvik.write(reading)
        return
    written = tarvik.write(reading)
    back = tarvik.read(written)
    assert not back.changes and not back.statement.warnings
    assert back.statement.header == reading.statement.header
    assert back.statement.documents == reading.statement.documents
    assert back.statement.accounts == reading.statement.accounts

    header, sections = raw_sections(data, reading.encoding)
    # The header as its lines stood, a line kept in it from between the sections too.
    assert reading.header_lines() == header
    assert back.header_lines() == header
    _, written_sections = raw_sections(written, back.encoding)
    before = [*reading.document_lines(), *(n for lines in reading.interval_lines().values() for n in lines)]
    after = [*back.document_lines(), *(n for lines in back.interval_lines().values() for n in lines)]
    assert len(before) == len(after)
    for opening, again in zip(before, after, strict=True):
        closing, keys = sections[opening]
        changed = {
            key
            for c in reading.changes
            if opening <= c.lineno <= closing
            for key in (c.key, c.old)
        }
        kept = written_sections[again][1]
        for key, text in keys.items():
            if key in changed or (key in OWN_KEYS and not text.strip()):
                continue
            assert kept.get(key) == text, (opening, key)


@pytest.mark.parametrize("path", CORPUS, ids=lambda p: p.name)
def test_every_real_file_that_reads_is_written_back_whole(path):
    data = path.read_bytes()
    try:
        tarvik.read(data)
    except tarvik_py.ParseError:
        pytest.skip("does not read")
    assert_written_back_whole(data)


KEY = st.text(st.sampled_from("АБВГДЕЖЗИКЛМНОПРСТУФХЦЧШЭЮЯабвгдежзиклмнопрстуфхцчшщэюяABCDxyz0123_ "), min_size=1, max_size=12)
VALUE = st.text(st.sampled_from("абвгдАБВГД 0123456789.,;:«»№-/()\"'"), max_size=20)


@st.composite
def statements_with_extras(draw):
    extras = st.dictionaries(KEY.filter(lambda k: k.strip() == k and k not in OWN_KEYS and not k.startswith(("Секция", "Конец"))), VALUE, max_size=5)
    header = [*samples.HEADER, *(f"{k}={v}" for k, v in draw(st.lists(st.tuples(st.sampled_from(["РасчСчет", "Документ", "Свое"]), VALUE), max_size=3)))]
    sections = []
    for i in range(draw(st.integers(0, 3))):
        section = samples.account_section({"ДатаНачала": f"0{i + 1}.03.2024", "ДатаКонца": f"0{i + 1}.03.2024"})
        sections.append(section[:-1] + [f"{k}={v}" for k, v in draw(extras).items()] + section[-1:])
    for i in range(draw(st.integers(1 if not sections else 0, 4))):
        section = samples.document_section({"Номер": str(i)})
        sections.append(section[:-1] + [f"{k}={v}" for k, v in draw(extras).items()] + section[-1:])
    lines = samples.statement_lines(*sections, header=header)
    return draw(st.sampled_from([samples.utf8, samples.cp1251]))(lines)


@given(statements_with_extras())
def test_generated_statements_are_written_back_whole(data):
    assert_written_back_whole(data)


def test_a_reading_brings_its_own_header_and_accounts():
    reading = tarvik.read(samples.utf8(samples.statement_lines(samples.document_section())))
    with pytest.raises(ValueError, match="brings its own header"):
        tarvik.write(reading, header={"А": "1"})
    assert tarvik.read(tarvik.write(reading, encoding="cp1251")).encoding == "cp1251"
    assert tarvik.read(tarvik.write(reading)).encoding == "utf-8"


def test_extras_of_an_interval_are_written_and_checked():
    interval = {"date_start": "2024-03-01", "start_amount": "1.00", "extra": {"Остаток": "5"}}
    data = tarvik.write(accounts={"40702810000000000001": [interval]})
    assert tarvik.read(data).interval_extras() == {"40702810000000000001": [{"Остаток": "5"}]}
    with pytest.raises(tarvik.WriteError, match="field of the interval"):
        tarvik.write(accounts={"40702810000000000001": [{**interval, "extra": {"ДатаНачала": "x"}}]})
    with pytest.raises(tarvik.WriteError, match="cannot hold '='"):
        tarvik.write(accounts={"40702810000000000001": [{**interval, "extra": {"А=Б": "x"}}]})


def noop(section_type, attrs, header):
    """A Python hook that changes nothing: the keys are then taken at the chain's end."""


@pytest.mark.parametrize("path", CORPUS, ids=lambda p: p.name)
def test_the_extras_are_the_same_however_the_file_is_read(path):
    data = path.read_bytes()
    try:
        reading = tarvik.read(data)
    except tarvik_py.ParseError:
        pytest.skip("does not read")
    through_python = tarvik.read(data, hooks=[noop])
    assert list(reading.document_extras()) == list(through_python.document_extras())
    assert reading.interval_extras() == through_python.interval_extras()
    pytest.importorskip("pyarrow")
    table = tarvik.to_arrow(data).documents
    assert [dict(m) for m in table.column("extra").to_pylist()] == list(reading.document_extras())


def test_a_hook_s_keys_are_the_extras_it_leaves():
    def tax_code(section_type, attrs, header):
        if section_type == tarvik_py.SectionType.Document:
            attrs["ПоказательКБК"] = "18210101"
            attrs.pop("Код", None)

    lines = samples.statement_lines(samples.document_section({"Код": "0", "ОКАТО": "45"}))
    reading = tarvik.read(samples.utf8(lines), hooks=[tax_code])
    assert list(reading.document_extras()) == [{"ОКАТО": "45", "ПоказательКБК": "18210101"}]


def test_a_utf16_file_says_so_and_is_written_back_in_an_encoding_named():
    lines = samples.statement_lines(samples.document_section())
    data = "\ufeff".encode("utf-16-le") + "\r\n".join(lines).encode("utf-16-le") + "\r\n".encode("utf-16-le")
    reading = tarvik.read(data)
    assert reading.encoding == "utf-16" and tarvik_py.parse(data).encoding == "cp1251"
    with pytest.raises(ValueError, match="UTF-16"):
        tarvik.write(reading)
    assert tarvik.read(tarvik.write(reading, encoding="utf-8")).statement.documents == reading.statement.documents
