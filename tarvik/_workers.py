"""One function over many files in worker processes, results in input order, with a progress bar
on a terminal.

The workers come from a fork server, not from forking the caller: the caller may have imported
pyarrow, whose threads a forked child would inherit stopped. The server imports tarvik before it
forks, so that each worker starts with it loaded.
"""

from __future__ import annotations

import os
import sys
from collections.abc import Callable, Iterable, Iterator

__all__ = ["in_workers"]


def in_workers[T](
    func: Callable[[str], T], paths: list[str], jobs: int, what: str, *, progress: bool = False
) -> Iterator[T]:
    """`func` over `paths` in input order, in up to `jobs` processes; with `progress`, a bar on
    standard error where that is a terminal. `func` must be a module's function (or a partial of
    one), for the workers to import."""
    bar = None
    if progress and len(paths) > 1 and sys.stderr.isatty():
        try:
            from tqdm import tqdm
        except ImportError:  # the bar is a nicety; the work does not need it
            pass
        else:
            columns, rows = _terminal_size()
            bar = tqdm(
                total=len(paths),
                unit="file",
                desc=what,
                file=sys.stderr,
                ncols=columns,
                nrows=rows,
            )
    results: Iterable[T]
    if jobs <= 1 or len(paths) <= 1:
        results = map(func, paths)
        pool = None
    else:
        # A pool only where there is work for one.
        import concurrent.futures
        import multiprocessing

        context = multiprocessing.get_context("forkserver")
        context.set_forkserver_preload(["tarvik"])
        pool = concurrent.futures.ProcessPoolExecutor(
            max_workers=min(jobs, len(paths)), mp_context=context
        )
        results = pool.map(func, paths, chunksize=1)
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
