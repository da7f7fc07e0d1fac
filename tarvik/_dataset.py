"""A Parquet dataset partitioned by columns (COLUMN=VALUE/ folders), read back as it was written.

A folder's name carries no type, so each reader guesses one from the values: polars takes
`account=00000000000000000001` for the number 1, and a BIC's leading zero goes the same way. A
text column partitioned on is therefore kept inside the files too, dictionary-encoded as
`pyarrow.parquet.read_table` expects a partition column to be, and polars, DuckDB, pandas and
pyarrow take its type from there: text, as written. Numbers and dates are left to the folders.
"""

from __future__ import annotations

import os
from collections.abc import Iterable, Sequence
from typing import Any, Final

from . import _extras

__all__ = ["write_partitioned"]

# pyarrow drops the partition columns from the files it writes, so it partitions by copies under
# this prefix, whose folders are renamed when it is done.
_COPY: Final = "tarvik-partition-copy-"


def write_partitioned(
    batches: Iterable[Any], path: str, schema: Any, partition: Sequence[str]
) -> None:
    """Writes `batches` (pyarrow record batches of `schema`) under `path`, partitioned by
    `partition`, hive style."""
    pa = _extras.require("pyarrow", "Parquet")
    ds = _extras.require("pyarrow.dataset", "Parquet")
    text = [c for c in partition if pa.types.is_string(schema.field(c).type)]
    dictionary = pa.dictionary(pa.int32(), pa.string())
    written = schema
    for column in text:
        written = written.set(written.get_field_index(column), pa.field(column, dictionary))
        written = written.append(pa.field(_COPY + column, pa.string()))

    def copied() -> Iterable[Any]:
        for batch in batches:
            arrays = [
                batch.column(i).dictionary_encode() if name in text else batch.column(i)
                for i, name in enumerate(batch.schema.names)
            ]
            arrays += [batch.column(column) for column in text]
            yield pa.RecordBatch.from_arrays(arrays, schema=written)

    ds.write_dataset(
        copied(),
        path,
        schema=written,
        format="parquet",
        partitioning=[_COPY + c if c in text else c for c in partition],
        partitioning_flavor="hive",
        existing_data_behavior="overwrite_or_ignore",
    )
    for folder, dirs, _ in os.walk(path, topdown=False):
        for name in dirs:
            if name.startswith(_COPY):
                os.rename(
                    os.path.join(folder, name), os.path.join(folder, name.removeprefix(_COPY))
                )
