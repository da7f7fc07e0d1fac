"""The repairs that `tarvik.read` applies, each a hook that `tarvik_py.parse` also takes.

Each repair fixes one thing that real bank exports do and the strict reader refuses or leaves
empty. Used with `tarvik.read`, every value a repair changes is reported with its line; passed
to `tarvik_py.parse` directly, a repair works the same but reports nothing:

    statement = tarvik_py.parse(data, hooks=list(tarvik.hooks.REPAIRS))
"""

from __future__ import annotations

import re
from collections.abc import Callable, Mapping
from dataclasses import dataclass
from typing import Final, NamedTuple

import tarvik_py

from ._fields import DOCUMENT_AMOUNT_KEYS, INTERVAL_AMOUNT_KEYS

__all__ = [
    "REPAIRS",
    "Edit",
    "Repair",
    "comma_amounts",
    "names_from_numbered",
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


Rule = Callable[[tarvik_py.SectionType, dict[str, str]], list[Edit]]


@dataclass(frozen=True)
class Repair:
    """A shipped repair: a hook for `tarvik_py.parse`, with the edits it makes on request."""

    name: str
    rule: Rule

    def __call__(
        self, section_type: tarvik_py.SectionType, attrs: dict[str, str], header: Mapping[str, str]
    ) -> None:
        self.rule(section_type, attrs)

    def apply(self, section_type: tarvik_py.SectionType, attrs: dict[str, str]) -> list[Edit]:
        """Repair `attrs` in place and return what changed."""
        return self.rule(section_type, attrs)


def _yo_in_keys(section_type: tarvik_py.SectionType, attrs: dict[str, str]) -> list[Edit]:
    keys = "".join(attrs)  # one scan of all the keys: most sections have no ё at all
    if "ё" not in keys and "Ё" not in keys:
        return []
    edits: list[Edit] = []
    renamed: dict[str, str] = {}
    for key, value in attrs.items():
        plain = key.replace("ё", "е").replace("Ё", "Е")
        # Where both spellings stand, the plain one is what the reader takes; leave both.
        if plain != key and plain not in attrs and plain not in renamed:
            edits.append(Edit(plain, key, plain, key, f"key {key} read as {plain}"))
            key = plain
        renamed[key] = value
    # Rebuilt in place, so every key keeps its position.
    attrs.clear()
    attrs.update(renamed)
    return edits


_NAME_SOURCES: Final = (("Плательщик", "Плательщик1"), ("Получатель", "Получатель1"))


def _names_from_numbered(section_type: tarvik_py.SectionType, attrs: dict[str, str]) -> list[Edit]:
    if section_type != tarvik_py.SectionType.Document:
        return []
    edits = []
    for key, source in _NAME_SOURCES:
        old = attrs.get(key)
        name = attrs.get(source)
        if not old and name:
            attrs[key] = name
            edits.append(Edit(key, old, name, source, f"{key} taken from {source}: {name!r}"))
    return edits


PURPOSE_KEY: Final = "НазначениеПлатежа"
_PURPOSE_LINES: Final = tuple(f"{PURPOSE_KEY}{n}" for n in range(1, 7))


def _purpose_from_numbered(
    section_type: tarvik_py.SectionType, attrs: dict[str, str]
) -> list[Edit]:
    if section_type != tarvik_py.SectionType.Document or PURPOSE_KEY in attrs:
        return []
    present = [key for key in _PURPOSE_LINES if key in attrs]
    if not present:
        return []
    # The numbered lines are one text wrapped for print; a space joins what the wrap split.
    purpose = " ".join(part for key in present if (part := attrs[key].strip()))
    attrs[PURPOSE_KEY] = purpose
    joined = ", ".join(present)
    return [Edit(PURPOSE_KEY, None, purpose, present[0], f"{PURPOSE_KEY} joined from {joined}: {purpose!r}")]


# Digits grouped by thousands with spaces (plain, no-break or narrow no-break), or not grouped;
# then a decimal comma or point. Only a grouped amount or a comma needs the repair.
_LOOSE_AMOUNT: Final = re.compile(
    r"([+-]?)(\d{1,3}(?:[ \u00a0\u202f]\d{3})+|\d+)(?:([.,])(\d+))?"
)


_LOOSE_MARK: Final = re.compile(r"[, \u00a0\u202f]")


def plain_amount(text: str) -> str | None:
    """The plain decimal form of an amount written with grouping spaces or a decimal comma.

    None when `text` is not such an amount (a plain one included): `1,000.00` is not taken,
    since its comma may group thousands.
    """
    if not _LOOSE_MARK.search(text):  # the usual plain amount, told apart cheaply
        return None
    match = _LOOSE_AMOUNT.fullmatch(text)
    if match is None:
        return None
    sign, whole, point, fraction = match.groups()
    grouped = not whole.isdigit()
    if not grouped and point != ",":
        return None
    digits = re.sub(r"\D", "", whole)
    return f"{sign}{digits}.{fraction}" if fraction else f"{sign}{digits}"


def _comma_amounts(section_type: tarvik_py.SectionType, attrs: dict[str, str]) -> list[Edit]:
    keys = (
        DOCUMENT_AMOUNT_KEYS
        if section_type == tarvik_py.SectionType.Document
        else INTERVAL_AMOUNT_KEYS
    )
    edits = []
    for key in keys:
        old = attrs.get(key)
        new = None if old is None else plain_amount(old)
        if old is not None and new is not None:
            attrs[key] = new
            edits.append(Edit(key, old, new, key, f"{key} {old!r} read as {new}"))
    return edits


yo_in_keys: Final = Repair("yo_in_keys", _yo_in_keys)
"""`ПолучательСчёт` and any other key written with `ё`/`Ё` is read with `е`/`Е`."""

names_from_numbered: Final = Repair("names_from_numbered", _names_from_numbered)
"""An absent or empty `Получатель` (`Плательщик`) takes the name in `Получатель1` (`Плательщик1`)."""

purpose_from_numbered: Final = Repair("purpose_from_numbered", _purpose_from_numbered)
"""An absent `НазначениеПлатежа` is `НазначениеПлатежа1` to `6` joined with spaces."""

comma_amounts: Final = Repair("comma_amounts", _comma_amounts)
"""`15 000,00` reads as `15000.00`: amounts of documents and account sections."""

REPAIRS: Final = (yo_in_keys, names_from_numbered, purpose_from_numbered, comma_amounts)
"""The shipped repairs in the order `tarvik.read` applies them: keys first, then values."""
