"""The rows of a table that hands out an Arrow C stream, with pyarrow or, without it, read here.

Without pyarrow the stream is read through ctypes: the columns tarvik builds (int64, string,
date32, bool, decimal128 and decimal256), null where the validity bitmap says so. The sanitized
run, which has no pyarrow, reads the ledger's tables this way.
"""

from __future__ import annotations

import ctypes
import datetime
import decimal
import importlib

EPOCH = datetime.date(1970, 1, 1)


class ArrowSchema(ctypes.Structure):
    pass


ArrowSchema._fields_ = [
    ("format", ctypes.c_char_p),
    ("name", ctypes.c_char_p),
    ("metadata", ctypes.c_char_p),
    ("flags", ctypes.c_int64),
    ("n_children", ctypes.c_int64),
    ("children", ctypes.POINTER(ctypes.POINTER(ArrowSchema))),
    ("dictionary", ctypes.POINTER(ArrowSchema)),
    ("release", ctypes.CFUNCTYPE(None, ctypes.POINTER(ArrowSchema))),
    ("private_data", ctypes.c_void_p),
]


class ArrowArray(ctypes.Structure):
    pass


ArrowArray._fields_ = [
    ("length", ctypes.c_int64),
    ("null_count", ctypes.c_int64),
    ("offset", ctypes.c_int64),
    ("n_buffers", ctypes.c_int64),
    ("n_children", ctypes.c_int64),
    ("buffers", ctypes.POINTER(ctypes.c_void_p)),
    ("children", ctypes.POINTER(ctypes.POINTER(ArrowArray))),
    ("dictionary", ctypes.POINTER(ArrowArray)),
    ("release", ctypes.CFUNCTYPE(None, ctypes.POINTER(ArrowArray))),
    ("private_data", ctypes.c_void_p),
]


class ArrowArrayStream(ctypes.Structure):
    pass


ArrowArrayStream._fields_ = [
    ("get_schema", ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(ArrowArrayStream), ctypes.POINTER(ArrowSchema))),
    ("get_next", ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(ArrowArrayStream), ctypes.POINTER(ArrowArray))),
    ("get_last_error", ctypes.CFUNCTYPE(ctypes.c_char_p, ctypes.POINTER(ArrowArrayStream))),
    ("release", ctypes.CFUNCTYPE(None, ctypes.POINTER(ArrowArrayStream))),
    ("private_data", ctypes.c_void_p),
]

_get_pointer = ctypes.pythonapi.PyCapsule_GetPointer
_get_pointer.restype = ctypes.c_void_p
_get_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]


def rows(table) -> list[dict]:
    """The table's rows as dicts, values as pyarrow's to_pylist gives them."""
    try:
        pa = importlib.import_module("pyarrow")
    except ImportError:
        return read_stream(table)
    return pa.table(table).to_pylist()


def schema(table) -> list[tuple[str, str]]:
    """The columns' names and Arrow format strings (`d:38,2`, `tdD`, `u` ...)."""
    return [(name, fmt) for name, fmt, _ in _columns(table)[0]]


def read_stream(table) -> list[dict]:
    columns, values = _columns(table)
    return [dict(zip((name for name, _, _ in columns), row)) for row in zip(*values)] if values else []


def _columns(table):
    capsule = table.__arrow_c_stream__()
    stream = ctypes.cast(_get_pointer(capsule, b"arrow_array_stream"), ctypes.POINTER(ArrowArrayStream)).contents
    schema = ArrowSchema()
    assert stream.get_schema(ctypes.byref(stream), ctypes.byref(schema)) == 0
    columns = [
        (child.contents.name.decode(), child.contents.format.decode(), child.contents)
        for child in schema.children[: schema.n_children]
    ]
    values: list[list] = [[] for _ in columns]
    while True:
        batch = ArrowArray()
        assert stream.get_next(ctypes.byref(stream), ctypes.byref(batch)) == 0
        if not batch.release:
            break
        for i, (_, fmt, _) in enumerate(columns):
            values[i] += _values(fmt, batch.children[i].contents, batch.offset)
        batch.release(ctypes.byref(batch))
    schema.release(ctypes.byref(schema))
    stream.release(ctypes.byref(stream))
    return columns, values


def _values(fmt: str, array: ArrowArray, outer: int) -> list:
    start = outer + array.offset
    validity = array.buffers[0]
    out = []
    for row in range(start, start + array.length):
        if validity and not _bit(validity, row):
            out.append(None)
        elif fmt == "l":
            out.append(ctypes.c_int64.from_address(array.buffers[1] + 8 * row).value)
        elif fmt == "tdD":
            out.append(EPOCH + datetime.timedelta(days=ctypes.c_int32.from_address(array.buffers[1] + 4 * row).value))
        elif fmt == "b":
            out.append(_bit(array.buffers[1], row))
        elif fmt == "u":
            first = ctypes.c_int32.from_address(array.buffers[1] + 4 * row).value
            last = ctypes.c_int32.from_address(array.buffers[1] + 4 * row + 4).value
            out.append(ctypes.string_at(array.buffers[2] + first, last - first).decode())
        elif fmt.startswith("d:"):
            _, scale, *width = fmt[2:].split(",")
            size = int(width[0]) // 8 if width else 16
            raw = ctypes.string_at(array.buffers[1] + size * row, size)
            unscaled = int.from_bytes(raw, "little", signed=True)
            out.append(decimal.Decimal(unscaled).scaleb(-int(scale), decimal.Context(prec=100)))
        else:
            raise NotImplementedError(fmt)
    return out


def _bit(address: int, index: int) -> bool:
    return bool(ctypes.c_uint8.from_address(address + index // 8).value >> (index % 8) & 1)
