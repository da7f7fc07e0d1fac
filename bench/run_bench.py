#!/usr/bin/env python3
"""Times tarvik_py.parse against the floor of the work and against pure-Python peers.

Every group of cases runs interleaved round-robin: round 1 runs each case once, then round 2,
and so on, so that a slow phase of the machine hits all cases alike. The table gives the best
round (the figure the ratios use) and the median round. Peak memory is measured for each case
in a fresh interpreter: it reads the file, notes its peak resident size, parses, and reports the
growth of the peak over the input size ("peak memory per input MB" on top of the input itself).

Inputs come from gen_statements.py and are cached under build/bench-data/ by their parameters.
The peers (client-bank-1c, client-bank-exchange-1c) are optional; missing ones are reported.

    python3 bench/run_bench.py                      # 100 MB statements, 5 rounds
    python3 bench/run_bench.py --size-mb 10 --rounds 2
    python3 bench/run_bench.py --no-peers --growth 6 100 --only shape   # shapes against the floor

Real files are the measure of the read path: every file of the shared corpus that tarvik.read
reads is grown to size by grow_corpus.py (its document sections repeated as the bank wrote
them, so the repairs fire in the file's own share) and timed in a group of its own: the floor,
tarvik_py.parse with and without the repairs as hooks, tarvik.read, tarvik.to_arrow, two threads
of it against one, and `tarvik check` and `tarvik convert -o OUT.parquet` as processes. A table
sets the files side by side, and each target of the read path is said met or not on all of them.
The corpus is found at ../shared/corpus/real beside the checkout, or at $TARVIK_CORPUS.

    python3 bench/run_bench.py --size-mb 50 --only grown --json new.json      # the corpus alone
    python3 bench/run_bench.py --size-mb 2 --rounds 1 --only grown            # a quick check
    python3 bench/run_bench.py --only grown --corpus-files condo_statement_utf8.txt \
        --corpus-dir /elsewhere --compare old.json       # one file, against an earlier run
    python3 bench/run_bench.py --no-corpus                                    # without it
"""

from __future__ import annotations

import argparse
import collections
import gc
import hashlib
import importlib
import io
import json
import os
import platform
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from collections.abc import Callable
from dataclasses import dataclass, field
from importlib import metadata
from pathlib import Path
from types import ModuleType
from typing import Any

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import gen_statements  # noqa: E402
import grow_corpus  # noqa: E402

MB = 1_000_000
ROOT = HERE.parent
# The shared corpus of real files stands beside the repository; TARVIK_CORPUS or --corpus-dir
# point elsewhere (a git worktree, say).
CORPUS_DIR = Path(os.environ.get("TARVIK_CORPUS") or ROOT.parent / "shared" / "corpus" / "real")
# Grown again with damage, one of each encoding.
DAMAGE_FILES = ("condo_statement_utf8.txt", "kilylabs_one_day_cp1251.txt")


# --- inputs -----------------------------------------------------------------------------------


@dataclass(frozen=True)
class InputParams:
    """One generated file: the generator's arguments, minus the output path."""

    shape: str = "realistic"
    encoding: str = "utf-8"
    size_mb: float = 100.0
    seed: int = 1
    accounts: int = 3
    periods: int = 12
    account_share: float = 0.0
    defective_share: float = 0.0

    def argv(self) -> list[str]:
        return [
            "--shape", self.shape, "--encoding", self.encoding, "--size-mb", str(self.size_mb),
            "--seed", str(self.seed), "--accounts", str(self.accounts),
            "--periods", str(self.periods), "--account-share", str(self.account_share),
            "--defective-share", str(self.defective_share),
        ]

    def path(self, data_dir: Path) -> Path:
        # The generator's own source takes part, so editing it regenerates the files.
        source = hashlib.sha1((HERE / "gen_statements.py").read_bytes()).hexdigest()[:8]
        params = hashlib.sha1(" ".join(self.argv()).encode()).hexdigest()[:8]
        return data_dir / f"{self.shape}-{self.encoding}-{self.size_mb:g}mb-{params}-{source}.txt"


def ensure_input(params: InputParams, data_dir: Path) -> tuple[Path, dict[str, Any]]:
    path = params.path(data_dir)
    meta_path = Path(str(path) + ".json")
    if not (path.exists() and meta_path.exists()):
        started = time.perf_counter()
        args = gen_statements.argument_parser().parse_args(params.argv() + ["-o", str(path)])
        gen_statements.generate(args)
        print(f"  generated {path.name} in {time.perf_counter() - started:.1f} s", flush=True)
    meta: dict[str, Any] = json.loads(meta_path.read_text(encoding="utf-8"))
    return path, meta


@dataclass(frozen=True)
class CorpusParams:
    """A real file grown to size by grow_corpus.py, and what its original reads as."""

    source: Path
    encoding: str  # the file's, as tarvik.read says it: the floor decodes it
    size_mb: float
    damage: bool = False  # a line pasted after every repeated document, which the reader skips

    @property
    def name(self) -> str:
        return f"{self.source.stem} + damage" if self.damage else self.source.stem

    @property
    def shape(self) -> str:
        return f"grown {self.name}"


def ensure_grown(params: CorpusParams, data_dir: Path) -> tuple[Path, dict[str, Any]]:
    where = (params.source, params.size_mb, data_dir, params.damage)
    fresh = not grow_corpus.cached_path(*where).exists()
    path, meta = grow_corpus.ensure(*where)
    if fresh:
        print(f"  grew {params.source.name} to {path.name}: {meta['rounds']:,} rounds", flush=True)
    return path, meta


def corpus_inputs(args: argparse.Namespace) -> list[CorpusParams]:
    """The corpus files to grow: those named, or every one that `tarvik.read` reads and that has
    a document to repeat. The others are named with the reason they are left out."""
    if args.no_corpus:
        return []
    folder: Path = args.corpus_dir
    if not folder.is_dir():
        if args.corpus_files:
            raise SystemExit(f"run_bench.py: no corpus at {folder}: give --corpus-dir")
        print(f"corpus: none at {folder}; --corpus-dir names one, --no-corpus skips it", flush=True)
        return []
    import tarvik
    import tarvik_py

    names = args.corpus_files or sorted(p.name for p in folder.glob("*.txt"))
    out = []
    for name in names:
        path = folder / name
        if not path.is_file():
            raise SystemExit(f"run_bench.py: no corpus file {path}")
        try:
            reading = tarvik.read(path)
            grow_corpus.split(path.read_bytes())
        except (tarvik_py.ParseError, ValueError) as e:
            print(f"corpus: leaving out {name}: {type(e).__name__}: {e}", flush=True)
            continue
        if f"floor-{reading.encoding}" not in KINDS:
            print(f"corpus: leaving out {name}: no floor for {reading.encoding}", flush=True)
            continue
        size = args.corpus_size_mb or args.size_mb
        out.append(CorpusParams(path, reading.encoding, size))
    # Damaged files are read at the speed of whole ones: some grown again with a damaged line
    # after every document.
    out += [
        CorpusParams(p.source, p.encoding, p.size_mb, damage=True)
        for p in out
        if p.source.name in args.damage_files
    ]
    return out


def ensure(params: InputParams | CorpusParams, data_dir: Path) -> tuple[Path, dict[str, Any]]:
    if isinstance(params, CorpusParams):
        return ensure_grown(params, data_dir)
    return ensure_input(params, data_dir)


# --- what is timed ----------------------------------------------------------------------------
#
# A kind is (prepare, run): prepare turns the file's bytes into the argument (and imports what
# run needs, so that neither counts); run is the timed call. Kinds are named so that the memory
# child can find them again.


def _tarvik() -> ModuleType:
    import tarvik_py

    return tarvik_py


def _package() -> ModuleType:
    import tarvik

    return tarvik


def _write_back(statement: Any) -> bytes:
    written: bytes = _package().write(statement.documents, accounts=statement.accounts,
                                      header=statement.header, encoding=statement.encoding)
    return written


def _noop_hook(section_type: object, attrs: dict[str, str], header: dict[str, str]) -> None:
    return None


def _cb1c_load(data: bytes, encoding: str) -> Any:
    import client_bank_1c  # type: ignore[import-not-found]

    if encoding == "cp1251":
        return client_bank_1c.load(data)  # bytes are read as CP1251, the only way it reads them
    return client_bank_1c.load(io.TextIOWrapper(io.BytesIO(data), encoding=encoding))


def _cbe_from_bytes(data: bytes, encoding: str) -> Any:
    import client_bank_exchange_1c  # type: ignore[import-not-found]

    # What Statement.from_file does, from memory: decode with newline translation, then parse.
    text = io.TextIOWrapper(io.BytesIO(data), encoding=encoding).read()
    return client_bank_exchange_1c.Statement.from_text(text)


def _import_peer(name: str) -> ModuleType:
    return importlib.import_module(name)


# The least statement that reads: one account section.
_TINY = ("1CClientBankExchange\r\nСекцияРасчСчет\r\nДатаНачала=01.01.2024\r\n"
         "РасчСчет=40702810000000000001\r\nНачальныйОстаток=0\r\nКонецРасчСчет\r\n"
         "КонецФайла\r\n").encode()


def _warm_to_arrow(data: bytes) -> bytes:
    # to_arrow imports its native module and pyarrow on its first call: some 40 MB that the
    # memory child would otherwise count as the call's own.
    _package().to_arrow(_TINY)
    return data


def _parse_repaired(data: bytes) -> Any:
    # As users are told to call it: the list made in the call, as they would make it.
    return _tarvik().parse(data, hooks=list(importlib.import_module("tarvik.hooks").REPAIRS))


Kind = tuple[Callable[[bytes], Any], Callable[[Any], Any]]

KINDS: dict[str, Kind] = {
    "parse-bytes": (lambda d: (_tarvik(), d)[1], lambda x: _tarvik().parse(x)),
    "parse-str": (lambda d: (_tarvik(), d.decode("utf-8"))[1], lambda x: _tarvik().parse(x)),
    "parse-hook": (lambda d: (_tarvik(), d)[1], lambda x: _tarvik().parse(x, [_noop_hook])),
    # The shipped repairs as plain hooks of the strict reader, without tarvik.read's reporting.
    "parse-repairs": (lambda d: (_package(), d)[1], _parse_repaired),
    "read": (lambda d: (_package(), d)[1], lambda x: _package().read(x)),
    "read-strict": (lambda d: (_package(), d)[1], lambda x: _package().read(x, repairs=False)),
    # The tables, with the repairs, as pyarrow.Table where pyarrow is installed.
    "to-arrow": (_warm_to_arrow, lambda x: _package().to_arrow(x)),
    # The statement is parsed beforehand; the timed call writes it back in its own encoding.
    "write": (lambda d: _tarvik().parse(d), _write_back),
    "floor-utf-8": (lambda d: d, lambda x: (x.decode("utf-8"), x.count(b"\n"))),
    "floor-cp1251": (lambda d: d, lambda x: (x.decode("cp1251"), x.count(b"\n"))),
    "cb1c-cp1251": (lambda d: (_import_peer("client_bank_1c"), d)[1],
                    lambda x: _cb1c_load(x, "cp1251")),
    "cb1c-utf-8": (lambda d: (_import_peer("client_bank_1c"), d)[1],
                   lambda x: _cb1c_load(x, "utf-8")),
    "cbe-cp1251": (lambda d: (_import_peer("client_bank_exchange_1c"), d)[1],
                   lambda x: _cbe_from_bytes(x, "cp1251")),
    "cbe-utf-8": (lambda d: (_import_peer("client_bank_exchange_1c"), d)[1],
                  lambda x: _cbe_from_bytes(x, "utf-8")),
}


# The command, end to end as a shell runs it: a new interpreter that imports the package, reads
# the file and writes its findings or its table. Each is run in a scratch folder of its own,
# which also keeps a checkout's tarvik/ (without its native module) off `-m tarvik`'s path.
COMMANDS: dict[str, Callable[[str, Path], list[str]]] = {
    "cmd-check": lambda path, scratch: ["check", path],
    "cmd-convert": lambda path, scratch: ["convert", path, "-o", str(scratch / "out.parquet")],
}


@dataclass(frozen=True)
class CommandArg:
    path: str  # absolute, as the command runs elsewhere
    scratch: Path


def _command_env() -> dict[str, str]:
    env = dict(os.environ)
    if env.get("PYTHONPATH"):  # a tree run with PYTHONPATH=. must find the same tree from scratch
        env["PYTHONPATH"] = os.pathsep.join(
            os.path.abspath(p) for p in env["PYTHONPATH"].split(os.pathsep))
    return env


def run_command(kind: str, arg: CommandArg) -> subprocess.CompletedProcess[str]:
    # -P: the tarvik installed is timed, not the sources of the folder the benchmark is run from.
    argv = [sys.executable, "-P", "-m", "tarvik", *COMMANDS[kind](arg.path, arg.scratch)]
    # The findings go where a shell's > /dev/null sends them: printing them is the command's work,
    # showing them is the terminal's.
    proc = subprocess.run(argv, cwd=arg.scratch, env=_command_env(), stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True)
    if proc.returncode not in (0, 1):  # 1 says there were findings; 2 that nothing was read
        last = (proc.stderr.strip().splitlines() or ["(nothing on stderr)"])[-1]
        raise RuntimeError(f"exit {proc.returncode}: {last[:160]}")
    return proc


def runner(kind: str) -> Callable[[Any], Any]:
    """The timed call of a kind."""
    if kind in COMMANDS:
        return lambda arg: run_command(kind, arg)
    return KINDS[kind][1]


@dataclass
class Case:
    name: str
    group: str
    kind: str
    params: InputParams | CorpusParams
    path: Path | None = None
    meta: dict[str, Any] = field(default_factory=dict)
    arg: object = None
    size: int = 0
    outcome: str = ""
    failed: bool = False
    times: list[float] = field(default_factory=list)
    memory: float | None = None  # peak growth / input size
    memory_note: str = ""
    memory_target: float | None = None  # where it is not --memory-target
    changes: int | None = None  # how many values the repairs changed, where they ran

    def best(self) -> float | None:
        return min(self.times) if self.times else None

    def mbps(self, t: float | None) -> float | None:
        return self.size / MB / t if t else None


# --- checking what came out -------------------------------------------------------------------


def _counts(kind: str, result: Any) -> dict[str, int]:
    """What a grown file must have `rounds` times as much of as its original."""
    if kind.startswith("parse"):
        return {"docs": len(result.documents), "warnings": len(result.warnings)}
    if kind.startswith("read"):
        return {"docs": len(result.statement.documents),
                "warnings": len(result.statement.warnings), "repairs": len(result.changes)}
    return {"docs": len(result.documents), "warnings": len(result.warnings),
            "repairs": len(result.changes)}


def describe_grown(case: Case, result: Any) -> str:
    """A short account of a grown file's result, checked against its original's times the
    rounds: the same documents, warnings and repairs, as often as the documents were repeated."""
    assert isinstance(case.params, CorpusParams)
    if case.kind.startswith("floor"):
        return f"{result[1]:,} lines"
    if case.kind in COMMANDS:
        return f"exit {result.returncode}: {(result.stderr.strip().splitlines() or [''])[-1]}"
    prepare, run = KINDS[case.kind]
    rounds = case.meta["rounds"]
    got = _counts(case.kind, result)
    want = {k: v * rounds for k, v in _counts(case.kind, run(prepare(
        case.params.source.read_bytes()))).items()}
    if "repairs" in want:  # and each damaged line, skipped, is a change of its own
        want["repairs"] += int(case.meta.get("damaged_lines", 0))
    case.changes = got.get("repairs")
    text = ", ".join(f"{v:,} {k}" for k, v in got.items())
    if got != want:
        return text + f" — MISMATCH: {rounds:,} rounds of the original make " + ", ".join(
            f"{v:,} {k}" for k, v in want.items())
    return text + f" ({rounds:,} rounds of the original)"


def describe(case: Case, result: Any) -> str:
    """A short account of the result; for tarvik also checked against the generator's count."""
    if isinstance(case.params, CorpusParams):
        return describe_grown(case, result)
    if case.kind.startswith("floor"):
        return f"{result[1]:,} lines"
    if case.kind.startswith("parse"):
        docs, warnings = len(result.documents), len(result.warnings)
        intervals = sum(len(a.intervals) for a in result.accounts.values())
        text = (f"{docs:,} docs, {warnings:,} warnings, {len(result.accounts)} accounts / "
                f"{intervals:,} intervals, {result.encoding}")
        meta = case.meta
        want_docs = meta["documents"] - meta["defective"]
        got = collections.Counter(gen_statements.defect_class(m) for _, m in result.warnings)
        if docs != want_docs or got != collections.Counter(meta["defects"]):
            text += f" — MISMATCH: generator wrote {want_docs:,} good docs, {meta['defects']}"
        return text
    if case.kind.startswith("read"):
        return (f"{len(result.statement.documents):,} docs, {len(result.statement.warnings):,} "
                f"warnings, {len(result.changes):,} repairs, {result.encoding}")
    if case.kind == "to-arrow":
        return (f"{len(result.documents):,} docs, {len(result.warnings):,} warnings, "
                f"{len(result.intervals):,} intervals, {len(result.changes):,} repairs, "
                f"{result.encoding}, tables {type(result.documents).__module__}")
    if case.kind == "write":
        return f"{len(result) / MB:.1f} MB written"
    if case.kind.startswith("cb1c"):
        return f"{len(result.documents):,} docs, {len(result.accounts)} account sections"
    return f"{len(result.documents):,} docs, balance {'yes' if result.balance else 'no'}"


def first_run(case: Case) -> None:
    assert case.path is not None
    run = runner(case.kind)
    try:
        if case.kind in COMMANDS:
            case.size = case.path.stat().st_size
            case.arg = CommandArg(str(case.path.resolve()),
                                  Path(tempfile.mkdtemp(prefix="tarvik-bench-")))
        else:
            data = case.path.read_bytes()
            case.size = len(data)
            case.arg = KINDS[case.kind][0](data)
        result = run(case.arg)
        case.outcome = describe(case, result)
    except ImportError as e:
        case.failed, case.outcome = True, f"not installed ({e.name})"
    except Exception as e:  # a peer or the module refusing the input is a finding, not a crash
        case.failed = True
        case.outcome = f"raises {type(e).__name__}: {str(e)[:160]}"
    if case.failed:
        release(case)


def release(case: Case) -> None:
    if isinstance(case.arg, CommandArg):
        shutil.rmtree(case.arg.scratch, ignore_errors=True)
    case.arg = None


def time_round_robin(cases: list[Case], rounds: int) -> None:
    live = [c for c in cases if not c.failed]
    for r in range(rounds):
        for case in live:
            run = runner(case.kind)
            gc.collect()
            started = time.perf_counter()
            result = run(case.arg)
            case.times.append(time.perf_counter() - started)
            del result
        print(f"  round {r + 1}/{rounds}: " + ", ".join(
            f"{c.name} {c.mbps(c.times[-1]):.0f}" for c in live) + " MB/s", flush=True)


def thread_scaling(path: Path, rounds: int) -> tuple[str, float]:
    """Two statements read by `tarvik.to_arrow` one after the other in one thread, then each in a
    thread of its own at once: the throughput of the two threads over that of the one."""
    import tarvik

    statements = [path.read_bytes(), bytes(bytearray(path.read_bytes()))]  # two distinct objects
    tarvik.to_arrow(statements[0])  # imports and first-call costs out of the timing
    one, two = [], []
    for _ in range(rounds):
        gc.collect()
        started = time.perf_counter()
        for data in statements:
            tarvik.to_arrow(data)
        one.append(time.perf_counter() - started)
        gc.collect()
        threads = [threading.Thread(target=tarvik.to_arrow, args=(data,)) for data in statements]
        started = time.perf_counter()
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        two.append(time.perf_counter() - started)
    size = sum(len(d) for d in statements) / MB
    return (f"- tarvik.to_arrow(bytes), two {size / 2:.0f} MB statements ({path.name}): one thread "
            f"{size / min(one):.0f} MB/s, two threads {size / min(two):.0f} MB/s, "
            f"{min(one) / min(two):.2f}× one thread's throughput (best of {rounds})",
            min(one) / min(two))


# --- peak memory in a fresh interpreter -------------------------------------------------------


def _status_kib(field_name: str) -> int | None:
    for line in Path("/proc/self/status").read_text().splitlines():
        if line.startswith(field_name + ":"):
            return int(line.split()[1])
    return None


def _reset_peak() -> bool:
    """Lowers the kernel's peak-RSS mark to the current RSS (Linux 4.0 and later)."""
    try:
        Path("/proc/self/clear_refs").write_text("5")
        return True
    except OSError:
        return False


def child_memory(kind: str, path: str) -> None:
    prepare, run = KINDS[kind]
    data = Path(path).read_bytes()
    arg = prepare(data)
    gc.collect()
    # Reading and imports may have left a high mark that the parse would hide under; start the
    # mark afresh where the kernel allows, else fall back to the mark so far.
    if _reset_peak():
        baseline = _status_kib("VmRSS")
    else:
        baseline = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss  # KiB on Linux
    result = run(arg)
    peak = _status_kib("VmHWM") or resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    del result
    print(json.dumps({"baseline_kib": baseline, "peak_kib": peak, "input_bytes": len(data)}))


def measure_memory(case: Case) -> None:
    proc = subprocess.run(
        [sys.executable, str(Path(__file__).resolve()), "--child-memory", case.kind,
         str(case.path)],
        capture_output=True, text=True)
    if proc.returncode != 0:
        case.memory_note = f"child failed: {proc.stderr.strip().splitlines()[-1][:120]}"
        return
    report = json.loads(proc.stdout.strip().splitlines()[-1])
    grown = (report["peak_kib"] - report["baseline_kib"]) * 1024
    case.memory = grown / report["input_bytes"]


# --- the run ----------------------------------------------------------------------------------


def build_cases(args: argparse.Namespace) -> list[Case]:
    size = args.size_mb
    real = dict(size_mb=size, seed=args.seed, defective_share=args.defective_share)
    utf8 = InputParams(encoding="utf-8", **real)
    cp1251 = InputParams(encoding="cp1251", **real)
    heavy = InputParams(encoding="cp1251", accounts=10, account_share=0.5, **real)
    cases = [
        Case("parse(bytes) utf-8", "module", "parse-bytes", utf8),
        Case("parse(bytes) cp1251", "module", "parse-bytes", cp1251),
        Case("parse(str)", "module", "parse-str", utf8),
        Case("parse(bytes, [no-op hook]) utf-8", "module", "parse-hook", utf8),
        Case("parse(bytes) account-heavy cp1251", "module", "parse-bytes", heavy),
        Case("floor: decode utf-8 + count lines", "module", "floor-utf-8", utf8),
        Case("floor: decode cp1251 + count lines", "module", "floor-cp1251", cp1251),
        Case("tarvik.to_arrow(bytes) utf-8", "module", "to-arrow", utf8),
        Case("tarvik.to_arrow(bytes) cp1251", "module", "to-arrow", cp1251),
        Case("tarvik.read(bytes) utf-8", "package", "read", utf8),
        Case("tarvik.read(bytes) cp1251", "package", "read", cp1251),
        Case("tarvik.read(bytes, repairs=False) cp1251", "package", "read-strict", cp1251),
        Case("tarvik.write(...) of the parsed statement, utf-8", "package", "write", utf8),
        Case("tarvik.write(...) of the parsed statement, cp1251", "package", "write", cp1251),
    ]
    if not args.no_peers:
        peer = dict(size_mb=min(args.peer_size_mb, size), seed=args.seed)
        p1251 = InputParams(encoding="cp1251", **peer)
        putf8 = InputParams(encoding="utf-8", **peer)
        # client-bank-exchange-1c reads one account section only; this file has one.
        p1251_one = InputParams(encoding="cp1251", accounts=1, periods=1, **peer)
        putf8_one = InputParams(encoding="utf-8", accounts=1, periods=1, **peer)
        cases += [
            Case("tarvik parse(bytes) cp1251, peer file", "peers", "parse-bytes", p1251),
            Case("tarvik parse(bytes) utf-8, peer file", "peers", "parse-bytes", putf8),
            Case("client-bank-1c load(bytes) cp1251", "peers", "cb1c-cp1251", p1251),
            Case("client-bank-1c load(text stream) utf-8", "peers", "cb1c-utf-8", putf8),
            Case("client-bank-exchange-1c from_text cp1251", "peers", "cbe-cp1251", p1251),
            Case("client-bank-exchange-1c from_text cp1251, 1 account", "peers", "cbe-cp1251",
                 p1251_one),
            Case("client-bank-exchange-1c from_text utf-8, 1 account", "peers", "cbe-utf-8",
                 putf8_one),
        ]
    if args.growth:
        # Each shape small and large, with the floor on the very same bytes: what grows with
        # size in both (caches, the allocator) is not the parser's.
        floor = f"floor-{args.shape_encoding}"
        for shape in args.shapes:
            for size_mb in args.growth:
                params = InputParams(shape=shape, encoding=args.shape_encoding, size_mb=size_mb,
                                     seed=args.seed)
                group = f"growth {shape}"
                cases.append(Case(f"shape {shape} @{size_mb:g}", group, "parse-bytes", params))
                cases.append(Case(f"floor on shape {shape} @{size_mb:g}", group, floor, params))
    elif not args.no_shapes:
        for shape in args.shapes:
            params = InputParams(shape=shape, encoding=args.shape_encoding,
                             size_mb=args.shape_size_mb or size, seed=args.seed)
            cases.append(Case(f"shape {shape}", "shapes", "parse-bytes", params))
    for grown in corpus_inputs(args):
        cases += corpus_cases(grown)
    return cases


# --- real files grown to size -----------------------------------------------------------------

# What the read path is to reach on every grown file (50 MB, best of 5, on a quiet machine).
TARGET_OVER_FLOOR = 1.5  # read, to_arrow, and tarvik_py.parse with the repairs as hooks
TARGET_READ_OVER_PARSE = 0.6  # read against tarvik_py.parse of the same bytes
TARGET_COMMAND_OVER_FLOOR = 1.0  # tarvik check / convert, timed as a process
TARGET_MEMORY = 1.5  # peak growth of read and to_arrow over the input
TARGET_THREADS = 1.7  # to_arrow in two threads over one


def corpus_cases(params: CorpusParams) -> list[Case]:
    """One group per grown file, its cases interleaved like any other group's."""
    group = params.shape
    encoding = params.encoding
    # tarvik_py refuses a damaged file, as it must: only tarvik reads it.
    strict = [] if params.damage else [
        Case(f"{group}: tarvik_py.parse(bytes)", group, "parse-bytes", params),
        Case(f"{group}: tarvik_py.parse(bytes, hooks=REPAIRS)", group, "parse-repairs", params),
    ]
    return [
        Case(f"{group}: floor: decode {encoding} + count lines", group, f"floor-{encoding}",
             params),
        *strict,
        Case(f"{group}: tarvik.read(bytes)", group, "read", params, memory_target=TARGET_MEMORY),
        Case(f"{group}: tarvik.to_arrow(bytes)", group, "to-arrow", params,
             memory_target=TARGET_MEMORY),
        Case(f"{group}: tarvik check FILE", group, "cmd-check", params),
        Case(f"{group}: tarvik convert FILE -o OUT.parquet", group, "cmd-convert", params),
    ]


@dataclass
class Grown:
    """The cases of one grown file by kind, and what two threads of to_arrow gave on it."""

    name: str
    cases: dict[str, Case]
    threads: float | None = None

    def speed(self, kind: str) -> float | None:
        c = self.cases.get(kind)
        return c.mbps(c.best()) if c and c.times else None

    def over(self, kind: str, base: str) -> float | None:
        """`kind`'s speed over `base`'s, or None where either was not timed."""
        a, b = self.speed(kind), self.speed(base)
        return a / b if a and b else None

    def floor(self) -> str:
        return next((k for k in self.cases if k.startswith("floor")), "floor")

    def memory(self, kind: str) -> float | None:
        c = self.cases.get(kind)
        return c.memory if c else None


def grown_files(cases: list[Case]) -> list[Grown]:
    out: dict[str, Grown] = {}
    for c in cases:
        if isinstance(c.params, CorpusParams):
            out.setdefault(c.group, Grown(c.params.name, {})).cases[c.kind] = c
    return list(out.values())


CORPUS_COLUMNS = (
    ("tarvik_py.parse", "parse-bytes"),
    ("parse + repairs", "parse-repairs"),
    ("tarvik.read", "read"),
    ("tarvik.to_arrow", "to-arrow"),
    ("tarvik check", "cmd-check"),
    ("tarvik convert", "cmd-convert"),
)


def _times(ratio: float | None) -> str:
    return "—" if ratio is None else f"{ratio:.2f}×"


def corpus_table(files: list[Grown]) -> str:
    """The grown files side by side: MB/s, and in brackets the ratio to the floor."""
    rows = [
        "| grown file | encoding | MB | changes | floor MB/s | "
        + " | ".join(label for label, _ in CORPUS_COLUMNS)
        + " | read mem | to_arrow mem | 2 threads |",
        "|---|---|---:|---:|---:|" + "---:|" * (len(CORPUS_COLUMNS) + 3),
    ]
    for g in files:
        floor = g.floor()
        some = next(iter(g.cases.values()))
        counted = g.cases.get("read") or g.cases.get("to-arrow")
        cells = [fmt(g.speed(kind), ",.0f") + (f" ({_times(g.over(kind, floor))})"
                                               if g.over(kind, floor) else "")
                 for _, kind in CORPUS_COLUMNS]
        cells += [_times(g.memory("read")), _times(g.memory("to-arrow")), _times(g.threads)]
        rows.append(
            f"| {g.name} | {some.params.encoding} | {some.size / MB:.1f} "
            f"| {fmt(counted.changes if counted else None, ',')} "
            f"| {fmt(g.speed(floor), ',.0f')} | " + " | ".join(cells) + " |")
    return "\n".join(rows)


def _verdict(label: str, values: list[tuple[str, float | None]], bound: float,
             at_most: bool = False) -> str:
    measured = [(name, v) for name, v in values if v is not None]
    if not measured:
        return f"- {label}: not measured"
    met = all(v <= bound if at_most else v >= bound for _, v in measured)
    found = ", ".join(f"{name} {v:.2f}×" for name, v in measured)
    return f"- {label}: {'yes' if met else 'no'} ({found})"


def corpus_targets(files: list[Grown]) -> list[str]:
    """Each target of the read path, met or not on every grown file, with the figures."""
    def each(value: Callable[[Grown], float | None]) -> list[tuple[str, float | None]]:
        return [(g.name, value(g)) for g in files]

    floor, parse = TARGET_OVER_FLOOR, TARGET_READ_OVER_PARSE
    command, memory = TARGET_COMMAND_OVER_FLOOR, TARGET_MEMORY
    sizes = sorted({f"{c.size / MB:.0f} MB" for g in files for c in g.cases.values()})
    lines = [
        _verdict(f"tarvik.read(bytes) ≥ {floor:g}× floor", each(
            lambda g: g.over("read", g.floor())), floor),
        _verdict(f"tarvik.read(bytes) ≥ {parse:g}× tarvik_py.parse(bytes)", each(
            lambda g: g.over("read", "parse-bytes")), parse),
        _verdict(f"tarvik.to_arrow(bytes) ≥ {floor:g}× floor", each(
            lambda g: g.over("to-arrow", g.floor())), floor),
        _verdict(f"tarvik.to_arrow(bytes), two threads ≥ {TARGET_THREADS:g}× one", each(
            lambda g: g.threads), TARGET_THREADS),
        _verdict(f"tarvik_py.parse(bytes, hooks=list(tarvik.hooks.REPAIRS)) ≥ {floor:g}× floor",
                 each(lambda g: g.over("parse-repairs", g.floor())), floor),
        _verdict(f"tarvik check FILE, as a process, ≥ {command:g}× floor "
                 f"(the target is for 50 MB; these are {', '.join(sizes)})",
                 each(lambda g: g.over("cmd-check", g.floor())), command),
        _verdict(f"tarvik convert FILE -o OUT.parquet, as a process, ≥ {command:g}× floor",
                 each(lambda g: g.over("cmd-convert", g.floor())), command),
        _verdict(f"peak memory of tarvik.read ≤ {memory:g}× input", each(
            lambda g: g.memory("read")), memory, at_most=True),
        _verdict(f"peak memory of tarvik.to_arrow ≤ {memory:g}× input", each(
            lambda g: g.memory("to-arrow")), memory, at_most=True),
    ]
    parse_floor = each(lambda g: g.over("parse-bytes", g.floor()))
    if any(v is not None for _, v in parse_floor):
        lines.append("- tarvik_py.parse(bytes) without hooks, no slower than before (--compare "
                     "with a run of the code before): " + ", ".join(
                         f"{name} {v:.2f}× floor" for name, v in parse_floor if v is not None))
    return lines


def compare(cases: list[Case], old_path: Path) -> list[str]:
    """Each case's best speed against the same case's, on an input of the same size, in an
    earlier run's --json."""
    old = json.loads(old_path.read_text(encoding="utf-8"))
    before = {(c["name"], c["bytes"]): c["bytes"] / MB / min(c["times"])
              for c in old["cases"] if c["times"]}
    lines = []
    for c in cases:
        now, then = c.mbps(c.best()), before.get((c.name, c.size))
        if now and then:
            ratio = now / then
            flag = " **slower**" if ratio < 0.95 else ""
            lines.append(f"- {c.name}: {then:,.0f} → {now:,.0f} MB/s, {ratio:.2f}×{flag}")
    return lines


def machine() -> str:
    cpu = "unknown CPU"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass

    def version(dist: str) -> str:
        try:
            return metadata.version(dist)
        except metadata.PackageNotFoundError:
            return "not installed"

    load = ", ".join(f"{x:.1f}" for x in os.getloadavg())
    return (f"{cpu}, {os.cpu_count()} CPUs (load average {load}); "
            f"Python {platform.python_version()} "
            f"({platform.python_implementation()}); tarvik_py {version('tarvik_py')}, "
            f"client-bank-1c {version('client-bank-1c')}, "
            f"client-bank-exchange-1c {version('client-bank-exchange-1c')}")


def fmt(value: float | None, params: str) -> str:
    return "—" if value is None else format(value, params)


def table(cases: list[Case], memory_target: float) -> str:
    rows = [
        "| case | input | MB | best s | MB/s best | MB/s median | peak mem / input | result |",
        "|---|---|---:|---:|---:|---:|---:|---|",
    ]
    for c in cases:
        median = statistics.median(c.times) if c.times else None
        target = c.memory_target or memory_target
        if c.memory is None:
            memory = c.memory_note or "—"
        else:
            memory = f"{c.memory:.2f}×" + (" **over**" if c.memory > target else "")
        rows.append(
            f"| {c.name} | {c.params.shape} {c.params.encoding} | {c.size / MB:.1f} "
            f"| {fmt(c.best(), '.3f')} | {fmt(c.mbps(c.best()), '.1f')} "
            f"| {fmt(c.mbps(median), '.1f')} | {memory} | {c.outcome} |")
    return "\n".join(rows)


def ratios(cases: list[Case]) -> list[str]:
    by_name = {c.name: c for c in cases}

    def speed(name: str) -> float | None:
        c = by_name.get(name)
        return c.mbps(c.best()) if c and c.times else None

    lines = []
    for module, floor in (("parse(bytes) utf-8", "floor: decode utf-8 + count lines"),
                          ("parse(bytes) cp1251", "floor: decode cp1251 + count lines"),
                          ("tarvik.to_arrow(bytes) utf-8", "floor: decode utf-8 + count lines"),
                          ("tarvik.to_arrow(bytes) cp1251", "floor: decode cp1251 + count lines")):
        m, f = speed(module), speed(floor)
        if m and f:
            lines.append(f"- {module}: {m / f:.2f}× the floor's speed ({floor}), i.e. "
                         f"{f / m:.1f}× its time")
    peers = [c for c in cases if c.group == "peers" and not c.kind.startswith("parse") and c.times]
    if peers:
        fastest = max(peers, key=lambda c: c.mbps(c.best()) or 0.0)
        fastest_speed = fastest.mbps(fastest.best()) or 0.0
        same_encoding = "cp1251" if "cp1251" in fastest.kind else "utf-8"
        for name in (f"tarvik parse(bytes) {same_encoding}, peer file",
                     f"parse(bytes) {same_encoding}"):
            m = speed(name)
            if m:
                lines.append(f"- {name}: {m / fastest_speed:.0f}× the fastest "
                             f"peer ({fastest.name}, {fastest_speed:.1f} MB/s)")
    return lines


def growth(cases: list[Case], sizes: list[float], bound: float) -> str:
    """Per shape: how much the time per MB grows from the small to the large file, for the
    parser and for the floor on the same bytes, and the ratio of the two growths."""
    by_name = {c.name: c for c in cases}
    rows = ["| shape | MB small → large | parse MB/s small → large | parse growth | floor growth "
            "| parse growth / floor growth |", "|---|---|---|---:|---:|---:|"]
    small, large = (f"{x:g}" for x in sizes)
    for name in dict.fromkeys(c.name.split(" @")[0].removeprefix("shape ")
                              for c in cases if c.group.startswith("growth")
                              and c.name.startswith("shape ")):
        found = [by_name.get(f"{kind}{name} @{size}") for size in (small, large)
                 for kind in ("shape ", "floor on shape ")]
        got = [c for c in found if c is not None and c.times]
        if len(got) < len(found):
            rows.append(f"| {name} | — | — | — | — | — |")
            continue
        ps, fs, pl, fl = got
        per_mb = [min(c.times) / (c.size / MB) for c in (ps, fs, pl, fl)]
        parse_growth, floor_growth = per_mb[2] / per_mb[0], per_mb[3] / per_mb[1]
        ratio = parse_growth / floor_growth
        flag = " **over**" if ratio > bound else ""
        rows.append(f"| {name} | {ps.size / MB:.1f} → {pl.size / MB:.1f} | "
                    f"{fmt(ps.mbps(ps.best()), '.0f')} → {fmt(pl.mbps(pl.best()), '.0f')} | {parse_growth:.2f}× | "
                    f"{floor_growth:.2f}× | {ratio:.2f}×{flag} |")
    return "\n".join(rows)


def main(argv: list[str] | None = None) -> int:
    p = argparse.ArgumentParser(description=(__doc__ or "").split("\n\n")[0])
    p.add_argument("--size-mb", type=float, default=100.0,
                   help="size of the realistic statements (default 100)")
    p.add_argument("--rounds", type=int, default=5, help="rounds per group (default 5)")
    p.add_argument("--peer-size-mb", type=float, default=10.0,
                   help="size of the peers' files; they run at a few MB/s (default 10)")
    p.add_argument("--shape-size-mb", type=float, default=0.0,
                   help="size of the pathological shapes (default: --size-mb)")
    p.add_argument("--shape-encoding", choices=("utf-8", "cp1251"), default="utf-8")
    p.add_argument("--shapes", nargs="*", default=[s for s in gen_statements.SHAPES
                                                    if s != "realistic"],
                   help="which shapes to time (default: all)")
    p.add_argument("--defective-share", type=float, default=0.0,
                   help="share of defective documents in the realistic statements (default 0; "
                   "the peers cannot read defective dates or amounts)")
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--only", default="", help="time only the cases whose name contains this "
                   "(alternatives separated by |)")
    p.add_argument("--growth", nargs=2, type=float, metavar=("SMALL_MB", "LARGE_MB"),
                   help="time each shape at two sizes against the floor on the same bytes, and "
                   "report how much faster than the floor's its time per MB grows")
    p.add_argument("--growth-bound", type=float, default=1.5,
                   help="growth over the floor's above which a shape is flagged (default 1.5)")
    p.add_argument("--no-peers", action="store_true")
    p.add_argument("--no-shapes", action="store_true")
    p.add_argument("--no-memory", action="store_true")
    p.add_argument("--no-threads", action="store_true",
                   help="skip timing tarvik.to_arrow in two threads against one")
    p.add_argument("--memory-target", type=float, default=3.0,
                   help="peak growth per input byte above which a row is flagged (default 3)")
    p.add_argument("--no-corpus", action="store_true", help="skip the real files grown to size")
    p.add_argument("--corpus-dir", type=Path, default=CORPUS_DIR,
                   help="the real files to grow (default: $TARVIK_CORPUS, else %(default)s)")
    p.add_argument("--corpus-files", nargs="+", metavar="NAME",
                   help="which of them (default: every one that tarvik.read reads and that "
                   "has a document)")
    p.add_argument("--damage-files", nargs="*", metavar="NAME", default=list(DAMAGE_FILES),
                   help="corpus files also grown with a damaged line after every document "
                   "(none: leave them out)")
    p.add_argument("--corpus-size-mb", type=float, default=0.0,
                   help="size of the grown files (default: --size-mb)")
    p.add_argument("--data-dir", type=Path, default=ROOT / "build" / "bench-data")
    p.add_argument("--json", type=Path, help="also write the results here")
    p.add_argument("--compare", type=Path, metavar="OLD_JSON",
                   help="set each case's speed against the same case's in this earlier --json")
    p.add_argument("--child-memory", nargs=2, metavar=("KIND", "PATH"), help=argparse.SUPPRESS)
    args = p.parse_args(argv)

    if args.child_memory:
        child_memory(*args.child_memory)
        return 0

    cases = [c for c in build_cases(args) if any(o in c.name for o in args.only.split("|"))]
    print(f"machine: {machine()}", flush=True)
    print("inputs:", flush=True)
    for c in cases:
        c.path, c.meta = ensure(c.params, args.data_dir)

    for group in dict.fromkeys(c.group for c in cases):
        members = [c for c in cases if c.group == group]
        print(f"group {group}: checking each case once", flush=True)
        for c in members:
            first_run(c)
            print(f"  {c.name}: {c.outcome}", flush=True)
        time_round_robin(members, args.rounds)
        for c in members:
            release(c)  # one group's inputs at a time
        gc.collect()

    threads_line = ""
    arrow = [c.path for c in cases if c.kind == "to-arrow" and not c.failed and c.path
             and isinstance(c.params, InputParams)]
    files = grown_files(cases)
    if not args.no_threads and (arrow or files):
        print("tarvik.to_arrow in two threads against one", flush=True)
    if arrow and not args.no_threads:
        threads_line, _ = thread_scaling(arrow[0], args.rounds)
        print(threads_line, flush=True)
    threads_lines = []
    for g in files:
        grown_arrow = g.cases.get("to-arrow")
        if grown_arrow and grown_arrow.path and not grown_arrow.failed and not args.no_threads:
            line, g.threads = thread_scaling(grown_arrow.path, args.rounds)
            threads_lines.append(line)
            print(line, flush=True)

    if not args.no_memory:
        print("peak memory, each case in a fresh interpreter", flush=True)
        for c in cases:
            if not c.failed and not c.kind.startswith("floor") and c.kind not in COMMANDS:
                measure_memory(c)

    print()
    print(f"Machine: {machine()}")
    print(f"Timing: {args.rounds} interleaved rounds per group; ratios use the best round. "
          f"Peak memory: growth of the peak resident size (VmHWM, reset just before the call) "
          f"over the input size, in a fresh interpreter that already holds the input "
          f"(target ≤ {args.memory_target:g}×).")
    print()
    print(table(cases, args.memory_target))
    print()
    print("\n".join(ratios(cases)))
    if threads_line:
        print(threads_line)
    if args.growth:
        print()
        print(growth(cases, args.growth, args.growth_bound))
    targets = corpus_targets(files) if files else []
    if files:
        print()
        print("Real files of the corpus, grown to size by repeating their documents "
              "(MB/s, and the ratio to the floor of the file's encoding):")
        print()
        print(corpus_table(files))
        print()
        print("\n".join(threads_lines + targets))
    compared = compare(cases, args.compare) if args.compare else []
    if compared:
        print()
        print(f"Against {args.compare} (best rounds; marked where more than 5% slower):")
        print("\n".join(compared))
    if args.json:
        args.json.write_text(json.dumps({
            "machine": machine(), "rounds": args.rounds,
            "cases": [{"name": c.name, "file": str(c.path), "bytes": c.size,
                       "times": c.times, "memory_per_input_byte": c.memory,
                       "outcome": c.outcome, "group": c.group, "kind": c.kind,
                       "input": f"{c.params.shape} {c.params.encoding}", "changes": c.changes}
                      for c in cases],
            "threads": {g.name: g.threads for g in files},
            "targets": targets,
        }, ensure_ascii=False, indent=1), encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
