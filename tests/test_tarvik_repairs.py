"""The native repairs against the plain rules of repair_model, and the lines they are reported on.

The repairs run inside the reader, on each section's lines; the model runs the same rules on the
dicts tarvik_py hands a Python hook, and finds each change's line in the text afterwards. Both
must read the same statement and report the same changes on the same lines, for the corpus and
for generated statements; and Python hooks mixed among the native ones must change nothing.
"""

from __future__ import annotations

from pathlib import Path

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import repair_model
import tarvik
import tarvik_py
import test_properties as gen
import test_tarvik_write
from samples import MARKER
from tarvik import hooks
from tarvik._sources import prepare as _prepare
from test_tarvik_columns_differential import repaired_statements

ROOT = Path(__file__).resolve().parent.parent
CORPUS = sorted((ROOT.parent / "shared" / "corpus" / "real").glob("*.txt"))


def outcome(run):
    try:
        return run(), None
    except tarvik_py.ParseError as exc:
        return None, (type(exc), str(exc))


def records(statement):
    return (
        statement.header,
        statement.documents,
        {number: account.intervals for number, account in statement.accounts.items()},
        statement.warnings,
    )


def model_read(data):
    """The statement and the changes as the plain rules make them: (records, changes)."""
    text, _, _ = _prepare(data)
    recorder = repair_model.Recorder()
    statement = tarvik_py.parse(text, [recorder])
    decoded, _ = gen.decode(text)
    lines = decoded.split("\n")
    openings = repair_model.section_openings(lines)
    changes = [
        (repair_model.key_line(lines, openings[ordinal], edit.source), edit.repair, edit.key,
         edit.old, edit.new, edit.message)
        for ordinal, edit in recorder.edits
    ]
    return records(statement), changes


def native_read(data):
    reading = tarvik.read(data)
    changes = [(c.lineno, c.repair, c.key, c.old, c.new, c.message) for c in reading.changes]
    return records(reading.statement), changes


# The repairs of damaged lines, which the reader makes (the model reads as tarvik_py does).
DAMAGE = {"skipped_line", "late_header", "bare_section", "misspelt_marker", "no_marker", "keyword_encoding"}


def assert_same_as_the_model(data):
    native, native_error = outcome(lambda: native_read(data))
    model, model_error = outcome(lambda: model_read(data))
    if model_error is not None and native_error is None:
        # Read only leniently: the damage around the records is reported, a line or a section
        # (test_tarvik_damage holds what such a reading gives).
        reading = tarvik.read(data)
        assert {c.repair for c in reading.changes} & DAMAGE or "account" in reading.warning_sections()
        return
    if model_error is not None and native_error is not None:
        # Refused both ways; leniently, at what stays after the damage it reads past.
        return
    assert native_error == model_error
    assert native == model


@pytest.mark.parametrize("path", CORPUS, ids=lambda p: p.name)
def test_real_statements_read_as_the_rules_say(path):
    assert_same_as_the_model(path.read_bytes())


@settings(max_examples=gen.examples(1500), suppress_health_check=[HealthCheck.too_slow])
@given(st.one_of(repaired_statements(), test_tarvik_write.statements(), gen.inputs()))
def test_generated_statements_read_as_the_rules_say(data):
    assert_same_as_the_model(data)


# --- each repair called from Python, on a dict ---------------------------------------------------

SECTION_KEYS = st.sampled_from([
    "Сумма", "Получатель", "Получатель1", "Плательщик", "Плательщик1", "НазначениеПлатежа",
    "НазначениеПлатежа1", "НазначениеПлатежа3", "НачальныйОстаток", "ВсегоСписано", "ПолучательСчёт",
    "ПолучательСчет", "ЁЁ", "ЁЕ", "Счёт", "ключ",
])
SECTION_VALUES = st.sampled_from([
    "", " ", "1 000,50", "15000.00", "12,5", "\u0661 \u0662\u0663\u0664,\u0665", "ООО «Ёлка»",
    "it's \"quoted\"", "\x85a\u2028", " за  ", "\u0378", "1\u202f000",
])


@settings(max_examples=gen.examples(800))
@given(st.sampled_from(list(zip(hooks.REPAIRS, repair_model.RULES))),
       st.sampled_from([tarvik_py.SectionType.Document, tarvik_py.SectionType.Account]),
       st.dictionaries(SECTION_KEYS, SECTION_VALUES, max_size=8))
def test_a_repair_called_with_a_dict_changes_it_as_the_rule_does(pair, section_type, attrs):
    repair, rule = pair
    native, model = dict(attrs), dict(attrs)
    edits = repair.apply(section_type, native)
    expected = rule(section_type, model)
    assert list(native.items()) == list(model.items())
    assert [tuple(e) for e in edits] == [(e.key, e.old, e.new, e.source, e.message) for e in expected]
    called = dict(attrs)
    assert repair(section_type, called, {}) is None and called == native


def test_plain_amount_is_the_rule_s():
    for text in ["15 000,00", "1,000.00", "\u0661\u0662,\u0665", "1 000 руб", "-7 000", "5,"]:
        assert hooks.plain_amount(text) == repair_model.plain_amount(text)


# --- lines ---------------------------------------------------------------------------------------


def assert_lines_hold_their_keys(data):
    try:
        reading = tarvik.read(data)
    except tarvik_py.ParseError:
        return
    text, _, _ = _prepare(data)
    lines = gen.decode(text)[0].split("\n")
    for change in reading.changes:
        if change.repair in DAMAGE:  # the damaged line itself
            if change.repair != "no_marker":
                assert lines[change.lineno - 1].rstrip("\r") == change.old
            continue
        written = lines[change.lineno - 1].partition("=")[0]
        key = written.replace("ё", "е").replace("Ё", "Е")  # as yo_in_keys reads it
        if change.repair == "yo_in_keys":
            assert written == change.old
        elif change.repair == "names_from_numbered":
            assert key == change.key + "1"
        elif change.repair == "purpose_from_numbered":
            assert key in repair_model.PURPOSE_LINES
        else:
            assert key == change.key
    opening = ("СекцияДокумент",)  # "=" and the type, or a bare one the reader took
    assert all(lines[n - 1].startswith(opening) for n in reading.document_lines())
    for account_lines in reading.interval_lines().values():
        assert all(lines[n - 1].rstrip("\r") == "СекцияРасчСчет" for n in account_lines)
    columns = tarvik.to_arrow(data)
    assert columns.documents.column("line").to_pylist() == reading.document_lines()
    assert columns.intervals.column("line").to_pylist() == [
        n for account_lines in reading.interval_lines().values() for n in account_lines]
    assert [c["line"] for c in columns.changes.to_pylist()] == [c.lineno for c in reading.changes]


@pytest.mark.parametrize("path", CORPUS, ids=lambda p: p.name)
def test_each_change_of_a_real_statement_stands_on_its_source_key(path):
    pytest.importorskip("pyarrow")
    assert_lines_hold_their_keys(path.read_bytes())


@settings(max_examples=gen.examples(400), suppress_health_check=[HealthCheck.too_slow])
@given(repaired_statements())
def test_each_change_of_a_generated_statement_stands_on_its_source_key(data):
    pytest.importorskip("pyarrow")
    assert_lines_hold_their_keys(data)


# --- Python hooks among the native ones ------------------------------------------------------------


def meddle(section_type, attrs, header):
    """A caller's hook that gives the repairs work: a comma, a numbered name, a key with ё."""
    if "Сумма" in attrs:
        attrs["Сумма"] = attrs["Сумма"].replace(".", ",")
    attrs.setdefault("Получатель1", "ООО Вставка")
    attrs.pop("Получатель", None)
    if "ПлательщикСчет" in attrs:
        attrs["ПлательщикСчёт"] = attrs.pop("ПлательщикСчет")


def through_python(hook):
    return lambda section_type, attrs, header: hook(section_type, attrs, header)


CHAINS = {
    "before": [meddle, *hooks.REPAIRS],
    "between": [*hooks.REPAIRS[:2], meddle, *hooks.REPAIRS[2:]],
    "after": [*hooks.REPAIRS, meddle],
    "twice": [meddle, *hooks.REPAIRS, meddle, *hooks.REPAIRS],
}


@pytest.mark.parametrize("chain", CHAINS.values(), ids=list(CHAINS))
@pytest.mark.parametrize("path", [ROOT / "examples" / "statement_cp1251.txt", *CORPUS],
                         ids=lambda p: p.name)
def test_python_hooks_among_native_ones_read_as_the_all_python_chain(chain, path):
    data = path.read_bytes()
    native = outcome(lambda: records(tarvik_py.parse(data, chain)))
    python = outcome(lambda: records(tarvik_py.parse(data, [through_python(h) for h in chain])))
    assert native == python


@settings(max_examples=gen.examples(300), suppress_health_check=[HealthCheck.too_slow])
@given(repaired_statements(), st.sampled_from(list(CHAINS.values())))
def test_mixed_chains_on_generated_statements(data, chain):
    native = outcome(lambda: records(tarvik_py.parse(data, chain)))
    python = outcome(lambda: records(tarvik_py.parse(data, [through_python(h) for h in chain])))
    assert native == python


def test_a_repair_reads_a_section_of_another_statement_read_inside_a_hook():
    """The repairs share what they learn per thread; a reading within a hook must not mislead them."""
    inner = f"{MARKER}\r\nСекцияДокумент=x\r\nПолучатель1=Внутри\r\nКонецДокумента\r\nКонецФайла\r\n"

    def reads_another(section_type, attrs, header):
        tarvik_py.parse(inner.encode(), list(hooks.REPAIRS))

    data = (ROOT / "examples" / "statement_cp1251.txt").read_bytes()
    chain = [hooks.yo_in_keys, hooks.names_from_numbered, reads_another, hooks.purpose_from_numbered,
             hooks.comma_amounts]
    assert records(tarvik_py.parse(data, chain)) == records(
        tarvik_py.parse(data, [through_python(h) for h in chain]))
