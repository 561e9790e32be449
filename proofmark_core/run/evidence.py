"""The places an evidence line names, as data for the code that shows them.

The engine says in one line where it found each literal of a claim ("`x` in write",
"`pytest -q` ran but FAILED (exit 1)", "`a.md` seen only in read output; ..."). This
is the one reader of that wording: each entry becomes a :class:`Match`, the pool the
literal was found in and the literal, and what the engine did not place (a literal
found nowhere, a mention) becomes none. The line itself is passed on unchanged.
"""

from __future__ import annotations

import re
from dataclasses import dataclass
from typing import Literal

Pool = Literal["write", "command", "failed command", "last run", "external action",
               "output", "read output", "empty search"]
SOURCES: dict[str, Pool] = {"write": "write", "command (exit ok)": "command",
                            "external action": "external action", "output": "output"}

UNCHECKED_TAIL_RE = re.compile(r" \u00b7 unchecked: `.*$", re.S)
# Entries are joined by "; "; a literal may hold "; " itself, so split only where an
# entry can start.
ENTRY_SPLIT_RE = re.compile(r"; (?=`|words of `|empty search result)")
FAILED_RE = re.compile(r"`(?P<lit>.+)` ran but FAILED \(exit (?P<code>.*)\)", re.S)
# The product rules' words for the failed runs of a command of the claim's own turn.
RUNS_FAILED_RE = re.compile(
    r"`(?P<lit>.+)` (?:ran (?:once|\d+ times), every run FAILED|ran and FAILED) "
    r"\(exit (?P<code>[^)]*)\)(?:, as the claim says)?", re.S)
# The test-results rule's words for the run of the claim's own turn that decided it (a
# run of an earlier turn is named "turn N: ..." and is not in this turn's log).
LAST_RUN_RE = re.compile(r"(?:test run|build|lint run|type check)s? `(?P<lit>[^`]+)`: ")
FOUND_RE = re.compile(
    r"(?P<words>words of )?`(?P<lit>.+)` in "
    r"(?P<source>write|command \(exit ok\)|external action|output)", re.S)
READ_ONLY_RE = re.compile(
    r"(?P<lits>`.+`) (?:appears only in content the agent read|seen only in read output)", re.S)
EMPTY_SEARCH = "empty search result matches claim"


@dataclass(frozen=True, slots=True)
class Match:
    """A literal and the pool of the run log the engine found it in; for a failed
    command, its exit code as the evidence writes it. ``words``: the literal's words
    were found apart, and ``literal`` is the first of them."""

    pool: Pool
    literal: str = ""
    exit_code: str | None = None
    words: bool = False


def matches(evidence: str) -> list[Match]:
    """The places the evidence line names, in its order."""
    body = UNCHECKED_TAIL_RE.sub("", evidence)
    return [match for entry in ENTRY_SPLIT_RE.split(body)
            if (match := _entry_match(entry)) is not None]


def _entry_match(entry: str) -> Match | None:
    if entry == EMPTY_SEARCH:
        return Match("empty search")
    if found := FAILED_RE.fullmatch(entry) or RUNS_FAILED_RE.fullmatch(entry):
        return Match("failed command", found["lit"], exit_code=found["code"])
    if found := LAST_RUN_RE.match(entry):
        return Match("last run", found["lit"])
    if found := FOUND_RE.fullmatch(entry):
        if found["words"]:
            return Match(SOURCES[found["source"]], found["lit"].split()[0], words=True)
        return Match(SOURCES[found["source"]], found["lit"])
    if found := READ_ONLY_RE.match(entry):
        return Match("read output", found["lits"][1:-1].split("`, `")[0])
    return None
