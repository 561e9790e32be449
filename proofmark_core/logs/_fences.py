"""Fenced code blocks in an agent's markdown reply.

Agents that act through text (mini-swe-agent, SWE-agent 0.x) put the command they run
in a fenced block of their reply; whatever else the reply says around it is their
prose. A fence opens on a line of three or more backticks with an optional language
word, and closes on a line of the same backticks; a fence that never closes is text.
"""

from __future__ import annotations

import re
from collections.abc import Iterable
from dataclasses import dataclass

FENCE_RE = re.compile(r"^[ \t]{0,3}(?P<ticks>`{3,})(?P<info>[^`\n]*)\n"
                      r"(?P<body>.*?)^[ \t]{0,3}(?P=ticks)[ \t]*(?:\n|\Z)", re.M | re.S)


@dataclass(frozen=True, slots=True)
class Fence:
    """One fenced block: its language word ("" when none), its text, and its place in the reply."""

    language: str
    body: str
    start: int
    end: int


def fences(text: str) -> list[Fence]:
    """The reply's fenced blocks, in order."""
    return [Fence(_language(found.group("info")), found.group("body"), found.start(), found.end())
            for found in FENCE_RE.finditer(text)]


def without(text: str, blocks: Iterable[Fence]) -> str:
    """The reply with the given blocks cut out, blank space at either end dropped."""
    kept: list[str] = []
    position = 0
    for block in blocks:
        kept.append(text[position:block.start])
        position = block.end
    kept.append(text[position:])
    return "".join(kept).strip()


def _language(info: str) -> str:
    words = info.split()
    return words[0] if words else ""
