"""One function over many files in worker processes, results in input order, with a progress bar
on a terminal.

A worker may take its files some at a time (`chunk`): each exchange with a worker costs a message
each way, which a file of some kilobytes does not pay for, and the results of a chunk pickle as
one, their repeated values once.

The workers come from a fork server, not from forking the caller: the caller may have imported
pyarrow, whose threads a forked child would inherit stopped. The server imports tarvik before it
forks, so that each worker starts with it loaded.
"""

from __future__ import annotations

import functools
import os
import sys
from collections.abc import Callable, Iterable, Iterator, Sequence

__all__ = ["in_workers"]


def in_workers[A, T](
    func: Callable[[A], T],
    items: Sequence[A],
    jobs: int,
    what: str,
    *,
    progress: bool = False,
    chunk: int = 1,
    pack: Callable[[list[T]], list[T]] = list,
) -> Iterator[T]:
    """`func` over `items` (paths, or anything that pickles) in input order, in up to `jobs`
    processes, each taking `chunk` items at a time; with `progress`, a bar on standard error
    where that is a terminal. `func` must be a module's function (or a partial of one), for the
    workers to import; a chunk's results come back as `pack` of their list, which may pickle them
    more cheaply than a list does."""
    bar = None
    if progress and len(items) > 1 and sys.stderr.isatty():
        try:
            from tqdm import tqdm
        except ImportError:  # the bar is a nicety; the work does not need it
            pass
        else:
            columns, rows = _terminal_size()
            bar = tqdm(
                total=len(items),
                unit="file",
                desc=what,
                file=sys.stderr,
                ncols=columns,
                nrows=rows,
            )
    results: Iterable[T]
    chunks = [items[i : i + chunk] for i in range(0, len(items), max(chunk, 1))]
    if jobs <= 1 or len(chunks) <= 1:
        results = map(func, items)
        pool = None
    else:
        # A pool only where there is work for one.
        import concurrent.futures
        import multiprocessing

        context = multiprocessing.get_context("forkserver")
        context.set_forkserver_preload(["tarvik"])
        pool = concurrent.futures.ProcessPoolExecutor(
            max_workers=min(jobs, len(chunks)), mp_context=context
        )
        results = _flat(pool.map(functools.partial(_each, func, pack), chunks, chunksize=1))
    try:
        for result in results:
            if bar is not None:
                bar.update()
            yield result
    finally:
        if pool is not None:
            pool.shutdown(cancel_futures=True)
        if bar is not None:
            bar.close()


def _terminal_size() -> tuple[int, int]:
    # A terminal that does not tell its size (0 by 0) would get no bar at all.
    try:
        columns, rows = os.get_terminal_size(sys.stderr.fileno())
    except OSError:
        columns = rows = 0
    return columns or 80, rows or 24


def chunk_size(items: int, jobs: int) -> int:
    """How many items a worker takes at a time: a few chunks for each worker at least, so that
    they end together, and at most 64."""
    return max(1, min(64, items // (max(jobs, 1) * 8)))


def _each[A, T](
    func: Callable[[A], T], pack: Callable[[list[T]], list[T]], items: Sequence[A]
) -> list[T]:
    return pack([func(item) for item in items])


def _flat[T](chunks: Iterable[list[T]]) -> Iterator[T]:
    for results in chunks:
        yield from results
