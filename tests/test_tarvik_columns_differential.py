"""tarvik.to_arrow's native tables against the same tables built from tarvik.read's records.

The reference is `tarvik.columns.from_reading`: tarvik_py's records, the Python repairs as hooks,
value by value through pyarrow. Every table, the header, the encoding and the changes must be
equal, schemas and nullability included; a statement that does not read must raise the very
exception tarvik.read raises.
"""

from __future__ import annotations

import json
import subprocess
import sys
from pathlib import Path

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import tarvik
import test_properties as gen
import test_tarvik_write
from samples import MARKER, account_section, document_section
from tarvik.columns import Columns, from_reading

pa = pytest.importorskip("pyarrow")

ROOT = Path(__file__).resolve().parent.parent
CORPUS = sorted((ROOT.parent / "shared" / "corpus" / "real").glob("*.txt"))
GENERATOR = ROOT / "bench" / "gen_statements.py"
TABLES = ("documents", "intervals", "warnings", "changes")


def outcome(run):
    try:
        return run(), None
    except Exception as exc:  # noqa: BLE001 - every failure is compared
        return None, exc


def exception_facts(exc):
    detail = getattr(exc, "detail", None)
    facts = [type(exc), str(exc), exc.args, getattr(exc, "__notes__", None), type(detail)]
    if detail is not None:
        facts.append({name: getattr(detail, name) for name in dir(detail) if not name.startswith("_")
                      and not callable(getattr(detail, name))})
    return facts


def assert_same_columns(native: Columns, reference: Columns) -> None:
    assert native.header == reference.header
    assert list(native.header) == list(reference.header)
    assert (native.encoding, native.byte_order_mark, native.name) == (
        reference.encoding, reference.byte_order_mark, reference.name)
    for name in TABLES:
        got, want = getattr(native, name), getattr(reference, name)
        assert got.schema.equals(want.schema), (name, got.schema, want.schema)
        assert got.equals(want), (name, got.to_pylist()[:3], want.to_pylist()[:3])


def assert_differential(source, *, repairs=True):
    native, native_error = outcome(lambda: tarvik.to_arrow(source, repairs=repairs))
    reference, reference_error = outcome(
        lambda: from_reading(tarvik.read(source, repairs=repairs)))
    if reference_error is not None or native_error is not None:
        assert native_error is not None and reference_error is not None, (native_error, reference_error)
        assert exception_facts(native_error) == exception_facts(reference_error)
        return None
    assert_same_columns(native, reference)
    return native


@pytest.mark.parametrize("repairs", [True, False])
@pytest.mark.parametrize("path", CORPUS, ids=lambda p: p.name)
def test_real_statements(path, repairs):
    assert_differential(path, repairs=repairs)


GENERATED = {
    "realistic cp1251": "--size-mb 0.5 --encoding cp1251",
    "realistic utf-8, defective": "--size-mb 0.5 --encoding utf-8 --defective-share 0.2 --seed 3",
    "accounts": "--shape accounts --size-mb 0.3 --encoding cp1251",
}


@pytest.mark.parametrize("args", GENERATED.values(), ids=list(GENERATED))
def test_generated_statements(tmp_path, args):
    path = tmp_path / "statement.txt"
    subprocess.run([sys.executable, GENERATOR, "-o", path, *args.split()], check=True)
    meta = json.loads(path.with_name(path.name + ".json").read_text())
    assert assert_differential(path) is not None
    # The defects are the strict reader's: some bad amounts are ones the repairs mend.
    columns = assert_differential(path, repairs=False)
    assert columns is not None
    assert columns.warnings.num_rows == meta["defective"]
    assert columns.documents.num_rows == meta["documents"] - meta["defective"]


# Values that the repairs act on, and some they must leave alone.
AMOUNTS = st.sampled_from([
    "1500.00", "15 000,00", "1\u00a0000", "1\u202f000,50", "12,5", "1,000.00", "-7 000", "1 000 руб",
    "\u0663,\u0665", "+3,0", "1 23,00", "", " ", "5e2", "79228162514264337593543950335,1",
    "1,0000000000000000000000000001",
])
NAMES = st.sampled_from([None, "", "ООО «Ёлка»", " ", "O'Brien \"и\" сыновья", "a\tb", "\xa0x"])
PURPOSE_LINES = st.lists(st.sampled_from(["", "  за  ", "аренду\u3000", "\u2003офиса", "№ 5", "\x1f"]),
                         max_size=4)
YO_KEYS = {"ПолучательСчет": "ПолучательСчёт", "ПлательщикСчет": "ПлательщикСчёт",
           "ВсегоСписано": "ВсёгоСписано", "Плательщик": "ПлательщикЁ"}


@st.composite
def repaired_documents(draw):
    changes = {"Сумма": draw(AMOUNTS)}
    for key, source in (("Получатель", "Получатель1"), ("Плательщик", "Плательщик1")):
        changes[key] = draw(NAMES)
        changes[source] = draw(NAMES)
    lines = draw(PURPOSE_LINES)
    if lines:
        changes["НазначениеПлатежа"] = draw(st.sampled_from([None, "Оплата"]))
        for n, line in enumerate(lines, start=draw(st.integers(1, 3))):
            changes[f"НазначениеПлатежа{n}"] = line
    section = document_section(changes)
    for plain, yo in YO_KEYS.items():
        if draw(st.booleans()):
            section = [f"{yo}={line.partition('=')[2]}" if line.startswith(plain + "=") else line
                       for line in section]
    return section


@st.composite
def repaired_accounts(draw):
    changes = {key: draw(st.one_of(st.none(), AMOUNTS))
               for key in ("ВсегоПоступило", "ВсегоСписано", "КонечныйОстаток")}
    changes["НачальныйОстаток"] = draw(AMOUNTS)
    section = account_section(changes)
    if draw(st.booleans()):
        section = [line.replace("ВсегоСписано=", "ВсёгоСписано=") for line in section]
    return section


@st.composite
def repaired_statements(draw):
    lines = [MARKER, "ВерсияФормата=1.03"]
    sections = st.one_of(repaired_documents(), repaired_accounts(), gen.sections())
    for section in draw(st.lists(sections, min_size=1, max_size=5)):
        lines.extend(section)
    lines.append("КонецФайла")
    text = "\r\n".join(lines) + "\r\n"
    encoding = draw(st.sampled_from(["utf-8", "cp1251", "cp866"]))
    try:
        data = text.encode(encoding)
    except UnicodeEncodeError:
        data = text.encode("utf-8")
    if encoding == "cp866" and data != text.encode("utf-8"):
        data = data.replace(b"\r\n", "\r\nКодировка=DOS\r\n".encode("cp866"), 1)
    return draw(st.sampled_from([data, b"\xef\xbb\xbf" + data]))


@settings(max_examples=gen.examples(4000), suppress_health_check=[HealthCheck.too_slow])
@given(st.one_of(repaired_statements(), repaired_statements(), test_tarvik_write.statements(),
                 gen.inputs()),
       st.booleans())
def test_property_inputs(data, repairs):
    assert_differential(data, repairs=repairs)


def test_failures_raise_what_read_raises_with_the_file_named(tmp_path):
    path = tmp_path / "broken.txt"
    path.write_bytes(f"{MARKER}\r\nСекцияДокумент=x\r\nКонецФайла\r\n".encode())
    _, native = outcome(lambda: tarvik.to_arrow(path))
    _, reference = outcome(lambda: tarvik.read(path))
    assert native is not None and exception_facts(native) == exception_facts(reference)
    assert native.__notes__ == [f"in {path}"]
