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
    value it did not foresee comes as a :class:`LogError` at the record last read."""
    log.mark_unread()
    try:
        yield from _reader(agent).read(log)
    except LogError:
        raise
    except UNFORESEEN as exc:
        raise log.unforeseen(agent, exc) from exc


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
