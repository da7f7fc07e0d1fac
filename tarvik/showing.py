"""`show`: what a statement holds, as the text the command prints.

print(tarvik.show("kl_to_1c.txt"))   # header, accounts, documents, warnings, repairs
"""

from __future__ import annotations

import os
from dataclasses import dataclass

from ._findings import SKIPPED_REPAIRS
from ._sources import NO_NAME, Source
from .checking import mismatches
from .reading import Reading, read

__all__ = ["Summary", "show"]


@dataclass(frozen=True)
class Summary:
    """What `show` gives: the reading, the balances that do not add up, and the text of both."""

    reading: Reading
    mismatches: list[tuple[int | None, str]]  # as `tarvik.checking.mismatches` gives them

    @property
    def problems(self) -> bool:
        """Whether the reader left a section or a line out, or a balance does not add up."""
        skipped = SKIPPED_REPAIRS & set(self.reading.recording.change_counts())
        return bool(self.reading.statement.warnings or self.mismatches or skipped)

    def lines(self) -> list[str]:
        """The text, line by line: the file and its encoding, header, accounts with their
        intervals, documents, warnings, mismatches (where there are any) and repairs."""
        reading = self.reading
        statement = reading.statement
        notes = "; byte-order mark dropped" if reading.byte_order_mark else ""
        name = os.path.basename(reading.name) if reading.name is not None else NO_NAME
        out = [f"{name} ({reading.encoding}{notes})", "Header:"]
        out += [f"  {key} = {value}" for key, value in statement.header.items()]
        out.append("Accounts:")
        for number, account in statement.accounts.items():
            out.append(f"  {number}")
            for interval in account.intervals:
                period = f"{interval.date_start} .. {interval.date_end or '?'}"
                out.append(
                    f"    {period}: opening {interval.start_amount}, "
                    f"in {interval.total_income or '-'}, out {interval.total_expense or '-'}, "
                    f"closing {interval.end_amount or '-'}"
                )
        out.append(f"Documents: {len(statement.documents)}")
        out += [
            f"  {doc.doc_date} {doc.doc_type} №{doc.doc_number}: {doc.amount}"
            for doc in statement.documents
        ]
        out.append(f"Warnings: {len(statement.warnings)}")
        out += [
            f"  line {lineno}: {'account section: ' if section == 'account' else ''}{message}"
            for (lineno, message), section in zip(
                statement.warnings, reading.warning_sections(), strict=True
            )
        ]
        if self.mismatches:
            out.append(f"Mismatches: {len(self.mismatches)}")
            out += [f"  line {line}: {text}" for line, text in self.mismatches]
        out.append(f"Repairs: {len(reading.changes)}")  # the damaged lines read or skipped too
        out += [f"  {change}" for change in reading.changes]
        return out

    def __str__(self) -> str:
        return "\n".join(self.lines())


def show(source: Source, *, repairs: bool = True) -> Summary:
    """What the statement in `source` holds, for a person to read: `str()` of what it returns.

    `source` and `repairs` are as in `tarvik.read`, and so are the exceptions.
    """
    reading = read(source, repairs=repairs)
    return Summary(reading, mismatches(reading))
