"""Dates and amounts between their three forms: the file's text, the record's text, Python values.

A record (`tarvik_py.Document`, `tarvik_py.Interval`) holds a date as `YYYY-MM-DD` (a year
outside 0..9999 with its sign) and an amount as plain decimal digits with the scale of the file.
The file holds a date as `DD.MM.YYYY`. The limits below are the reader's: a value outside them
would not read back. The calendar is the proleptic Gregorian one, over every year the reader
takes.
"""

from __future__ import annotations

import datetime
import decimal
import re
from typing import Final

MIN_YEAR: Final = -262143
MAX_YEAR: Final = 262142
MAX_SCALE: Final = 28
MAGNITUDE_LIMIT: Final = 2**96
# Of the largest magnitude the reader takes, 2**96 - 1.
INTEGER_DIGITS: Final = len(str(MAGNITUDE_LIMIT - 1))

_RECORD_DATE = re.compile(r"([+-]\d{4,}|\d{4})-(\d{2})-(\d{2})")
_DECIMAL_TEXT = re.compile(r"[+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?")


def _days_in_month(year: int, month: int) -> int:
    if month == 2:
        leap = year % 4 == 0 and (year % 100 != 0 or year % 400 == 0)
        return 29 if leap else 28
    return 30 if month in (4, 6, 9, 11) else 31


def _check_ymd(year: int, month: int, day: int) -> None:
    if not MIN_YEAR <= year <= MAX_YEAR:
        raise ValueError(f"year {year} is outside {MIN_YEAR}..{MAX_YEAR}")
    if not 1 <= month <= 12 or not 1 <= day <= _days_in_month(year, month):
        raise ValueError(f"{year:04}-{month:02}-{day:02} is not a day of the calendar")


def record_date(text: str) -> tuple[int, int, int]:
    """Year, month and day of a record's `YYYY-MM-DD` text; ValueError if it names no day."""
    match = _RECORD_DATE.fullmatch(text)
    if match is None:
        raise ValueError(f"{text!r} is not a YYYY-MM-DD date")
    year, month, day = int(match[1]), int(match[2]), int(match[3])
    _check_ymd(year, month, day)
    return year, month, day


def file_date_order(text: str) -> tuple[int, int, int]:
    """Year, month and day of a `DD.MM.YYYY` text that `file_date` wrote, to sort dates by."""
    day, month, year = text.split(".")
    return int(year), int(month), int(day)


def epoch_days(text: str) -> int:
    """Days since 1970-01-01 of a record's `YYYY-MM-DD` text, any year the reader takes."""
    sign = -1 if text.startswith("-") else 1
    year_text, month_text, day_text = text.lstrip("+-").split("-")
    year, month, day = sign * int(year_text), int(month_text), int(day_text)
    # Days from civil, over 400-year eras.
    year -= 1 if month <= 2 else 0
    era = year // 400
    year_of_era = year - era * 400
    day_of_year = (153 * (month + (-3 if month > 2 else 9)) + 2) // 5 + day - 1
    day_of_era = year_of_era * 365 + year_of_era // 4 - year_of_era // 100 + day_of_year
    return era * 146097 + day_of_era - 719468


def file_date(value: object) -> str:
    """The file's `DD.MM.YYYY` text of a `datetime.date` or a record's `YYYY-MM-DD` text.

    Raises TypeError for other types and ValueError for a text that is not such a date.
    """
    if isinstance(value, datetime.datetime):
        raise TypeError("a datetime.datetime carries a time; give its .date()")
    if isinstance(value, datetime.date):
        return f"{value.day:02}.{value.month:02}.{value.year:04}"
    if not isinstance(value, str):
        raise TypeError(
            f"a date must be a datetime.date or YYYY-MM-DD text, not {type(value).__name__}"
        )
    year, month, day = record_date(value)
    # An unsigned year of four digits reads as written; any other needs its sign. One text per
    # day, so that equal days are written alike.
    year_text = f"{year:04}" if 0 <= year <= 9999 else f"{year:+}"
    return f"{day:02}.{month:02}.{year_text}"


def file_amount(value: object) -> str:
    """The plain decimal text of a `Decimal`, an `int` or a decimal text, as the reader takes it.

    Raises TypeError for other types (a float has no exact decimal value) and ValueError for a
    value the reader would not take back: not finite, more than 28 fraction digits, or more
    digits than 96 bits hold.
    """
    if isinstance(value, bool) or not isinstance(value, (decimal.Decimal, int, str)):
        hint = "; give a Decimal or text" if isinstance(value, float) else ""
        raise TypeError(
            f"an amount must be a Decimal, an int or decimal text, not {type(value).__name__}{hint}"
        )
    if isinstance(value, str):
        if _DECIMAL_TEXT.fullmatch(value) is None:
            raise ValueError(f"{value!r} is not a decimal number")
        number = decimal.Decimal(value)
    else:
        number = decimal.Decimal(value)
    if not number.is_finite():
        raise ValueError(f"{value!r} is not a finite number")
    _, digits, exponent = number.as_tuple()
    assert isinstance(exponent, int)
    magnitude = int("".join(map(str, digits))) * 10 ** max(exponent, 0)
    if -exponent > MAX_SCALE:
        raise ValueError(f"{value!r} has more than {MAX_SCALE} digits after the point")
    if magnitude >= MAGNITUDE_LIMIT:
        raise ValueError(f"{value!r} has more digits than an amount holds (96 bits)")
    return format(number, "f")


def to_date(text: str) -> datetime.date:
    """A record's `YYYY-MM-DD` text as a `datetime.date` (years 1 to 9999, as Python has them)."""
    return datetime.date.fromisoformat(text)


def to_decimal(text: str) -> decimal.Decimal:
    """A record's amount text as a `Decimal`, exactly."""
    return decimal.Decimal(text)


def check_scale(scale: int) -> None:
    """ValueError for a number of fraction digits the reader does not take."""
    if not 0 <= scale <= MAX_SCALE:
        raise ValueError(f"scale must be 0 to {MAX_SCALE}, not {scale}")


def scale_of(text: str) -> int:
    """The fraction digits of a record's amount text, as written."""
    point = text.find(".")
    return 0 if point < 0 else len(text) - point - 1


def unscaled(text: str, scale: int) -> int:
    """A record's amount text as an integer count of 10**-scale; `scale` not below its own."""
    factor: int = 10 ** (scale - scale_of(text))
    return int(text.replace(".", "")) * factor
