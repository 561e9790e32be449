"""What the HTML report shows, gathered result by result.

Results are spooled to temporary files, one per verdict, so that memory stays flat
however long the run and the page can list the claims worst first without sorting.
"""

from __future__ import annotations

import json
import re
import tempfile
from collections import Counter
from collections.abc import Iterator, Mapping
from dataclasses import dataclass, field
from typing import IO, cast

from proofmark_core.records.utf8 import without_surrogates
from proofmark_core.run.units import Where

# Worst first: the order of the claims, of the counts and of the chart's segments.
SEVERITY = ("contradicted", "pre-existing", "unverified", "unchecked", "verified")
FLAGGED = SEVERITY[:3]
NO_AGENT = "turn records"
BACKTICKED_RE = re.compile("`([^`]+)`")

# A claim as the page keeps it: its group, claim number, verdict (an index into
# SEVERITY), kind number, text, evidence, marks, excerpt, and the test run it was
# judged by, as a line.
Row = tuple[int, "int | None", int, int, str, str, list[str], "str | None", "str | None"]
# The counts of a test run, in the order the line gives them.
RUN_COUNTS = ("passed", "failed", "skipped", "total")


@dataclass(frozen=True, slots=True)
class Group:
    """One turn of one file: the claims under one heading."""

    file: int
    agent: int
    session: int
    turn: int | None
    record: int | None
    line: int | None


@dataclass
class Counts:
    """Claims per verdict of one file, one agent or the whole run."""

    verdicts: Counter[str] = field(default_factory=Counter)
    first_seen: int = 0

    @property
    def total(self) -> int:
        return sum(self.verdicts.values())

    def flagged(self) -> int:
        return sum(self.verdicts[verdict] for verdict in FLAGGED)

    def worst_first(self) -> tuple[int, ...]:
        """A sort key: most contradicted first, then pre-existing, then unverified."""
        return (*(-self.verdicts[verdict] for verdict in FLAGGED), self.first_seen)


class Names:
    """Texts numbered in the order they first come: files, agents, sessions, kinds."""

    def __init__(self) -> None:
        self._numbers: dict[str, int] = {}

    def number(self, name: str) -> int:
        return self._numbers.setdefault(name, len(self._numbers))

    def __iter__(self) -> Iterator[str]:
        return iter(self._numbers)

    def __len__(self) -> int:
        return len(self._numbers)


class Run:
    """What the page shows, gathered result by result: the counts, the numbered names
    and turns, the errors, and the rows spooled per verdict."""

    def __init__(self) -> None:
        self.files, self.agents, self.sessions, self.kinds = Names(), Names(), Names(), Names()
        self.groups: dict[Group, int] = {}
        self.overall = Counts()
        self.per_file: dict[int, Counts] = {}
        self.per_agent: dict[int, Counts] = {}
        self.errors: list[tuple[str, str]] = []
        self._buckets = {verdict: _spool() for verdict in SEVERITY}

    def add(self, fields: Mapping[str, object]) -> None:
        verdict = str(fields["verdict"])
        file = self.files.number(_text(fields.get("file")))
        agent_name = fields.get("agent")
        agent = self.agents.number(NO_AGENT if agent_name is None else _text(agent_name))
        session = self.sessions.number(_text(fields.get("session")))
        turn, record, line, claim = (number_or_none(fields.get(key))
                                     for key in ("turn", "record", "line", "claim"))
        group = Group(file, agent, session, turn, record, line)
        evidence, excerpt = _text(fields.get("evidence")), fields.get("excerpt")
        row: Row = (self.groups.setdefault(group, len(self.groups)), claim,
                    SEVERITY.index(verdict), self.kinds.number(_text(fields.get("kind", "other"))),
                    _text(fields.get("text")), evidence, _marks(fields.get("targets"), evidence),
                    None if excerpt is None else _text(excerpt), tests_line(fields.get("tests")))
        self._buckets[verdict].write(json.dumps(row, ensure_ascii=False) + "\n")
        for counts, key in ((self.per_file, file), (self.per_agent, agent)):
            counts.setdefault(key, Counts(first_seen=len(counts))).verdicts[verdict] += 1
        self.overall.verdicts[verdict] += 1

    def add_error(self, fields: Mapping[str, object]) -> None:
        place = Where(_text(fields.get("file")), number_or_none(fields.get("line")),
                      number_or_none(fields.get("record")))
        self.errors.append((str(place), _text(fields.get("error"))))

    def row_lines(self) -> Iterator[str]:
        """The rows as lines of JSON, worst verdict first, each verdict's in the order
        they came."""
        for bucket in self._buckets.values():
            bucket.seek(0)
            yield from bucket

    def rows(self) -> Iterator[Row]:
        for line in self.row_lines():
            yield cast(Row, tuple(json.loads(line)))

    def close(self) -> None:
        for bucket in self._buckets.values():
            bucket.close()


def tests_line(tests: object) -> str | None:
    """The test run a claim was judged by, as one line: "pytest: 11 passed, 0 failed,
    1 skipped, 12 total; exit 0"."""
    if not isinstance(tests, Mapping):
        return None
    counts = ", ".join(f"{number} {name}" for name in RUN_COUNTS
                       if (number := number_or_none(tests.get(name))) is not None)
    exit_code = number_or_none(tests.get("exit_code"))
    line = _text(tests.get("runner")) or "run"
    line += f": {counts}" if counts else ""
    return line + ("" if exit_code is None else f"; exit {exit_code}")


def _marks(targets: object, evidence: str) -> list[str]:
    """What to mark in the claim's text and excerpt: its targets and the literals the
    evidence names, longest first, so that of two that overlap the longer is marked."""
    found = [t for t in targets if isinstance(t, str)] if isinstance(targets, list) else []
    found += BACKTICKED_RE.findall(evidence)
    unique = {without_surrogates(mark.strip()).casefold(): without_surrogates(mark.strip())
              for mark in found}
    return sorted((mark for mark in unique.values() if mark), key=len, reverse=True)


def _spool() -> IO[str]:
    return tempfile.TemporaryFile("w+", encoding="utf-8", newline="\n")


def _text(value: object) -> str:
    """A field as text; lone surrogates (which JSON allows and UTF-8 does not) replaced."""
    if value is None:
        return ""
    text = value if isinstance(value, str) else json.dumps(value)
    return without_surrogates(text)


def number_or_none(value: object) -> int | None:
    return value if isinstance(value, int) and not isinstance(value, bool) else None
