"""Terminal matters of the command line: colour, text that is safe to show, progress."""

from __future__ import annotations

import os
import re
import sys
import time
from collections.abc import Callable
from typing import TextIO

COLOURS = {
    "verified": "32",
    "unverified": "33",
    "pre-existing": "35",
    "contradicted": "1;31",
    "unchecked": "2",
}
# Controls and bidirectional overrides: shown raw, they would drive or reorder the terminal.
UNSAFE_RE = re.compile("[\x00-\x1f\x7f-\x9f\u202a-\u202e\u2066-\u2069]")
SPACE_RE = re.compile(r"\s+")
ELLIPSIS = "\u2026"
PROGRESS_DELAY = 0.5
PROGRESS_INTERVAL = 0.1


def wants_colour(stream: TextIO) -> bool:
    return stream.isatty() and not os.environ.get("NO_COLOR")


def paint(word: str, colour: bool) -> str:
    return f"\x1b[{COLOURS[word]}m{word}\x1b[0m" if colour else word


def printable(text: str) -> str:
    """The text with every unsafe character spelled out as its escape."""
    return UNSAFE_RE.sub(lambda found: found.group().encode("unicode_escape").decode("ascii"), text)


def one_line(text: str) -> str:
    return printable(SPACE_RE.sub(" ", text).strip())


def shorten(text: str, width: int) -> str:
    return text if len(text) <= width else text[:width - 1] + ELLIPSIS


class Progress:
    """A line on standard error, redrawn in place, while a long input is being checked.

    It shows only when standard error is a terminal, and only once a run has taken
    long enough for a person to wonder whether it hangs.
    """

    def __init__(self, stream: TextIO) -> None:
        self._stream = stream if stream.isatty() else None
        self._due = time.monotonic() + PROGRESS_DELAY
        self._shown = False

    def update(self, text: Callable[[], str]) -> None:
        if self._stream is None or time.monotonic() < self._due:
            return
        self._due = time.monotonic() + PROGRESS_INTERVAL
        sys.stdout.flush()
        self._stream.write(f"\r{text()}\x1b[K")
        self._stream.flush()
        self._shown = True

    def clear(self) -> None:
        if self._stream is not None and self._shown:
            self._stream.write("\r\x1b[K")
            self._stream.flush()
            self._shown = False
