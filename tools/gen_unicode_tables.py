#!/usr/bin/env python3
"""Writes parser/unicode_tables.inc: the character property ranges used by parser/unicode.cpp.

The source is the Unicode Character Database as Debian's unicode-data package installs it
(/usr/share/unicode). White_Space comes from PropList.txt, Grapheme_Extend from
DerivedCoreProperties.txt, and the general categories from extracted/DerivedGeneralCategory.txt;
when both that file and UnicodeData.txt are present they must agree, and UnicodeData.txt alone is
enough when the extracted directory is missing.

Usage: tools/gen_unicode_tables.py [--ucd DIR] [--check] [OUTPUT]
  OUTPUT defaults to parser/unicode_tables.inc next to this script's directory; --check compares
  instead of writing and exits 1 when the file is stale.
"""

from __future__ import annotations

import argparse
import pathlib
import re
import sys

from generated_file import write_or_check

MAX_CODE_POINT = 0x10FFFF

# Categories whose characters do not print; the space U+0020 is the one Zs character that does.
NOT_PRINTABLE_CATEGORIES = frozenset({"Cc", "Cf", "Cs", "Co", "Cn", "Zl", "Zp", "Zs"})
PRINTABLE_EXCEPTIONS = frozenset({0x20})

REPO = pathlib.Path(__file__).resolve().parent.parent
DEFAULT_OUTPUT = REPO / "parser" / "unicode_tables.inc"
REGENERATE = "python3 tools/gen_unicode_tables.py --ucd /usr/share/unicode parser/unicode_tables.inc"

VERSION_LINE = re.compile(r"^#\s*[A-Za-z]+-(\d+\.\d+\.\d+)\.txt\s*$")


def data_lines(path: pathlib.Path):
    """Yields (code point range, fields) for each data line of a UCD property file."""
    with path.open(encoding="utf-8") as f:
        for raw in f:
            line = raw.split("#", 1)[0].strip()
            if not line:
                continue
            fields = [field.strip() for field in line.split(";")]
            first, _, last = fields[0].partition("..")
            yield (int(first, 16), int(last or first, 16)), fields[1:]


def file_version(path: pathlib.Path) -> str:
    with path.open(encoding="utf-8") as f:
        match = VERSION_LINE.match(f.readline())
    if not match:
        sys.exit(f"{path}: no version in the first line")
    return match.group(1)


def property_points(path: pathlib.Path, name: str) -> set[int]:
    points: set[int] = set()
    for (first, last), fields in data_lines(path):
        if fields[0] == name:
            points.update(range(first, last + 1))
    if not points:
        sys.exit(f"{path}: no code points with {name}")
    return points


def categories_from_derived(path: pathlib.Path) -> list[str]:
    categories = [""] * (MAX_CODE_POINT + 1)
    for (first, last), fields in data_lines(path):
        for cp in range(first, last + 1):
            categories[cp] = fields[0]
    if "" in categories:
        sys.exit(f"{path}: code point U+{categories.index(''):04X} has no category")
    return categories


def categories_from_unicode_data(path: pathlib.Path) -> list[str]:
    # Code points the file does not list are unassigned (Cn); "<..., First>" and "<..., Last>"
    # lines bound a range that shares one entry.
    categories = ["Cn"] * (MAX_CODE_POINT + 1)
    range_start = None
    with path.open(encoding="utf-8") as f:
        for raw in f:
            fields = raw.rstrip("\n").split(";")
            if len(fields) < 3:
                continue
            cp, name, category = int(fields[0], 16), fields[1], fields[2]
            if name.endswith(", First>"):
                range_start = cp
                continue
            if name.endswith(", Last>"):
                if range_start is None:
                    sys.exit(f"{path}: range end U+{cp:04X} without a start")
                for point in range(range_start, cp + 1):
                    categories[point] = category
                range_start = None
                continue
            categories[cp] = category
    return categories


def to_ranges(points) -> list[tuple[int, int]]:
    ranges: list[tuple[int, int]] = []
    for cp in sorted(points):
        if ranges and ranges[-1][1] + 1 == cp:
            ranges[-1] = (ranges[-1][0], cp)
        else:
            ranges.append((cp, cp))
    return ranges


def format_table(name: str, comment: str, ranges: list[tuple[int, int]]) -> str:
    # Four ranges a line keeps the output stable under the repository's clang-format settings.
    lines = [f"// {comment}", f"inline constexpr UnicodeRange {name}[] = {{"]
    cells = [f"{{0x{first:04X}, 0x{last:04X}}}," for first, last in ranges]
    for i in range(0, len(cells), 4):
        lines.append("    " + " ".join(cells[i : i + 4]))
    lines.append("};")
    return "\n".join(lines) + "\n"


def generate(ucd: pathlib.Path) -> str:
    prop_list = ucd / "PropList.txt"
    core_properties = ucd / "DerivedCoreProperties.txt"
    derived_categories = ucd / "extracted" / "DerivedGeneralCategory.txt"
    unicode_data = ucd / "UnicodeData.txt"

    versions = {file_version(prop_list), file_version(core_properties)}
    categories = None
    if derived_categories.exists():
        versions.add(file_version(derived_categories))
        categories = categories_from_derived(derived_categories)
    if unicode_data.exists():
        from_data = categories_from_unicode_data(unicode_data)
        if categories is not None and from_data != categories:
            cp = next(i for i, (a, b) in enumerate(zip(categories, from_data)) if a != b)
            sys.exit(f"{ucd}: general categories disagree at U+{cp:04X}")
        categories = from_data
    if categories is None:
        sys.exit(f"{ucd}: neither UnicodeData.txt nor extracted/DerivedGeneralCategory.txt")
    if len(versions) != 1:
        sys.exit(f"{ucd}: files of different Unicode versions: {sorted(versions)}")
    (version,) = versions

    white_space = property_points(prop_list, "White_Space")
    grapheme_extend = property_points(core_properties, "Grapheme_Extend")
    not_printable = (
        cp
        for cp, category in enumerate(categories)
        if category in NOT_PRINTABLE_CATEGORIES and cp not in PRINTABLE_EXCEPTIONS
    )

    decimal_digits = (cp for cp, category in enumerate(categories) if category == "Nd")
    unassigned = (cp for cp, category in enumerate(categories) if category == "Cn")

    header = (
        f"// Generated by tools/gen_unicode_tables.py from the Unicode Character Database {version}.\n"
        "// Do not edit; regenerate with (Debian package unicode-data):\n"
        f"//   {REGENERATE}\n"
        "// Each table lists sorted, disjoint, non-adjacent inclusive ranges of code points.\n"
        "// clang-format off\n"
    )
    tables = [
        format_table("kWhiteSpaceRanges", "White_Space (PropList.txt)", to_ranges(white_space)),
        format_table(
            "kGraphemeExtendRanges",
            "Grapheme_Extend (DerivedCoreProperties.txt)",
            to_ranges(grapheme_extend),
        ),
        format_table(
            "kNotPrintableRanges",
            "General categories Cc Cf Cs Co Cn Zl Zp, and Zs except U+0020",
            to_ranges(not_printable),
        ),
        format_table("kDecimalDigitRanges", "General category Nd", to_ranges(decimal_digits)),
        format_table("kUnassignedRanges", "General category Cn", to_ranges(unassigned)),
    ]
    return (
        header
        + f'\ninline constexpr char kUnicodeVersion[] = "{version}";\n\n'
        + "\n".join(tables)
        + "// clang-format on\n"
    )


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", nargs="?", type=pathlib.Path, default=DEFAULT_OUTPUT)
    parser.add_argument("--ucd", type=pathlib.Path, default=pathlib.Path("/usr/share/unicode"))
    parser.add_argument("--check", action="store_true", help="fail if OUTPUT is not up to date")
    args = parser.parse_args()

    text = generate(args.ucd)
    return write_or_check(args.output, text, args.check, REGENERATE)


if __name__ == "__main__":
    sys.exit(main())
