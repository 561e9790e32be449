"""Terminal matters of the command line: colour, text that is safe to show, progress."""

from __future__ import annotations

import os
import re
import sys
import time
import unicodedata
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
WIDE = frozenset("WF")
# Combining marks and format characters (joiners, directional marks) take no column;
# the soft hyphen is the one format character terminals draw.
ZERO_WIDTH_CATEGORIES = frozenset(("Mn", "Me", "Cf"))
SOFT_HYPHEN = "\u00ad"
# The vowels and final consonants of a decomposed Hangul syllable join its first letter.
HANGUL_JAMO_FOLLOWERS = ("\u1160", "\u11ff")
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


def char_width(char: str) -> int:
    """Columns a terminal gives the character: 2 for East Asian wide and full-width
    forms, 0 for combining marks and invisible format characters, else 1."""
    if unicodedata.category(char) in ZERO_WIDTH_CATEGORIES:
        return 0 if char != SOFT_HYPHEN else 1
    if HANGUL_JAMO_FOLLOWERS[0] <= char <= HANGUL_JAMO_FOLLOWERS[1]:
        return 0
    return 2 if unicodedata.east_asian_width(char) in WIDE else 1


def display_width(text: str) -> int:
    return len(text) if text.isascii() else sum(map(char_width, text))


def shorten(text: str, width: int) -> str:
    """The text cut to at most ``width`` columns, an ellipsis marking the cut."""
    if display_width(text) <= width:
        return text
    room, end = width - 1, 0
    for end, char in enumerate(text):
        room -= char_width(char)
        if room < 0:
            break
    return text[:end] + ELLIPSIS


def pad(text: str, width: int) -> str:
    """The text filled with spaces to ``width`` columns."""
    return text + " " * (width - display_width(text))


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
