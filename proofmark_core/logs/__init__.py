"""Agent logs read as turns: one turn per user prompt, each what the turn wrote, ran and said.

Every agent format has a reader module of its own with the same three names:
``NAME``, ``recognise(sample)``, which tells from the first records of a log whether
it is of that format, and ``read(log)``, which yields the log's turns as
:class:`TurnLog` objects. A reader may also define ``companion(path)``: true for a
file it reads as part of another one, which a folder walk then leaves out.
"""

from __future__ import annotations

import importlib
from collections.abc import Iterator
from pathlib import Path
from types import ModuleType
from typing import TYPE_CHECKING

from proofmark_core.logs._file import UNFORESEEN, LogError, LogFile, event_files

if TYPE_CHECKING:
    from proofmark_core.logs._runlog import TurnLog

__all__ = ["AGENTS", "FORMATS", "TURNS", "LogError", "LogFile", "TurnLog", "agent_turns",
           "find_logs", "last_turn", "sniff"]

# In the order they are tried: each recognises only its own agent's logs.
AGENTS = ("claude-code", "codex", "openhands", "swe-agent", "mini-swe-agent")
TURNS = "turns"
FORMATS = ("auto", TURNS, *AGENTS)
# The logs of the agents whose end-of-turn hooks read only the turn that ends.
HOOK_LOGS = {"claude-code": "a Claude Code transcript", "codex": "a Codex rollout"}
LOG_SUFFIXES = (".jsonl", ".ndjson", ".json", ".traj", ".jsonl.gz", ".json.gz",
                ".parquet")


def agent_turns(log: LogFile, agent: str) -> Iterator[TurnLog]:
    """The turns of a log of the named agent, in order. What the reader raises on a
    value it did not foresee comes as a :class:`LogError` at the record last read.

    A log that breaks (a live log ends in a line cut short) gives the turns before the
    break, and then the error of the broken record, naming the turn it cost. The broken
    record comes to the reader as what it says before its break; should the reader
    refuse that, the log is read again without it, as though it ended before it."""
    log.mark_unread()
    log.read_to_break = True
    given = 0
    try:
        for turn in _turns_to_break(log, agent):
            yield turn
            given += 1
    except _Refused:
        again = LogFile(log.name)
        again.read_to_break, again.whole_part_of_break = True, False
        for index, turn in enumerate(_turns_to_break(again, agent)):
            if index >= given:
                yield turn


class _Refused(Exception):
    """The reader raised on what a broken record says before its break."""


def _turns_to_break(log: LogFile, agent: str) -> Iterator[TurnLog]:
    """Each turn is held until the next one comes, for the last turn the reader gives
    after it read the broken record may be that record's own: cut short, it cannot be
    checked. A turn the reader gave before, even one that the broken record ended by
    starting a new turn, is whole."""
    held: tuple[TurnLog, bool] | None = None
    count = 0
    try:
        for turn in _reader(agent).read(log):
            if held is not None:
                yield held[0]
                count += 1
            held = (turn, log.broken is not None)
    except (LogError, *UNFORESEEN) as exc:
        if held is not None and not held[1]:
            yield held[0]
        if log.broken is not None and log.whole_part_of_break:
            raise _Refused from None
        if isinstance(exc, LogError):
            raise
        raise log.unforeseen(agent, exc) from exc
    if held is not None and not (held[1] and _took_in_break(log, agent, held[0])):
        yield held[0]
        count += 1
    if log.broken is not None:
        log.broken.turn = (agent, None if held is None else held[0].session, count)
        raise log.broken


def _took_in_break(log: LogFile, agent: str, last: TurnLog) -> bool:
    """Whether the last turn holds what the broken record says: it started that turn,
    or the turn differs from the one read without it. A record that tells too little
    to be taken in (cut before it says what it is) costs no turn."""
    if log.broken is None or not log.whole_part_of_break:
        return False
    if last.line == log.broken.line or not log.jsonl:
        return True
    without = LogFile(log.name)
    without.read_to_break, without.whole_part_of_break = True, False
    before = None
    try:
        for before in _reader(agent).read(without):
            pass
    except (LogError, *UNFORESEEN):
        return True
    return before is None or _content(before) != _content(last)


def _content(turn: TurnLog) -> tuple[object, ...]:
    return turn.line, turn.run_log(), turn.messages


def last_turn(path: str | Path, agent: str, turn_id: str | None = None) -> TurnLog | None:
    """The last turn of one session's log, as an end-of-turn hook wants it: a Claude Code
    transcript is searched backwards from its end, a Codex rollout from where the turn
    ``turn_id`` (or its last prompt) begins; other logs are read through."""
    reader = _reader(agent)
    if agent in HOOK_LOGS:
        log = LogFile(path)
        if not _recognises(agent, log.sample()):
            raise log.error(f"not {HOOK_LOGS[agent]}")
        if agent == "codex":
            return reader.last_turn(path, turn_id)  # type: ignore[no-any-return]
        return reader.last_turn(path)  # type: ignore[no-any-return]
    turn = None
    for turn in reader.read(LogFile(path)):
        pass
    return turn


def sniff(log: LogFile) -> str:
    """The format of the log, told from its first records."""
    if log.path.is_dir():
        if event_files(log.path):
            return "openhands"
        raise log.error("a folder without event files is not a log")
    if log.holds_turn_records():
        return TURNS  # whose reader also reports an empty input best
    sample = log.sample()
    for name in AGENTS:
        if _recognises(name, sample):
            return name
    raise log.error(f"not a log of a known format ({', '.join(AGENTS)}) nor turn records", 1)


def _recognises(name: str, sample: list[object]) -> bool:
    try:
        return bool(_reader(name).recognise(sample))
    except UNFORESEEN:  # a value no log of that agent holds there
        return False


def find_logs(path: str | Path) -> Iterator[Path]:
    """The logs a path names: itself when it is a file or a conversation folder,
    else every log file and conversation folder under it, in name order. A folder
    reached again through a symbolic link is walked once; one that cannot be read is
    named as it is, for reading it to say why."""
    path = Path(path)
    if path.is_dir():
        yield from _logs_under(path, set())
    else:
        yield path


def _logs_under(folder: Path, walked: set[tuple[int, int]]) -> Iterator[Path]:
    try:
        status = folder.stat()
        conversation = bool(event_files(folder))
        children = sorted(folder.iterdir())
    except OSError:
        yield folder
        return
    if conversation:
        yield folder
        return
    if (status.st_dev, status.st_ino) in walked:
        return
    walked.add((status.st_dev, status.st_ino))
    for child in children:
        if child.name.startswith("."):
            continue
        if child.is_dir():
            yield from _logs_under(child, walked)
        elif child.name.endswith(LOG_SUFFIXES) and not _companion(child):
            yield child


def _companion(path: Path) -> bool:
    return any(getattr(_reader(name), "companion", lambda _: False)(path) for name in AGENTS)


def _reader(name: str) -> ModuleType:
    return importlib.import_module(f"proofmark_core.logs.{name.replace('-', '_')}")


def __getattr__(name: str) -> object:
    # The run log a reader builds, and its shell parser, load only with a reader.
    if name == "TurnLog":
        return importlib.import_module("proofmark_core.logs._runlog").TurnLog
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
