# The C++ module under tarvik.to_arrow; see columns/module.cpp.
from collections.abc import Buffer, Sequence
from typing import final

@final
class Table:
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object: ...
    def __arrow_c_schema__(self) -> object: ...
    def __len__(self) -> int: ...

_Edit = tuple[int, str, str, str | None, str, str, str]

def read(
    data: Buffer, repairs: bool, /
) -> tuple[dict[str, str], str, Table, Table, Table, list[_Edit]] | None: ...
def lined_table(
    names: Sequence[str],
    nullable: Sequence[bool],
    lines: Sequence[int],
    columns: Sequence[Sequence[str | None]],
    /,
) -> Table: ...
