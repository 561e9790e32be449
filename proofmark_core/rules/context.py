"""What a product rule sees of a claim's session: the run logs of its turns so far.

The turn being checked comes whole. The earlier turns are kept lean, since a long
session holds many of them: what a turn only read (the output of a read-only call, a
command that only reads) is what the agent saw, not work it did, so it is left out.
A :class:`History` of the earlier turns, kept up as turns are read, lets a rule look
through all of them at once rather than turn by turn.
"""

from __future__ import annotations

import re
from collections.abc import Callable, Sequence
from dataclasses import dataclass, field
from typing import TYPE_CHECKING

from proofmark_core.rules._commands import Command, ParsedLines, Run, TurnCommands, matches

if TYPE_CHECKING:
    from proofmark_core.verdicts import ClaimResult
    from proofmark_core.verify import CommandRecord, LogEvent, RunLog

# The engine's read-only calls: its read tools, and shell lines that begin with a reader.
READ_TOOLS = frozenset({"read_file", "search_files", "skill_view"})
READ_COMMAND_RE = re.compile(r"\s*(cat|sed -n|head|tail|grep|less|find|ls|rg)\b")
MERGED_KEYS = ("events", "external", "written", "commands")


@dataclass(frozen=True, slots=True)
class Session:
    """The run logs of a session's turns, oldest first, up to and including the turn
    being checked (the last); ``first`` is the number of the first of them.

    ``history`` is what :class:`SessionLog` keeps of the earlier turns; without it,
    :meth:`earlier` gathers it from ``turns``.
    """

    turns: tuple[RunLog, ...]
    first: int = 0
    history: History | None = field(default=None, compare=False, repr=False)
    parsed: ParsedLines = field(default_factory=ParsedLines, compare=False, repr=False)
    turn_commands: TurnCommands | None = field(default=None, compare=False, repr=False)
    # What a rule reads of the session once for all the claims of the turn.
    memo: dict[str, object] = field(default_factory=dict, compare=False, repr=False)

    @property
    def run_log(self) -> RunLog:
        return self.turns[-1]

    def number(self, index: int) -> int:
        """The turn number of ``turns[index]``."""
        return self.first + index

    def runs(self, command: Command) -> list[Run]:
        """The runs of the command in the turn being checked; when it has none, those
        of the latest earlier turn that ran it."""
        return self.commands().runs(command) or self.earlier().runs(command)

    def commands(self) -> TurnCommands:
        found = self.turn_commands
        if found is None:  # a cache: gathered once per turn
            found = TurnCommands(self.run_log, self.parsed)
            object.__setattr__(self, "turn_commands", found)
        return found

    def earlier(self) -> History:
        if self.history is not None:
            return self.history
        history = History()
        for index, run_log in enumerate(self.turns[:-1]):
            history.add(run_log, self.number(index))
        object.__setattr__(self, "history", history)  # a cache: gathered once per session
        return history


# A rule: the claim's result changed (its evidence saying why), or None to leave it.
Rule = Callable[[Session, "ClaimResult"], "ClaimResult | None"]


class History:
    """The earlier turns of a session at once: their run logs merged into one, their
    refused writes, and their commands by the program they run.

    It only grows, so a snapshot for a turn shares it and remembers how far it went;
    only what the snapshot sees goes with it when it is pickled for another process.
    """

    def __init__(self) -> None:
        self._merged: dict[str, list[object]] = {key: [] for key in MERGED_KEYS}
        self._refused: list[tuple[int, dict[str, object]]] = []
        self._by_program: dict[str, list[tuple[int, CommandRecord]]] = {}
        # For a snapshot: the lengths of the lists it sees, and the turn it is for.
        self._seen: dict[str, int] | None = None
        self._before: int | None = None
        self._parsed = ParsedLines()

    def add(self, run_log: RunLog, number: int) -> None:
        for key in MERGED_KEYS:
            value = run_log.get(key) if isinstance(run_log, dict) else None
            if isinstance(value, list):
                self._merged[key].extend(value)
        self._refused.extend((number, entry) for entry in refused(run_log))
        for record in _commands(run_log):
            line = record.get("command")
            if isinstance(line, str):
                for program in {part[0] for part in self._parsed.parts(line)}:
                    self._by_program.setdefault(program, []).append((number, record))

    def snapshot(self, before: int) -> History:
        """The history as it stands, for the turn numbered ``before``."""
        view = History()
        view._merged, view._refused, view._by_program, view._parsed = \
            self._merged, self._refused, self._by_program, self._parsed
        view._seen = {key: len(values) for key, values in self._merged.items()}
        view._seen["refused"] = len(self._refused)
        view._before = before
        return view

    def run_log(self) -> RunLog:
        """The earlier turns as one run log, for the engine."""
        if self._seen is None:
            return self._merged  # type: ignore[return-value]
        return {key: values[:self._seen[key]]  # type: ignore[return-value]
                for key, values in self._merged.items()}

    @property
    def refused(self) -> list[tuple[int, dict[str, object]]]:
        """The refused writes of the earlier turns, with their turn numbers."""
        return self._refused if self._seen is None else self._refused[:self._seen["refused"]]

    def runs(self, command: Command) -> list[Run]:
        """The runs of the command in the latest earlier turn that ran it."""
        if not command:
            return []
        found = [Run(number, record) for number, record in self._programs(command[0][0])
                 if matches(command, record, self._parsed)]
        latest = found[-1].turn if found else None
        return [run for run in found if run.turn == latest]

    def _programs(self, program: str) -> list[tuple[int, CommandRecord]]:
        runs = self._by_program.get(program, [])
        before = self._before
        return runs if before is None else [run for run in runs if run[0] < before]

    def __getstate__(self) -> dict[str, object]:
        return {"_merged": self.run_log(), "_refused": self.refused, "_seen": None,
                "_before": None, "_parsed": ParsedLines(), "_by_program": {program: self._programs(program)
                                                 for program in self._by_program}}


class SessionLog:
    """The turns of one session as they are read: ``session(run_log)`` is the context of
    the next turn, which ``add`` then keeps, lean, for the turns after it."""

    def __init__(self, first: int = 0) -> None:
        self._earlier: tuple[RunLog, ...] = ()
        self._history = History()
        self._first = first

    def session(self, run_log: RunLog) -> Session:
        number = self._first + len(self._earlier)
        return Session(self._earlier + (run_log,), self._first, self._history.snapshot(number))

    def add(self, run_log: RunLog) -> None:
        kept = lean(run_log)
        self._history.add(kept, self._first + len(self._earlier))
        self._earlier += (kept,)


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


def refused(run_log: RunLog) -> list[dict[str, object]]:
    """The writes the readers found refused or failed in the turn."""
    entries = run_log.get("refused") if isinstance(run_log, dict) else None
    if not isinstance(entries, list):
        return []
    return [entry for entry in entries if isinstance(entry, dict)]


def _commands(run_log: RunLog) -> Sequence[CommandRecord]:
    commands = run_log.get("commands") if isinstance(run_log, dict) else None
    if not isinstance(commands, list):
        return []
    return [record for record in commands if isinstance(record, dict)]
