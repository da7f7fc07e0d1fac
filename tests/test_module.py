import builtins
import importlib
import inspect
import shutil
import subprocess
import sys
import textwrap
import types

import pytest

import tarvik_py

MEMBERS = [
    "Interval",
    "Account",
    "Document",
    "Statement",
    "SectionType",
    "UnexpectedSection",
    "UnexpectedAttribute",
    "UnrecognizedLine",
    "MissingField",
    "AccountParseError",
    "DocumentParseError",
    "HookError",
    "parse",
    "ParseError",
    "NotStatementError",
    "EmptyInputError",
    "UnfinishedError",
    "SyntaxError",
]

PARSE_HELP = "\n".join(
    [
        "Парсит выписку 1CClientBankExchange из байтов или строки.",
        "",
        "# Аргументы",
        "",
        "* `statement` - Сырые байты или строка файла выписки (поддерживает кодировки CP1251 и UTF-8)",
        "* `hooks` - Опциональный список callable для модификации секций во время парсинга.",
        "  Сигнатура hook: `(section_type: SectionType, attrs: dict, header: dict) -> None`",
        "  - `section_type`: тип секции (`SectionType.Document` или `SectionType.Account`)",
        "  - attrs: словарь атрибутов секции (можно модифицировать)",
        "  - header: словарь заголовка выписки (только для чтения)",
        "",
        "# Возвращает",
        "",
        "Объект Statement с атрибутами:",
        '- encoding: "cp1251" или "utf-8"',
        "- header: словарь пар ключ-значение заголовка",
        "- accounts: словарь номер счёта -> объект Account",
        "- documents: список объектов Document",
        "- warnings: список кортежей (lineno, message)",
        "",
        "# Ошибки",
        "",
        "* `NotStatementError` - Если входные данные не являются выпиской 1C",
        "* `EmptyInputError` - Если входные данные пусты",
        "* `UnfinishedError` - Если выписка не завершена корректно",
        "* `SyntaxError` - Если в выписке синтаксическая ошибка (включая ошибки hooks)",
        "* `ParseError` - Для прочих ошибок парсинга",
    ]
)


def test_all_lists_the_members_in_registration_order():
    assert tarvik_py.__all__ == MEMBERS
    assert type(tarvik_py.__all__) is list
    public = [name for name in vars(tarvik_py) if not name.startswith("__")]
    assert public == MEMBERS


def test_module_docstring():
    assert tarvik_py.__doc__ == "Python-модуль для парсинга банковских выписок 1CClientBankExchange."
    assert tarvik_py.__name__ == "tarvik_py"


def test_parse_is_a_builtin_bound_to_the_module():
    parse = tarvik_py.parse
    assert isinstance(parse, types.BuiltinFunctionType)
    assert parse.__name__ == "parse"
    assert parse.__qualname__ == "parse"
    assert parse.__module__ == "tarvik_py"
    assert parse.__self__ is tarvik_py


def test_parse_docstring_and_signature():
    assert tarvik_py.parse.__text_signature__ == "(statement, hooks=None)"
    assert tarvik_py.parse.__doc__ == PARSE_HELP
    signature = inspect.signature(tarvik_py.parse)
    assert [(p.name, p.kind, p.default) for p in signature.parameters.values()] == [
        ("statement", inspect.Parameter.POSITIONAL_OR_KEYWORD, inspect.Parameter.empty),
        ("hooks", inspect.Parameter.POSITIONAL_OR_KEYWORD, None),
    ]


@pytest.mark.parametrize(
    "name, base",
    [
        ("ParseError", Exception),
        ("NotStatementError", tarvik_py.ParseError),
        ("EmptyInputError", tarvik_py.ParseError),
        ("UnfinishedError", tarvik_py.ParseError),
        ("SyntaxError", tarvik_py.ParseError),
    ],
    ids=lambda v: v if isinstance(v, str) else None,
)
def test_exception_class(name, base):
    cls = getattr(tarvik_py, name)
    assert cls.__bases__ == (base,)
    assert cls.__name__ == cls.__qualname__ == name
    assert cls.__module__ == "tarvik_py"
    assert cls.__doc__ is None
    assert issubclass(cls, tarvik_py.ParseError)
    # No constructor or attributes of their own: an ordinary exception holding its args.
    error = cls("message")
    assert error.args == ("message",)
    assert str(error) == "message"
    assert not hasattr(error, "detail")


def test_module_syntax_error_is_not_the_builtin_one():
    assert not issubclass(tarvik_py.SyntaxError, builtins.SyntaxError)
    with pytest.raises(tarvik_py.ParseError):
        try:
            tarvik_py.parse("1CClientBankExchange\nнепонятная строка\n")
        except builtins.SyntaxError:  # pragma: no cover - must not catch it
            pytest.fail("caught by the built-in SyntaxError")


def test_importing_again_gives_the_same_module_and_classes():
    first = sys.modules.pop("tarvik_py")
    try:
        again = importlib.import_module("tarvik_py")
    finally:
        sys.modules["tarvik_py"] = first
    assert again is first
    assert again.Document is first.Document
    assert again.SyntaxError is first.SyntaxError


def test_reload_gives_the_same_module():
    assert importlib.reload(tarvik_py) is tarvik_py
    assert tarvik_py.__all__ == MEMBERS


def test_only_the_init_function_is_exported():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    out = subprocess.run(
        [nm, "-D", "--defined-only", tarvik_py.__file__], capture_output=True, text=True, check=True
    ).stdout
    symbols = [line.split()[-1] for line in out.splitlines() if line.strip()]
    assert symbols == ["PyInit_tarvik_py"]


SUBINTERPRETER_SCRIPT = textwrap.dedent(
    """
    import os, sys
    import tarvik_py

    probe = (
        "import os, sys\\n"
        "sys.path[:0] = %r\\n"
        "try:\\n"
        "    import tarvik_py\\n"
        "except ImportError as e:\\n"
        "    os.write(1, ('ImportError: ' + str(e) + '\\\\n').encode())\\n"
        "else:\\n"
        "    os.write(1, b'imported\\\\n')\\n"
    ) % (sys.path,)

    kind = sys.argv[1]
    if kind == "legacy":
        import _testcapi
        _testcapi.run_in_subinterp(probe)
    else:
        try:
            import _interpreters as interpreters
        except ImportError:
            import _xxsubinterpreters as interpreters
        interp = interpreters.create()
        interpreters.run_string(interp, probe)
        interpreters.destroy(interp)
    """
)


def _has_module(name):
    try:
        importlib.import_module(name)
    except ImportError:
        return False
    return True


@pytest.mark.parametrize("kind", ["legacy", "isolated"])
def test_sub_interpreter_import_fails(kind):
    if kind == "legacy" and not (
        _has_module("_testcapi") and hasattr(importlib.import_module("_testcapi"), "run_in_subinterp")
    ):
        pytest.skip("no _testcapi.run_in_subinterp")
    if kind == "isolated" and not (_has_module("_interpreters") or _has_module("_xxsubinterpreters")):
        pytest.skip("no sub-interpreter module")
    done = subprocess.run(
        [sys.executable, "-c", SUBINTERPRETER_SCRIPT, kind],
        capture_output=True,
        text=True,
        timeout=60,
    )
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert len(lines) == 1 and lines[0].startswith("ImportError: "), done.stdout + done.stderr
    message = lines[0]
    assert "sub-interpreters" in message or "subinterpreters" in message
    assert "http" not in message
    if kind == "legacy":
        # A legacy sub-interpreter lets single-phase modules load, so the answer is the module's.
        assert message == (
            "ImportError: tarvik_py does not support sub-interpreters: it can be imported only in "
            "the interpreter that imported it first"
        )


def test_parallel_first_imports_share_one_module():
    script = textwrap.dedent(
        """
        import sys, threading
        modules = []
        barrier = threading.Barrier(8)
        def work():
            barrier.wait()
            import tarvik_py
            modules.append(tarvik_py)
            try:
                tarvik_py.parse(b"")
            except tarvik_py.NotStatementError:
                pass
        threads = [threading.Thread(target=work) for _ in range(8)]
        for t in threads: t.start()
        for t in threads: t.join()
        assert len(modules) == 8 and all(m is modules[0] for m in modules)
        print("ok")
        """
    )
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert done.stdout == "ok\n", done.stderr
