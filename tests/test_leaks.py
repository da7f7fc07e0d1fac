"""Thousands of calls through every outcome must leave memory and reference counts as they were."""

import gc
import os
import pickle
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import tarvik_py
from samples import account_section, document_section, mid_size, statement_lines, utf8

TESTS = Path(__file__).resolve().parent


class Blob(bytes):
    pass


class Text(str):
    pass


class BadSequence:
    """Passes the sequence test, then fails while it is iterated."""

    def __len__(self):
        raise RuntimeError("no length")

    def __getitem__(self, index):
        raise TypeError("no items")


class Inputs:
    """Statements and hooks made at run time, so that none of them is immortal."""

    def __init__(self, documents=5):
        lines = mid_size(documents)
        self.good = utf8(lines)
        self.text = self.good.decode("utf-8")
        self.cp1251 = self.text.encode("cp1251")
        self.subclassed = Blob(self.good)
        self.warned = utf8(
            statement_lines(
                account_section(), document_section({"Сумма": "1,5"}), document_section()
            )
        )
        end = "КонецФайла\r\n".encode()
        self.unfinished = self.good[: -len(end)]
        self.unrecognized = self.good + b"???\r\n"
        self.unexpected_section = self.good + "КонецФайла\r\n".encode()
        self.unexpected_attribute = self.unfinished + "Ключ=Значение\r\n".encode() + end
        self.missing_field = utf8(statement_lines(account_section({"РасчСчет": None})))
        self.account_error = utf8(statement_lines(account_section({"ДатаНачала": "x"})))
        self.not_statement = "".join(["not a ", "statement"]).encode()
        self.surrogate = "1CClientBankExchange\r\n\ud800"
        self.marker = "".join(["mark", "er"])
        self.kept = []

        marker, kept = self.marker, self.kept

        def store(kind, attrs, header):
            attrs["kept"] = marker
            header["lost"] = marker
            kept.append((kind, attrs, header))

        def raising(kind, attrs, header):
            raise ValueError(marker)

        def interrupting(kind, attrs, header):
            raise KeyboardInterrupt(marker)

        def not_text(kind, attrs, header):
            attrs[marker] = len(marker)

        self.store, self.raising = store, raising
        self.hooks = [store, lambda *args: None]
        self.failing_hooks = [[raising], [interrupting], [not_text], [store, 5]]

    def watched(self):
        return [
            self.good, self.text, self.cp1251, self.subclassed, self.warned, self.unfinished,
            self.unrecognized, self.marker, self.hooks, self.store, self.raising,
            *self.failing_hooks, *(h for hooks in self.failing_hooks for h in hooks),
            tarvik_py.Statement, tarvik_py.Document, tarvik_py.Account, tarvik_py.Interval,
            tarvik_py.SectionType, tarvik_py.SectionType.Document, tarvik_py.SectionType.Account,
            tarvik_py.HookError, tarvik_py.MissingField, tarvik_py.SyntaxError,
            tarvik_py.UnfinishedError, tarvik_py.NotStatementError,
            *package().hooks.REPAIRS, package()._columns.Recording, package()._columns.Table,
        ]

    def exercise(self):
        """One round through every outcome; keeps nothing."""
        for data in (self.good, self.text, self.cp1251, self.subclassed, Text(self.text)):
            statement = tarvik_py.parse(data, self.hooks)
            repr(statement)
            for document in statement.documents[:2]:
                repr(document)
                [getattr(document, name) for name in ("doc_date", "amount", "payee")]
            for account in statement.accounts.values():
                [repr(i) for i in account.intervals]
                account == account
        assert len(tarvik_py.parse(self.warned).warnings) == 1
        self.kept.clear()
        for data, hooks in (
            (self.unfinished, None),
            (self.unrecognized, None),
            (self.unexpected_section, None),
            (self.unexpected_attribute, None),
            (self.missing_field, None),
            (self.account_error, None),
            (self.not_statement, None),
            *((self.good, hooks) for hooks in self.failing_hooks),
        ):
            try:
                tarvik_py.parse(data, hooks)
            except tarvik_py.SyntaxError as exc:
                repr(exc.detail)
            except tarvik_py.ParseError:
                pass
            else:
                raise AssertionError("parsed")
        for call in (
            lambda: tarvik_py.parse(self.surrogate),
            lambda: tarvik_py.parse(bytearray(self.good)),
            lambda: tarvik_py.parse(self.good, self.marker),
            lambda: tarvik_py.parse(self.good, BadSequence()),
            lambda: tarvik_py.parse(self.good, hook=self.hooks),
            lambda: tarvik_py.HookError(1, len(self.marker)),
            lambda: tarvik_py.HookError(self.marker, "m"),
        ):
            try:
                call()
            except TypeError:
                pass
            else:
                raise AssertionError("accepted")
        detail = tarvik_py.UnexpectedSection(5, self.marker, "header")
        pickle.loads(pickle.dumps(detail))
        self.kept.clear()

    def exercise_package(self):
        """The package's native half: the repairs and the recording inside tarvik_py, and tables."""
        tarvik = package()
        _columns = tarvik._columns
        for data in (self.warned, self.cp1251, self.unfinished):
            try:
                reading = tarvik.read(data, hooks=[self.store])
            except tarvik_py.ParseError:
                continue
            [str(change) for change in reading.changes]
            reading.document_lines(), reading.interval_lines()
            tarvik_py.parse(data, [self.store, *tarvik.hooks.REPAIRS])
            read = _columns.read(data, True)
            [len(table) for table in (read.documents, read.intervals, read.warnings, read.changes)]
            read.changes.__arrow_c_stream__()
        attrs = {"Сумма": "1 000,5", "Получатель1": self.marker, "НазначениеПлатежа1": self.marker}
        for repair in tarvik.hooks.REPAIRS:
            repair.apply(tarvik_py.SectionType.Document, attrs)
        try:
            tarvik.hooks.comma_amounts(tarvik_py.SectionType.Document, {self.marker: 1}, {})
        except TypeError:
            pass
        self.kept.clear()


def package():
    """tarvik, imported when first needed: the heap of the module's own rounds is measured in a
    process that has not imported it."""
    import tarvik
    import tarvik._columns

    return tarvik


def settled(inputs):
    # The first rounds fill the interpreter's caches (type attribute caches, interned keys, the
    # free lists), which keep growing a little for a few hundred rounds and then stop: by a
    # block every few rounds, where a leak would be a block or more a round.
    for _ in range(200):
        inputs.exercise()
        inputs.exercise_package()
    gc.collect()


def test_reference_counts_are_unchanged():
    inputs = Inputs()
    settled(inputs)
    watched = inputs.watched()
    before = [sys.getrefcount(obj) for obj in watched]
    for _ in range(200):
        inputs.exercise()
        inputs.exercise_package()
    gc.collect()
    after = [sys.getrefcount(obj) for obj in watched]
    changed = [(repr(obj)[:60], b, a) for obj, b, a in zip(watched, before, after) if a != b]
    assert changed == []


def test_python_objects_do_not_accumulate():
    inputs = Inputs()
    settled(inputs)
    objects, blocks = len(gc.get_objects()), sys.getallocatedblocks()
    for _ in range(500):
        inputs.exercise()
        inputs.exercise_package()
    gc.collect()
    # A leak of one object or block per round would be five hundred of them.
    assert len(gc.get_objects()) - objects < 50
    assert sys.getallocatedblocks() - blocks < 200


HEAP_SCRIPT = textwrap.dedent(
    """
    import ctypes, gc, sys
    sys.path.insert(0, sys.argv[1])
    from test_leaks import Inputs

    class Mallinfo2(ctypes.Structure):
        _fields_ = [(name, ctypes.c_size_t) for name in (
            "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks",
            "uordblks", "fordblks", "keepcost")]

    libc = ctypes.CDLL(None)
    libc.mallinfo2.restype = Mallinfo2

    def in_use():
        gc.collect()
        info = libc.mallinfo2()
        return info.uordblks + info.hblkhd

    def rss():
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * 4096

    inputs = Inputs(int(sys.argv[3]))
    rounds = int(sys.argv[2])
    exercise = getattr(inputs, sys.argv[4])
    # The first batch settles the interpreter's caches and free lists; the second must not grow.
    for _ in range(rounds):
        exercise()
    heap, resident = in_use(), rss()
    for _ in range(rounds):
        exercise()
    print(in_use() - heap, rss() - resident)
    """
)


def heap_growth(rounds, documents, exercise):
    # Every allocation, Python objects included, goes through malloc, where mallinfo2 sees it.
    env = dict(os.environ, PYTHONMALLOC="malloc")
    done = subprocess.run(
        [sys.executable, "-c", HEAP_SCRIPT, str(TESTS), str(rounds), str(documents), exercise],
        capture_output=True,
        text=True,
        env=env,
        timeout=300,
    )
    assert done.returncode == 0, done.stderr
    heap, resident = map(int, done.stdout.split())
    return heap, resident


@pytest.mark.asan_unfit(reason="ASan's allocator does not report to mallinfo2")
@pytest.mark.parametrize(
    "rounds, documents, exercise, bound",
    [
        # One small object lost per round would be thousands of them, tens of kilobytes.
        pytest.param(1000, 5, "exercise", 16 * 1024, id="many-small-statements"),
        # A per-call buffer lost with a 300 kB statement would be megabytes after a dozen rounds.
        pytest.param(12, 600, "exercise", 256 * 1024, id="few-large-statements"),
        # The package's round allocates more, and its heap wanders by some 20 kB whatever the
        # rounds: an object lost per round would be a hundred kilobytes more.
        pytest.param(3000, 5, "exercise_package", 64 * 1024, id="package"),
    ],
)
def test_heap_does_not_grow(rounds, documents, exercise, bound):
    try:
        import ctypes

        ctypes.CDLL(None).mallinfo2
    except (ImportError, AttributeError, OSError):
        pytest.skip("no glibc mallinfo2")
    heap, resident = heap_growth(rounds, documents, exercise)
    assert heap < bound, f"heap grew by {heap} bytes"
    assert resident < 4 * bound + 1024 * 1024, f"resident set grew by {resident} bytes"
