"""Many statement files as lazy Dask DataFrames: a partition per file or per group of files.

    frames = tarvik.dask.read_statements("archive/**/*.txt", files_per_partition=20)
    totals = frames.documents.groupby("payee_account")["amount"].sum().compute()
    frames.failures.compute()    # file, error, message, line: every file that did not read

Nothing is read until a frame is computed: the file list is made at the call, the rest in the
workers, each partition by `tarvik.many.read_file` on its files. The frames are those of
`tarvik.many.TABLES`, each with `file` first; a file that does not read gives no rows in the
others and one row in `failures`, and a pattern that matches nothing gives one there too.
Columns are pandas' `ArrowDtype`: dates `date32`, amounts `decimal128(38, scale)`, exact
(see `tarvik.many` on the scale). The paths must be readable where the workers run.

All frames come from the same tasks: compute them together (`dask.compute(frames.documents,
frames.failures)`) and each file is read once. Needs the extra `tarvik[dask]`.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

from . import _extras, _paths, many
from ._paths import Paths
from ._values import check_scale

if TYPE_CHECKING:
    from .ledger import Ledger

__all__ = ["StatementFrames", "ledger", "read_statements"]


@dataclass(frozen=True)
class StatementFrames:
    """What `read_statements` gives: a lazy `dask.dataframe.DataFrame` per table.

    Typed Any: dask's frames are generic over pandas, which mypy cannot see without them.
    """

    documents: Any
    intervals: Any
    warnings: Any  # sections left out: file, line, message, section
    changes: Any  # what the repairs changed
    failures: Any  # file, error, message, line


def read_statements(
    paths: Paths,
    *,
    files_per_partition: int = 1,
    repairs: bool = True,
    scale: int = many.DEFAULT_SCALE,
) -> StatementFrames:
    """Statement files (paths, folders read recursively, glob patterns) as lazy Dask frames.

    `files_per_partition` files make one partition, in name order; `repairs` is as in
    `tarvik.read`, `scale` as in `tarvik.many.read_file`.
    """
    if files_per_partition < 1:
        raise ValueError(f"files_per_partition must be at least 1, not {files_per_partition}")
    check_scale(scale)
    dask = _dask("dask")
    dd = _dask("dask.dataframe")
    files, unmatched = many.statement_paths(_paths.patterns(paths))
    groups = [
        tuple(files[i : i + files_per_partition]) for i in range(0, len(files), files_per_partition)
    ]
    parts = [dask.delayed(_read_group, pure=True)(group, repairs, scale) for group in groups]
    if unmatched:
        parts.append(dask.delayed(_frames, pure=True)(many.missing(unmatched, scale)))
    frames = {}
    for table in many.TABLES:
        meta = _pandas(many.schema(table, scale).empty_table())
        if parts:
            frames[table] = dd.from_delayed(
                [part[table] for part in parts], meta=meta, verify_meta=False
            )
        else:
            frames[table] = dd.from_pandas(meta, npartitions=1)
    return StatementFrames(**frames)


def ledger(paths: Paths, *, files_per_partition: int = 20, repairs: bool = True) -> Ledger:
    """The ledger of statement files (paths, folders, glob patterns), read and merged on the
    current Dask scheduler: a `distributed.Client`'s cluster where one is made.

    Equal to `tarvik.ledger` of the same files. The workers read the files, `files_per_partition`
    each time, and merge the entries and intervals in buckets; only the ledger itself comes
    back, as a `tarvik.Ledger`.
    """
    if files_per_partition < 1:
        raise ValueError(f"files_per_partition must be at least 1, not {files_per_partition}")
    from . import _ledger_dask

    files, unmatched = many.statement_paths(_paths.patterns(paths))
    return _ledger_dask.ledger(
        files, unmatched, files_per_partition=files_per_partition, repairs=repairs
    )


def _read_group(files: tuple[str, ...], repairs: bool, scale: int) -> dict[str, Any]:
    return _frames(
        many.concat((many.read_file(f, repairs=repairs, scale=scale) for f in files), scale)
    )


def _frames(tables: many.FileTables) -> dict[str, Any]:
    return {table: _pandas(getattr(tables, table)) for table in many.TABLES}


def _pandas(table: Any) -> Any:
    # Arrow-backed columns keep decimals exact and dates as dates, and cost no conversion.
    pd = _dask("pandas")
    return table.to_pandas(types_mapper=pd.ArrowDtype)


def _dask(module: str) -> Any:
    return _extras.require(module, "tarvik.dask")
