"""The four repairs of tarvik.hooks as a small pure-Python model, for the tests alone.

The shipped repairs are written once, in C++, and run inside the reader. This model says the same
rules the plain way, on a dict of a section's attributes, so that the tests can compare what the
native repairs do, and the line each change is reported on, with what the rules say.
"""

from __future__ import annotations

import re
from typing import NamedTuple

import tarvik_py

DOCUMENT = tarvik_py.SectionType.Document
PURPOSE_KEY = "НазначениеПлатежа"
PURPOSE_LINES = tuple(f"{PURPOSE_KEY}{n}" for n in range(1, 7))
NAME_SOURCES = (("Плательщик", "Плательщик1"), ("Получатель", "Получатель1"))
DOCUMENT_AMOUNTS = ("Сумма",)
INTERVAL_AMOUNTS = ("НачальныйОстаток", "ВсегоПоступило", "ВсегоСписано", "КонечныйОстаток")


class Edit(NamedTuple):
    repair: str
    key: str
    old: str | None
    new: str
    source: str  # the key whose line the new text comes from
    message: str


def yo_in_keys(section_type, attrs):
    if not any("ё" in key or "Ё" in key for key in attrs):
        return []
    edits, renamed = [], {}
    for key, value in attrs.items():
        plain = key.replace("ё", "е").replace("Ё", "Е")
        if plain != key and plain not in attrs and plain not in renamed:
            edits.append(Edit("yo_in_keys", plain, key, plain, key, f"key {key} read as {plain}"))
            key = plain
        renamed[key] = value
    attrs.clear()
    attrs.update(renamed)
    return edits


def names_from_numbered(section_type, attrs):
    if section_type != DOCUMENT:
        return []
    edits = []
    for key, source in NAME_SOURCES:
        old, name = attrs.get(key), attrs.get(source)
        if not old and name:
            attrs[key] = name
            edits.append(Edit("names_from_numbered", key, old, name, source,
                              f"{key} taken from {source}: {name!r}"))
    return edits


def purpose_from_numbered(section_type, attrs):
    if section_type != DOCUMENT or PURPOSE_KEY in attrs:
        return []
    present = [key for key in PURPOSE_LINES if key in attrs]
    if not present:
        return []
    purpose = " ".join(part for key in present if (part := attrs[key].strip()))
    attrs[PURPOSE_KEY] = purpose
    joined = ", ".join(present)
    return [Edit("purpose_from_numbered", PURPOSE_KEY, None, purpose, present[0],
                 f"{PURPOSE_KEY} joined from {joined}: {purpose!r}")]


_LOOSE_AMOUNT = re.compile(r"([+-]?)(\d{1,3}(?:[ \u00a0\u202f]\d{3})+|\d+)(?:([.,])(\d+))?")


def plain_amount(text):
    if not re.search(r"[, \u00a0\u202f]", text):
        return None
    match = _LOOSE_AMOUNT.fullmatch(text)
    if match is None:
        return None
    sign, whole, point, fraction = match.groups()
    if whole.isdigit() and point != ",":
        return None
    digits = re.sub(r"\D", "", whole)
    return f"{sign}{digits}.{fraction}" if fraction else f"{sign}{digits}"


def comma_amounts(section_type, attrs):
    edits = []
    for key in DOCUMENT_AMOUNTS if section_type == DOCUMENT else INTERVAL_AMOUNTS:
        old = attrs.get(key)
        new = None if old is None else plain_amount(old)
        if new is not None:
            attrs[key] = new
            edits.append(Edit("comma_amounts", key, old, new, key, f"{key} {old!r} read as {new}"))
    return edits


RULES = (yo_in_keys, names_from_numbered, purpose_from_numbered, comma_amounts)


def as_hook(rule):
    """The rule as a hook for tarvik_py.parse, which the reader calls with dicts."""
    return lambda section_type, attrs, header: rule(section_type, attrs)


class Recorder:
    """One hook for the four rules that keeps each section's edits, by the section's order."""

    def __init__(self):
        self.edits = []  # (section ordinal, Edit)
        self.sections = 0

    def __call__(self, section_type, attrs, header):
        for rule in RULES:
            self.edits.extend((self.sections, edit) for edit in rule(section_type, attrs))
        self.sections += 1


_OPENING = re.compile(r"СекцияРасчСчет\r?$|СекцияДокумент=")
_CLOSING = re.compile(r"(КонецРасчСчет|КонецДокумента)\r?$")


def key_line(lines, opening, key):
    """The line of the last `key=` of the section that opens on line `opening` (1-based); failing
    that, of the key written with ё that yo_in_keys read as `key`; or the opening line."""
    exact = renamed = None
    for number in range(opening + 1, len(lines) + 1):
        line = lines[number - 1]
        if _CLOSING.match(line):
            break
        written = line.partition("=")[0]
        if written == key:
            exact = number
        elif written.replace("ё", "е").replace("Ё", "Е") == key:
            renamed = number
    return exact or renamed or opening


def section_openings(lines):
    """The line each section opens on, in file order."""
    return [n for n, line in enumerate(lines, start=1) if _OPENING.match(line)]
