"""`check`: everything worth a reader's attention in a statement, each with its place."""

from __future__ import annotations

from . import _sources
from ._faults import FILE_FAULTS
from ._findings import Finding, Findings, failure, mismatches, skipped_sections
from .reading import Source, read

__all__ = ["Finding", "Findings", "check", "mismatches"]


def check(source: Source, *, repairs: bool = True, name: str | None = None) -> Findings:
    """Read `source` and report its failure, or its warnings, skipped lines, repairs and balance
    mismatches.

    Never raises for the content of the file: a statement that cannot be read is one "error"
    finding. `name` labels the findings (default: the path, a file's name, or "<bytes>").
    """
    label = _sources.label(source, name)
    try:
        reading = read(source, repairs=repairs)
    except FILE_FAULTS as exc:
        return Findings(label, [failure(label, exc)])
    found = skipped_sections(label, reading.statement.warnings, reading.warning_sections())
    found += [Finding(label, line, "mismatch", text) for line, text in mismatches(reading)]
    return Findings(label, found, reading.recording if reading.changes else None)
