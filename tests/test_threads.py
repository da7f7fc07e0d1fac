"""Parses running at once in several threads, interleaved inside their hooks, do not interfere."""

import random
import sys
import threading
import time

import pytest

import tarvik_py
from samples import document_section, mid_size, statement_lines, utf8

DOCUMENT_FIELDS = ("doc_number", "doc_type", "doc_date", "amount", "purpose", "income_date")
INTERVAL_FIELDS = ("date_start", "date_end", "start_amount", "end_amount", "total_income")


def snapshot(call):
    """What a caller sees of one call, as plain values."""
    try:
        statement = call()
    except tarvik_py.SyntaxError as exc:
        return (type(exc), exc.args, type(exc.detail), exc.detail.__getnewargs__())
    except tarvik_py.ParseError as exc:
        return (type(exc), exc.args, hasattr(exc, "detail"))
    return (
        repr(statement),
        list(statement.header.items()),
        [
            (number, [[getattr(i, f) for f in INTERVAL_FIELDS] for i in account.intervals])
            for number, account in statement.accounts.items()
        ],
        [[getattr(d, f) for f in DOCUMENT_FIELDS] for d in statement.documents],
        list(statement.warnings),
    )


def yielding(tag):
    """A hook that lets other threads in, then leaves a mark that only its own parse may see."""

    def hook(kind, attrs, header):
        time.sleep(0)
        if kind == tarvik_py.SectionType.Document:
            attrs["Номер"] = tag
            time.sleep(0.0005)
            attrs["НазначениеПлатежа"] = tag * 3
        else:
            attrs["РасчСчет"] = tag

    return hook


def failing(after):
    seen = []

    def hook(kind, attrs, header):
        time.sleep(0)
        if len(seen) == after:
            seen.clear()
            raise ValueError(f"stop at {after}")
        seen.append(kind)

    return hook


def nested(kind, attrs, header):
    attrs["Номер"] = tarvik_py.parse(INNER).documents[0].doc_number


INNER = utf8(statement_lines(document_section({"Номер": "inner"})))
BIG = utf8(mid_size(300))
CASES = {
    "plain": (utf8(mid_size(20)), None),
    "str": (utf8(mid_size(20)).decode("utf-8"), None),
    "cp1251": ("\r\n".join(mid_size(20)).encode("cp1251") + b"\r\n", None),
    "big": (BIG, None),
    "big-hooked": (BIG, [yielding("big")]),
    "warnings": (
        utf8(statement_lines(document_section({"Дата": ""}), document_section())),
        [yielding("w")],
    ),
    "not-statement": (b"\xff\xfe\x00", None),
    "unfinished": (utf8(mid_size(20))[:-5], [yielding("u")]),
    "unrecognized": (utf8(mid_size(20)) + b"junk\r\n", None),
    "unexpected": (utf8(mid_size(20)) + "КонецФайла\r\n".encode(), [yielding("x")]),
    "hook-non-str": (utf8(mid_size(3)), [lambda k, a, h: a.update({"Сумма": 1})]),
    "nested": (utf8(mid_size(3)), [nested]),
    **{f"tagged-{n}": (utf8(mid_size(10)), [yielding(str(n))]) for n in range(6)},
}


@pytest.fixture
def fast_switching():
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(interval)


def run_in_threads(names, threads, rounds, wanted):
    """Each thread parses the named cases `rounds` times in its own order; returns mismatches."""
    start = threading.Barrier(threads)
    problems = []

    def work(seed):
        order = [name for name in names for _ in range(rounds)]
        random.Random(seed).shuffle(order)
        start.wait()
        try:
            for name in order:
                data, hooks = CASES[name]
                got = snapshot(lambda: tarvik_py.parse(data, hooks))
                if got != wanted[name]:
                    problems.append((name, got))
        except BaseException as exc:  # reported by the test
            problems.append(("raised", exc))

    workers = [threading.Thread(target=work, args=(seed,)) for seed in range(threads)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    return problems


def test_every_result_is_the_lone_result(fast_switching):
    names = list(CASES)
    wanted = {name: snapshot(lambda: tarvik_py.parse(*CASES[name])) for name in names}
    assert wanted["tagged-3"][3][0][0] == "3"  # the hook's mark reached the record
    assert wanted["nested"][3][0][0] == "inner"
    assert wanted["warnings"][4] and wanted["warnings"][3]
    assert run_in_threads(names, threads=4, rounds=4, wanted=wanted) == []


def test_failures_in_threads(fast_switching):
    # Only failing calls: each thread's hook fails at its own section, and the line numbers
    # must be those of that thread's parse.
    names = [f"fail-{n}" for n in range(4)]
    data = utf8(mid_size(12))
    wanted = {}
    for n, name in enumerate(names):
        CASES[name] = (data, [yielding(str(n)), failing(n + 2)])
        wanted[name] = snapshot(lambda: tarvik_py.parse(*CASES[name]))
    try:
        lines = {wanted[name][3][0] for name in names}
        assert len(lines) == 4  # four different closing lines
        problems = []
        barrier = threading.Barrier(4)

        def work(name):
            barrier.wait()
            for _ in range(15):
                got = snapshot(lambda: tarvik_py.parse(*CASES[name]))
                if got != wanted[name]:
                    problems.append((name, got))

        workers = [threading.Thread(target=work, args=(name,)) for name in names]
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()
        assert problems == []
    finally:
        for name in names:
            del CASES[name]


def test_hook_errors_leave_other_threads_alone(fast_switching):
    # A thread whose hooks raise KeyboardInterrupt and SystemExit sees HookErrors only; the
    # other threads' parses, interleaved with it, still come out whole.
    def interrupting(kind, attrs, header):
        time.sleep(0)
        raise KeyboardInterrupt("stop")

    def exiting(kind, attrs, header):
        raise SystemExit(2)

    data = utf8(mid_size(8))
    messages = []
    wanted = snapshot(lambda: tarvik_py.parse(data, [yielding("ok")]))
    problems = []

    def raiser():
        for _ in range(40):
            for hook in (interrupting, exiting):
                with pytest.raises(tarvik_py.SyntaxError) as info:
                    tarvik_py.parse(data, [hook])
                messages.append(info.value.detail.message)

    def parser():
        for _ in range(40):
            got = snapshot(lambda: tarvik_py.parse(data, [yielding("ok")]))
            if got != wanted:
                problems.append(got)

    workers = [threading.Thread(target=f) for f in (raiser, parser, parser, parser)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    assert problems == []
    assert sorted(set(messages)) == ["KeyboardInterrupt: stop", "SystemExit: 2"]
    assert len(messages) == 80
