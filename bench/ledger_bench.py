#!/usr/bin/env python3
"""Times tarvik.ledger against tarvik.many over the same statement files, and weighs its memory.

The files come from bench/gen_ledger.py: statements of known ledgers, about 20 KB each, written
with tarvik.write, cached under build/bench-data/ by their parameters. Each case runs once per
round, the rounds interleaved, and the table gives the best round and the median:

- `tarvik.many`: `tarvik.many.read_file` of each file and `concat` (the tables of many files);
- `tarvik.ledger`: the ledger of the folder, with its two tables made;
- both again in two worker processes: `tarvik.many` in a pool, and `tarvik.ledger(..., jobs=2)`,
  which is what `tarvik ledger -j 2` runs: the files read in the pool, the merge in this process.

Memory is the growth of peak resident memory of a fresh interpreter over the ledger of: half
the files, all of them, and all of them again with each document padded by a key of 2,000
characters (more than twice the bytes, the same entries). It should follow the entries.

Before timing, the ledger of the files is checked against what the generator knows: no finding,
and as many entries and balance days.

    python3 bench/ledger_bench.py                            # 10,000 files, 3 rounds
    python3 bench/ledger_bench.py --files 300 --rounds 1     # a quick check
    python3 bench/ledger_bench.py --json ledger.json
"""

from __future__ import annotations

import argparse
import concurrent.futures
import json
import multiprocessing
import os
import platform
import statistics
import subprocess
import sys
import time
from collections.abc import Callable
from pathlib import Path
from typing import Any

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import gen_ledger  # noqa: E402

import tarvik  # noqa: E402
import tarvik.many  # noqa: E402

MB = 1_000_000
PAD = 2000
DATA = HERE.parent / "build" / "bench-data"

# Run in a fresh interpreter: the peak resident memory that the ledger of some files adds.
# (VmHWM, not ru_maxrss, which a process keeps across exec from its parent.)
MEMORY_PROBE = """
import json, os, sys
import tarvik
try:
    import pyarrow  # the tables' wrapping: its import is no part of the ledger's memory
except ImportError:
    pass

def peak_kb():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmHWM:"))

folder, count = sys.argv[1], int(sys.argv[2])
paths = sorted(os.path.join(folder, n) for n in os.listdir(folder) if n.endswith(".txt"))[:count]
before = peak_kb()
book = tarvik.ledger(paths)
after = peak_kb()
size = sum(os.path.getsize(p) for p in paths)
print(json.dumps({"files": len(paths), "bytes": size, "entries": len(book.entries),
                  "findings": len(book.findings), "growth_kb": after - before}))
"""


def archive(files: int, seed: int, pad: int = 0) -> Path:
    folder = DATA / (f"ledger-{files}-s{seed}" + (f"-pad{pad}" if pad else ""))
    if not gen_ledger.known_file(folder).exists():
        print(f"writing {folder} ...", file=sys.stderr)
        gen_ledger.write_archive(folder, files=files, seed=seed, pad=pad)
    return folder


def paths_of(folder: Path) -> list[str]:
    return sorted(str(p) for p in folder.glob("*.txt"))


def check(folder: Path) -> dict[str, Any]:
    known = json.loads(gen_ledger.known_file(folder).read_text())
    book = tarvik.ledger(str(folder))
    got = {"files": len(paths_of(folder)), "entries": len(book.entries), "balance_days": len(book.balances)}
    if book.findings or got != known:
        raise SystemExit(f"the ledger of {folder} is not the known one: {got} != {known}, "
                         f"{len(book.findings)} findings, the first {book.findings[:1]}")
    return known


def cases(paths: list[str], folder: Path, jobs: int) -> dict[str, Callable[[], object]]:
    context = multiprocessing.get_context("forkserver")

    def many() -> object:
        return tarvik.many.concat(tarvik.many.read_file(p) for p in paths)

    def ledger(jobs: int = 1) -> object:
        book = tarvik.ledger(str(folder), jobs=jobs)
        return book.entries, book.balances  # made when first asked for

    def many_pool() -> object:
        with concurrent.futures.ProcessPoolExecutor(jobs, mp_context=context) as pool:
            return tarvik.many.concat(pool.map(tarvik.many.read_file, paths, chunksize=64))

    def ledger_pool() -> object:
        return ledger(jobs)

    return {
        "tarvik.many": many,
        "tarvik.ledger": ledger,
        f"tarvik.many, {jobs} processes": many_pool,
        f"tarvik.ledger, {jobs} processes": ledger_pool,
    }


def timings(run: dict[str, Callable[[], object]], rounds: int) -> dict[str, list[float]]:
    times: dict[str, list[float]] = {name: [] for name in run}
    for _ in range(rounds):
        for name, case in run.items():
            start = time.perf_counter()
            case()
            times[name].append(time.perf_counter() - start)
    return times


def memory(folder: Path, count: int) -> dict[str, Any]:
    out = subprocess.run([sys.executable, "-P", "-c", MEMORY_PROBE, str(folder), str(count)],
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--files", type=int, default=10_000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--jobs", type=int, default=2, help="worker processes of the pooled cases")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--json", type=Path, help="write the figures here too")
    args = parser.parse_args(argv)

    folder = archive(args.files, args.seed)
    padded = archive(args.files, args.seed, PAD)
    known = check(folder)
    check(padded)
    paths = paths_of(folder)
    size = sum(os.path.getsize(p) for p in paths)
    print(f"{len(paths)} files, {size / MB:.1f} MB ({size / len(paths) / 1000:.1f} KB a file), "
          f"{known['entries']} entries; Python {platform.python_version()}, {os.cpu_count()} CPUs, "
          f"load {os.getloadavg()[0]:.2f}")

    times = timings(cases(paths, folder, args.jobs), args.rounds)
    best = {name: min(t) for name, t in times.items()}
    print()
    print("| what | files/s | MB/s | median s | best s |")
    print("|---|---:|---:|---:|---:|")
    for name, t in times.items():
        print(f"| {name} | {len(paths) / best[name]:,.0f} | {size / MB / best[name]:.1f} | "
              f"{statistics.median(t):.2f} | {best[name]:.2f} |")
    names = list(times)
    ratio = best[names[0]] / best[names[1]]
    parallel = best[names[1]] / best[names[3]]
    print()
    print(f"tarvik.ledger / tarvik.many throughput: {ratio:.2f} (target 0.7: {'met' if ratio >= 0.7 else 'NOT met'})")
    print(f"tarvik.ledger in {args.jobs} processes / in one: {parallel:.2f} "
          f"(target 1.7: {'met' if parallel >= 1.7 else 'NOT met'})")

    probes = {
        "half the files": memory(folder, len(paths) // 2),
        "all the files": memory(folder, len(paths)),
        f"all the files, each document padded by {PAD} characters": memory(padded, len(paths)),
    }
    print()
    print("| ledger of | MB read | entries | peak memory growth, MB | per entry, bytes | per MB read, MB |")
    print("|---|---:|---:|---:|---:|---:|")
    for name, p in probes.items():
        grown = p["growth_kb"] * 1024
        print(f"| {name} | {p['bytes'] / MB:.1f} | {p['entries']:,} | {grown / MB:.0f} | "
              f"{grown / max(p['entries'], 1):,.0f} | {grown / max(p['bytes'], 1):.2f} |")
    if args.json:
        args.json.write_text(json.dumps({"files": len(paths), "bytes": size, "entries": known["entries"],
                                         "times": times, "memory": probes}, indent=1))
    return 0


if __name__ == "__main__":
    sys.exit(main())
