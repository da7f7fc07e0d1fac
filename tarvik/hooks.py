"""The repairs that `tarvik.read` applies, each a hook that `tarvik_py.parse` also takes.

Each repair fixes one thing that real bank exports do and the strict reader refuses or leaves
empty. Used with `tarvik.read`, every value a repair changes is reported with its line; passed
to `tarvik_py.parse` directly, a repair works the same but reports nothing:

    statement = tarvik_py.parse(data, hooks=list(tarvik.hooks.REPAIRS))

The repairs are written once, in C++ (`tarvik._columns`): `tarvik_py.parse` runs them natively on
each section, with no dict and no Python call, and so do `tarvik.read` and `tarvik.to_arrow`.
Called from Python as `repair(section_type, attrs, header)`, a repair changes the dict `attrs`
in place by the same rules.
"""

from __future__ import annotations

from typing import Final, NamedTuple

from . import _columns

__all__ = [
    "REPAIRS",
    "Edit",
    "Repair",
    "comma_amounts",
    "names_from_numbered",
    "plain_amount",
    "purpose_from_numbered",
    "yo_in_keys",
]


class Edit(NamedTuple):
    """One change a repair made to a section: `key` now holds `new` in place of `old`."""

    key: str
    old: str | None  # None: the key was absent
    new: str
    source: str  # the key whose line in the file the new text comes from
    message: str


Repair = _columns.Repair
"""A shipped repair: `repair(section_type, attrs, header)` repairs `attrs` in place, and
`repair.apply(section_type, attrs)` does the same and returns its `Edit`s; `repair.name` is its
name below."""

yo_in_keys: Final[Repair] = _columns.REPAIRS[0]
"""`ПолучательСчёт` and any other key written with `ё`/`Ё` is read with `е`/`Е`, where that key is
not there too."""
names_from_numbered: Final[Repair] = _columns.REPAIRS[1]
"""An absent or empty `Получатель` (`Плательщик`) takes the name in `Получатель1`
(`Плательщик1`)."""
purpose_from_numbered: Final[Repair] = _columns.REPAIRS[2]
"""An absent `НазначениеПлатежа` is `НазначениеПлатежа1` to `6`, trimmed and joined with spaces."""
comma_amounts: Final[Repair] = _columns.REPAIRS[3]
"""`15 000,00` reads as `15000.00` (also with no-break spaces): amounts of documents and account
sections. `1,000.00`, whose comma may group thousands, is left alone."""

REPAIRS: Final = (yo_in_keys, names_from_numbered, purpose_from_numbered, comma_amounts)
"""The shipped repairs in the order `tarvik.read` applies them: keys first, then values."""


def plain_amount(text: str) -> str | None:
    """The plain decimal form of an amount written with grouping spaces or a decimal comma.

    None when `text` is not such an amount (a plain one included): `1,000.00` is not taken,
    since its comma may group thousands. Digits of every script count, as Python's `\\d` takes
    them, and are kept as written.
    """
    return _columns.plain_amount(text)
