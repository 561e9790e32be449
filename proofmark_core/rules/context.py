"""What a product rule sees of a claim's session: the run logs of its turns so far.

The turn being checked comes whole. The earlier turns are kept lean, since a long
session holds many of them: what a turn only read (the output of a read-only call, a
command that only reads) is what the agent saw, not work it did, so it is left out.
"""

from __future__ import annotations

import re
from collections.abc import Callable
from dataclasses import dataclass
from typing import TYPE_CHECKING

if TYPE_CHECKING:
    from proofmark_core.api import ClaimResult
    from proofmark_core.verify import LogEvent, RunLog

# The engine's read-only calls: its read tools, and shell lines that begin with a reader.
READ_TOOLS = frozenset({"read_file", "search_files", "skill_view"})
READ_COMMAND_RE = re.compile(r"\s*(cat|sed -n|head|tail|grep|less|find|ls|rg)\b")


@dataclass(frozen=True, slots=True)
class Session:
    """The run logs of a session's turns, oldest first, up to and including the turn
    being checked (the last); ``first`` is the number of the first of them."""

    turns: tuple[RunLog, ...]
    first: int = 0

    @property
    def run_log(self) -> RunLog:
        return self.turns[-1]

    def number(self, index: int) -> int:
        """The turn number of ``turns[index]``."""
        return self.first + index


# A rule: the claim's result changed (its evidence saying why), or None to leave it.
Rule = Callable[[Session, "ClaimResult"], "ClaimResult | None"]


class SessionLog:
    """The turns of one session as they are read: ``session(run_log)`` is the context of
    the next turn, which ``add`` then keeps, lean, for the turns after it."""

    def __init__(self, first: int = 0) -> None:
        self._earlier: list[RunLog] = []
        self._first = first

    def session(self, run_log: RunLog) -> Session:
        return Session((*self._earlier, run_log), self._first)

    def add(self, run_log: RunLog) -> None:
        self._earlier.append(lean(run_log))


def lean(run_log: RunLog) -> RunLog:
    """The run log without what it only read; a log the engine could not read is kept
    as it is, for checking it to say why."""
    try:
        events = [_without_read_output(event) for event in run_log["events"]]
        commands = [record for record in run_log["commands"]
                    if not _reads(record.get("command"))]
    except (KeyError, TypeError, AttributeError):
        return run_log
    return {**run_log, "events": events, "commands": commands}


def _without_read_output(event: LogEvent) -> LogEvent:
    tool = event.get("tool")
    if tool in READ_TOOLS or (tool == "terminal" and _reads(event.get("command"))):
        return {**event, "output": None}
    return event


def _reads(command: object) -> bool:
    return isinstance(command, str) and READ_COMMAND_RE.match(command) is not None
