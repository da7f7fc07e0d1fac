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
import statistics
import subprocess
import sys
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

MB = 1_000_000
ROOT = HERE.parent


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


Kind = tuple[Callable[[bytes], Any], Callable[[Any], Any]]

KINDS: dict[str, Kind] = {
    "parse-bytes": (lambda d: (_tarvik(), d)[1], lambda x: _tarvik().parse(x)),
    "parse-str": (lambda d: (_tarvik(), d.decode("utf-8"))[1], lambda x: _tarvik().parse(x)),
    "parse-hook": (lambda d: (_tarvik(), d)[1], lambda x: _tarvik().parse(x, [_noop_hook])),
    "read": (lambda d: (_package(), d)[1], lambda x: _package().read(x)),
    "read-strict": (lambda d: (_package(), d)[1], lambda x: _package().read(x, repairs=False)),
    # The tables, with the repairs, as pyarrow.Table where pyarrow is installed (it is imported
    # before the timing by the first call).
    "to-arrow": (lambda d: (_package(), d)[1], lambda x: _package().to_arrow(x)),
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


@dataclass
class Case:
    name: str
    group: str
    kind: str
    params: InputParams
    path: Path | None = None
    meta: dict[str, Any] = field(default_factory=dict)
    arg: object = None
    size: int = 0
    outcome: str = ""
    failed: bool = False
    times: list[float] = field(default_factory=list)
    memory: float | None = None  # peak growth / input size
    memory_note: str = ""

    def best(self) -> float | None:
        return min(self.times) if self.times else None

    def mbps(self, t: float | None) -> float | None:
        return self.size / MB / t if t else None


# --- checking what came out -------------------------------------------------------------------


def describe(case: Case, result: Any) -> str:
    """A short account of the result; for tarvik also checked against the generator's count."""
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
    prepare, run = KINDS[case.kind]
    assert case.path is not None
    data = case.path.read_bytes()
    case.size = len(data)
    try:
        case.arg = prepare(data)
        result = run(case.arg)
        case.outcome = describe(case, result)
    except ImportError as e:
        case.failed, case.outcome = True, f"not installed ({e.name})"
    except Exception as e:  # a peer or the module refusing the input is a finding, not a crash
        case.failed = True
        case.outcome = f"raises {type(e).__name__}: {str(e)[:160]}"
    if case.failed:
        case.arg = None


def time_round_robin(cases: list[Case], rounds: int) -> None:
    live = [c for c in cases if not c.failed]
    for r in range(rounds):
        for case in live:
            _, run = KINDS[case.kind]
            gc.collect()
            started = time.perf_counter()
            result = run(case.arg)
            case.times.append(time.perf_counter() - started)
            del result
        print(f"  round {r + 1}/{rounds}: " + ", ".join(
            f"{c.name} {c.mbps(c.times[-1]):.0f}" for c in live) + " MB/s", flush=True)


def thread_scaling(path: Path, rounds: int) -> str:
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
            f"{min(one) / min(two):.2f}× one thread's throughput (best of {rounds})")


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
    return cases


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
        if c.memory is None:
            memory = c.memory_note or "—"
        else:
            memory = f"{c.memory:.2f}×" + (" **over**" if c.memory > memory_target else "")
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
    p.add_argument("--data-dir", type=Path, default=ROOT / "build" / "bench-data")
    p.add_argument("--json", type=Path, help="also write the results here")
    p.add_argument("--child-memory", nargs=2, metavar=("KIND", "PATH"), help=argparse.SUPPRESS)
    args = p.parse_args(argv)

    if args.child_memory:
        child_memory(*args.child_memory)
        return 0

    cases = [c for c in build_cases(args) if any(o in c.name for o in args.only.split("|"))]
    print(f"machine: {machine()}", flush=True)
    print("inputs:", flush=True)
    for c in cases:
        c.path, c.meta = ensure_input(c.params, args.data_dir)

    for group in dict.fromkeys(c.group for c in cases):
        members = [c for c in cases if c.group == group]
        print(f"group {group}: checking each case once", flush=True)
        for c in members:
            first_run(c)
            print(f"  {c.name}: {c.outcome}", flush=True)
        time_round_robin(members, args.rounds)
        for c in members:
            c.arg = None  # one group's inputs at a time
        gc.collect()

    threads_line = ""
    arrow = [c.path for c in cases if c.kind == "to-arrow" and not c.failed and c.path]
    if arrow and not args.no_threads:
        print("tarvik.to_arrow in two threads against one", flush=True)
        threads_line = thread_scaling(arrow[0], args.rounds)
        print(threads_line, flush=True)

    if not args.no_memory:
        print("peak memory, each case in a fresh interpreter", flush=True)
        for c in cases:
            if not c.failed and not c.kind.startswith("floor"):
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
    if args.json:
        args.json.write_text(json.dumps({
            "machine": machine(), "rounds": args.rounds,
            "cases": [{"name": c.name, "file": str(c.path), "bytes": c.size,
                       "times": c.times, "memory_per_input_byte": c.memory,
                       "outcome": c.outcome} for c in cases],
        }, ensure_ascii=False, indent=1), encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
