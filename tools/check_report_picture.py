"""Renders a report page in headless Chromium and looks at the picture as a person would.

    python tools/check_report_picture.py report.html [--png out.png]

The picture must not be blank, and each account section must show its balance chart: the
balance line's own colour is looked for, and each band of rows that holds it is one chart.
Chromium draws the page from the file alone, with the network off, so a page that needed
anything from elsewhere would show it missing. Exit status 0 when the picture is right, 1 when
it is not, 2 when it could not be made.
"""

from __future__ import annotations

import argparse
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

from PIL import Image

WIDTH = 1200
TOP = 1400  # the summary, and room to spare
PER_ACCOUNT = 2000  # an account's charts and tables, with room to spare
MAX_HEIGHT = 16000  # what Chromium draws in one screenshot
BALANCE_RGB = (0x1F, 0x5F, 0xA8)  # tarvik.reporting.BALANCE_COLOUR
GAP = 80  # rows without the line that part two charts


def chromium() -> str | None:
    for name in ("chromium", "chromium-browser", "google-chrome"):
        found = shutil.which(name)
        if found:
            return found
    return None


def screenshot(page: Path, png: Path, height: int) -> None:
    browser = chromium()
    if browser is None:
        raise RuntimeError("no Chromium: apt-get install chromium")
    with tempfile.TemporaryDirectory() as profile:
        subprocess.run(
            [
                browser,
                "--headless",
                "--no-sandbox",
                "--disable-gpu",
                "--hide-scrollbars",
                "--no-first-run",
                "--disable-extensions",
                f"--user-data-dir={profile}",
                # No network at all: whatever the page wanted from elsewhere would be missing.
                "--proxy-server=127.0.0.1:9",
                "--proxy-bypass-list=<-loopback>",
                f"--window-size={WIDTH},{height}",
                f"--screenshot={png}",
                page.resolve().as_uri(),
            ],
            check=True,
            capture_output=True,
            timeout=120,
        )


def bands(image: Image.Image) -> list[tuple[int, int]]:
    """The runs of rows that hold the balance line's colour, parted by GAP rows without it."""
    rgb = image.convert("RGB")
    width, height = rgb.size
    pixels = rgb.load()
    rows = [
        y for y in range(height) if any(pixels[x, y] == BALANCE_RGB for x in range(0, width, 2))
    ]
    out: list[tuple[int, int]] = []
    for y in rows:
        if out and y - out[-1][1] <= GAP:
            out[-1] = (out[-1][0], y)
        else:
            out.append((y, y))
    return out


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("page", type=Path, help="the report's HTML file")
    parser.add_argument("--png", type=Path, help="keep the picture here")
    args = parser.parse_args()
    text = args.page.read_text(encoding="utf-8")
    accounts = re.findall(r'<section class="account" id="account-([^"]*)">', text)
    height = min(MAX_HEIGHT, TOP + PER_ACCOUNT * len(accounts))
    png = args.png or Path(tempfile.mkdtemp()) / "report.png"
    try:
        screenshot(args.page, png, height)
    except (RuntimeError, subprocess.SubprocessError, OSError) as exc:
        print(f"check_report_picture: {exc}", file=sys.stderr)
        return 2
    image = Image.open(png)
    grey = image.convert("L")
    histogram = grey.histogram()
    inked = sum(histogram[:200]) / (image.size[0] * image.size[1])
    found = bands(image)
    # Accounts lower than one screenshot can hold are not in the picture.
    fitted = len(accounts) if height < MAX_HEIGHT else None
    problems = []
    if inked < 0.01:
        problems.append(f"the picture is blank ({inked:.2%} of it inked)")
    if fitted is not None and len(found) != fitted:
        problems.append(
            f"{len(found)} balance charts in the picture, {fitted} accounts on the page"
        )
    if fitted is None and len(found) < 1:
        problems.append("no balance chart in the picture")
    for problem in problems:
        print(f"check_report_picture: {args.page}: {problem}", file=sys.stderr)
    if not problems:
        print(
            f"{args.page}: {len(accounts)} accounts, {len(found)} balance charts seen, {inked:.1%} inked"
        )
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
