import gc
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import tarvik_py
from samples import account_section, document_section, mid_size, statement_lines, utf8

TESTS = Path(__file__).resolve().parent


def exercise(data, text, hooks, marker):
    """Successes, warnings, every exception kind and failing hooks; returns nothing kept."""
    statement = tarvik_py.parse(data, hooks)
    for document in statement.documents[:3]:
        repr(document)
        [getattr(document, name) for name in ("doc_date", "amount", "payee", "income_date")]
    for account in statement.accounts.values():
        [repr(i) for i in account.intervals]
    tarvik_py.parse(text)
    for call in (
        lambda: tarvik_py.parse(data[: -len("КонецФайла\r\n".encode())]),
        lambda: tarvik_py.parse(b"not a statement"),
        lambda: tarvik_py.parse(data + b"???\r\n"),
        lambda: tarvik_py.parse(data, [lambda t, a, h: a.update({"k": marker, "n": 1})]),
        lambda: tarvik_py.parse(data, [lambda t, a, h: (_ for _ in ()).throw(ValueError(marker))]),
        lambda: tarvik_py.parse(data, [marker]),
        lambda: tarvik_py.parse(data, marker),
        lambda: tarvik_py.parse(data, 5),
        lambda: tarvik_py.parse(bytearray(data)),
        lambda: tarvik_py.parse(data, hook=hooks),
        lambda: tarvik_py.HookError(1, 2),
        lambda: tarvik_py.HookError(marker, "m"),
    ):
        try:
            call()
        except (TypeError, tarvik_py.ParseError):
            pass


def test_refcounts_are_unchanged_after_many_calls():
    data = utf8(mid_size(5))
    text = data.decode("utf-8")
    marker = "".join(["mark", "er"])  # made at run time: not immortal

    def store(kind, attrs, header):
        attrs["kept"] = marker
        header["lost"] = marker

    hooks = [store, lambda *a: None]
    watched = [
        data,
        text,
        marker,
        hooks,
        store,
        tarvik_py.Document,
        tarvik_py.Account,
        tarvik_py.Interval,
        tarvik_py.Statement,
        tarvik_py.SectionType,
        tarvik_py.SectionType.Account,
        tarvik_py.HookError,
        tarvik_py.UnrecognizedLine,
        tarvik_py.SyntaxError,
        tarvik_py.UnfinishedError,
        tarvik_py.NotStatementError,
    ]
    exercise(data, text, hooks, marker)
    gc.collect()
    before = [sys.getrefcount(obj) for obj in watched]
    for _ in range(300):
        exercise(data, text, hooks, marker)
    gc.collect()
    after = [sys.getrefcount(obj) for obj in watched]
    assert after == before


def test_result_holds_one_reference_to_each_container():
    statement = tarvik_py.parse(utf8(mid_size(3)))
    for name in ("header", "accounts", "documents", "warnings"):
        container = getattr(statement, name)
        # the statement, the name and the argument of getrefcount
        assert sys.getrefcount(container) == 3
        del container
    assert sys.getrefcount(statement) == 2
    document = statement.documents[0]
    assert sys.getrefcount(document) == 3  # the list, the name, the argument


def test_hook_arguments_are_released():
    kept = []
    tarvik_py.parse(utf8(statement_lines(document_section())), [lambda *args: kept.append(args)])
    (args,) = kept
    for arg in args:
        assert sys.getrefcount(arg) == 3  # the tuple, the loop variable, the argument


NOMEMORY_SCRIPT = textwrap.dedent(
    """
    import sys
    sys.path.insert(0, sys.argv[1])
    from functools import partial
    from operator import attrgetter

    import _testcapi
    import tarvik_py
    from samples import account_section, document_section, statement_lines, utf8

    data = utf8(statement_lines(account_section(), document_section(), document_section({"Дата": ""})))
    broken = data + b"???\\r\\n"
    unfinished = data[: -len("КонецФайла\\r\\n".encode())]
    text = data.decode()
    made = tarvik_py.parse(data)
    document = made.documents[0]
    account = next(iter(made.accounts.values()))

    def hook(kind, attrs, header):
        attrs["extra"] = "x"

    def bad_hook(kind, attrs, header):
        attrs["k"] = 1

    def quiet_hook(kind, attrs, header):
        pass

    # name: (step, what it gives once memory suffices, what else it may give while it runs short)
    # The steps are C callables: the interpreter itself can lose an exception when memory runs
    # out while it makes the frame object of a Python function that the exception leaves.
    steps = {
        "parse": (partial(tarvik_py.parse, data), "ok", ()),
        "parse-str": (partial(tarvik_py.parse, text), "ok", ()),
        # A hook that allocates nothing cannot fail: what fails is the bridge's own work, which
        # must come out as MemoryError, not as a HookError.
        "parse-quiet-hook": (partial(tarvik_py.parse, data, [quiet_hook]), "ok", ()),
        # The hook's own MemoryError is its failure, a HookError.
        "parse-hooks": (partial(tarvik_py.parse, data, [hook]), "ok", ("SyntaxError",)),
        "parse-broken": (partial(tarvik_py.parse, broken), "SyntaxError", ()),
        "parse-bad-hook": (partial(tarvik_py.parse, data, [bad_hook]), "SyntaxError", ()),
        "parse-unfinished": (partial(tarvik_py.parse, unfinished), "UnfinishedError", ()),
        "parse-bad-hooks": (partial(tarvik_py.parse, data, 1), "TypeError", ()),
        "statement-repr": (partial(repr, made), "ok", ()),
        "document-repr": (partial(repr, document), "ok", ()),
        "document-amount": (partial(attrgetter("amount"), document), "ok", ()),
        "account-repr": (partial(repr, account), "ok", ()),
        "intervals": (partial(attrgetter("intervals"), account), "ok", ()),
        "detail": (partial(tarvik_py.HookError, 1, "m"), "ok", ()),
        "detail-error": (partial(tarvik_py.HookError, 1, 2), "TypeError", ()),
        "getnewargs": (tarvik_py.HookError(1, "m").__getnewargs__, "ok", ()),
    }

    single = sys.argv[2] == "single"

    def attempt(step, start):
        here = sys._getframe()  # made now, so that no frame object is needed while memory is short
        _testcapi.set_nomemory(start, start + 1 if single else 0)
        try:
            step()
        finally:
            _testcapi.remove_mem_hooks()

    def run(step, start):
        try:
            attempt(step, start)
            return "ok"
        except BaseException as exc:
            return type(exc).__name__

    # Fail the first allocation, then the second, and so on (either that one alone or all from it
    # on), until the step runs through: once it has given its normal outcome many times in a
    # row, no allocation is left to fail.
    for name, (step, normal, also_allowed) in steps.items():
        start = 1
        streak = 0
        while streak < 64:
            outcome = run(step, start)
            streak = streak + 1 if outcome == normal else 0
            if outcome not in (normal, "MemoryError", *also_allowed):
                print(name, "at allocation", start, "gave", outcome)
                sys.exit(1)
            start += 1
    print("done")
    """
)


@pytest.mark.parametrize("mode", ["single", "from-then-on"])
def test_memory_exhaustion_gives_memory_error_only(mode):
    pytest.importorskip("_testcapi")
    done = subprocess.run(
        [sys.executable, "-c", NOMEMORY_SCRIPT, str(TESTS), mode],
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert done.returncode == 0, done.stderr[-2000:]
    assert done.stdout == "done\n"
