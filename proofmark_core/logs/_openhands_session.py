"""One OpenHands conversation turned into turns, as its events come in.

Results come after their actions: a call stays open until the observation that answers
it arrives, found by the ids that link the two (V0 ``cause``, V1 ``action_id`` and
``tool_call_id``) or, in the flat V0 form that has none, as the oldest call still open.
A write's paths count as written once its result shows it did not fail, or at the end
of the turn when no result came.
"""

from __future__ import annotations

from collections import deque
from collections.abc import Iterator
from dataclasses import dataclass, field
from typing import TypeAlias

from proofmark_core.logs._file import LogFile
from proofmark_core.logs._runlog import Call, TurnLog

Keys: TypeAlias = list[tuple[str, object]]  # the ids that link an action and its result


@dataclass(eq=False)
class Open:
    """A call waiting for its result; the paths it writes count once it did not fail."""

    call: Call | None
    paths: list[str] = field(default_factory=list)
    keys: Keys = field(default_factory=list)


class Pending:
    """Open calls: by the ids that link their results to them, else in the order made."""

    def __init__(self) -> None:
        self._linked: dict[tuple[str, object], Open] = {}
        self._queue: deque[Open] = deque()

    def add(self, entry: Open) -> None:
        for key in entry.keys:
            self._linked[key] = entry
        if not entry.keys:
            self._queue.append(entry)

    def take(self, keys: Keys) -> Open | None:
        if not keys:
            return self._queue.popleft() if self._queue else None
        entry = next((self._linked[key] for key in keys if key in self._linked), None)
        for key in entry.keys if entry is not None else ():
            del self._linked[key]
        return entry


@dataclass(eq=False)
class Session:
    """One conversation: the turn going on, the calls still open and where it works."""

    log: LogFile
    line: int | None
    session: str | None
    base_cwd: str | None
    turn: TurnLog | None = None
    pending: Pending = field(default_factory=Pending)
    writes: list[Open] = field(default_factory=list)
    version: str | None = None
    last_cwd: str | None = None
    cwd_seen: bool = False

    def close(self) -> Iterator[TurnLog]:
        """Ends the turn going on, if any, and yields it."""
        turn, self.turn = self.turn, None
        if turn is None:
            return
        for entry in self.writes:
            turn.written.extend(entry.paths)  # no result seen: the write counts as made
            entry.paths = []
        self.writes.clear()
        if turn.cwd is None:
            turn.cwd = self.last_cwd
        yield turn

    def current(self) -> TurnLog:
        """The turn going on; events before any user message start one of their own."""
        if self.turn is None:
            self.start(self.line)
        assert self.turn is not None
        return self.turn

    def open(self, call: Call | None, keys: Keys, paths: list[str] | None = None) -> None:
        entry = Open(call, paths or [], keys)
        if entry.paths:
            self.writes.append(entry)
        self.pending.add(entry)

    def answer(self, keys: Keys, what: str) -> Open | None:
        """The open call a result answers; a result that answers none is counted."""
        entry = self.pending.take(keys)
        if entry is None:
            self.current().skip(f"{what} without its action")
        return entry

    def settle(self, entry: Open, failed: bool = False) -> None:
        """A write's paths count once its result is in; a write that failed is refused."""
        if failed and entry.call is not None and entry.call.wrote:
            paths: list[str | None] = [*entry.paths] or [None]
            for path in paths:
                self.current().refuse(entry.call, path, entry.call.output)
        elif self.turn is not None:
            self.turn.written.extend(entry.paths)
        entry.paths = []

    def saw_cwd(self, cwd: object) -> None:
        if not isinstance(cwd, str) or not cwd:
            return
        self.last_cwd = cwd
        if self.turn is not None and not self.cwd_seen and self.base_cwd is None:
            self.turn.cwd = cwd
            self.cwd_seen = True

    def start(self, line: int | None) -> None:
        self.turn = TurnLog(line=line if self.log.jsonl else None, session=self.session,
                            cwd=self.base_cwd or self.last_cwd, version=self.version)
        self.cwd_seen = False
