"""What the stages of a run hand each other: where a result comes from, a turn to check,
and what came of it. Worker processes take and give them back, so they are plain data."""

from __future__ import annotations

from dataclasses import dataclass

from proofmark_core.records.input import Item
from proofmark_core.rules.context import Session
from proofmark_core.verdicts import ClaimResult


@dataclass(frozen=True, slots=True)
class Where:
    """Where a result or an error comes from: file, line, record and claim, and for
    the turn of an agent log, the agent, the session, the turn's index and the line of
    its closing message."""

    file: str
    line: int | None = None
    record: int | None = None
    claim: int | None = None
    agent: str | None = None
    session: str | None = None
    turn: int | None = None
    closing_line: int | None = None

    def __str__(self) -> str:
        place = self.file if self.line is None else f"{self.file}:{self.line}"
        if self.record is None:
            return place
        return f"{place}: turn {self.turn}" if self.agent else f"{place}: record {self.record}"

    def of_claim(self, claim: int) -> Where:
        """The place of one claim of this turn (``dataclasses.replace`` costs more)."""
        return Where(self.file, self.line, self.record, claim, self.agent, self.session,
                     self.turn, self.closing_line)

    def fields(self) -> dict[str, object]:
        return {"file": self.file, "line": self.line, "record": self.record, "claim": self.claim}

    def turn_fields(self) -> dict[str, object]:
        return {"agent": self.agent, "session": self.session, "turn": self.turn}


@dataclass(frozen=True, slots=True)
class Unit:
    """One turn to check: where it comes from, its record (or the line to decode it
    from), the log entries its reader skipped, and the session it is a turn of, when
    its turns were read in order."""

    where: Where
    item: Item
    skipped: dict[str, int]
    session: Session | None = None


# A result or an error message, where it belongs, and for a result its log excerpt.
Event = tuple[Where, ClaimResult | str, str | None]


@dataclass(frozen=True, slots=True)
class Outcome:
    """The unit's place, and its results and errors in claim order."""

    where: Where
    skipped: dict[str, int]
    events: list[Event]


