"""Agent logs read as turns: one turn per user prompt, each a RunLog with its claims.

Every agent format has a reader module of its own with the same three names:
``NAME``, ``recognise(sample)``, which tells from the first records of a log whether
it is of that format, and ``read(log)``, which yields the log's turns as
:class:`TurnLog` objects. A reader may also define ``companion(path)``: true for a
file it reads as part of another one, which a folder walk then leaves out.
"""

from __future__ import annotations

import importlib
from collections.abc import Iterator
from dataclasses import dataclass, field
from pathlib import Path
from types import ModuleType
from typing import TYPE_CHECKING

from proofmark_core.logs._file import UNFORESEEN, LogError, LogFile, event_files

if TYPE_CHECKING:
    from proofmark_core.verify import Claim, RunLog

__all__ = ["AGENTS", "FORMATS", "LogError", "Turn", "find_logs", "read_turns", "sniff"]

# In the order they are tried: each recognises only its own agent's logs.
AGENTS = ("claude-code", "codex", "openhands", "swe-agent", "mini-swe-agent")
TURNS = "turns"
FORMATS = ("auto", TURNS, *AGENTS)
LOG_SUFFIXES = (".jsonl", ".ndjson", ".json", ".traj", ".jsonl.gz", ".json.gz",
                ".parquet")


@dataclass(frozen=True, slots=True)
class Turn:
    """One turn of an agent log: its RunLog, its claims and where it comes from.

    ``source`` holds ``agent``, ``file``, ``session``, ``turn`` (counting from 0),
    ``cwd`` and ``version`` (the format version, when the log says). ``skipped``
    counts the log entries of unknown kinds that the reader passed over.
    """

    run_log: RunLog
    claims: list[Claim]
    source: dict[str, object]
    line: int | None = None
    skipped: dict[str, int] = field(default_factory=dict)

    def record(self) -> dict[str, object]:
        """The turn record that ``proofmark check`` reads."""
        return {"run_log": self.run_log, "claims": self.claims, "source": self.source}


def read_turns(path: str | Path, format: str = "auto") -> Iterator[Turn]:
    """The turns of one agent log (a file, or an OpenHands conversation folder), in order.

    ``format`` is one of :data:`FORMATS`; "auto" tells it from the content. Raises
    :class:`LogError` for a log that is of no known format or cannot be read.
    """
    log = LogFile(path)
    name = sniff(log) if format == "auto" else format
    if name == TURNS:
        yield from _turn_records(log)
        return
    if name not in AGENTS:
        raise ValueError(f"unknown format {format!r} (choose from {', '.join(FORMATS)})")
    log.mark_unread()
    try:
        yield from _agent_turns(log, name)
    except LogError:
        raise
    except UNFORESEEN as exc:
        raise log.unforeseen(name, exc) from exc


def _agent_turns(log: LogFile, name: str) -> Iterator[Turn]:
    from proofmark_core.claims import extract_claims

    for index, turn in enumerate(_reader(name).read(log)):
        source: dict[str, object] = {
            "agent": name, "file": log.name, "session": turn.session, "turn": index,
            "cwd": turn.cwd, "version": turn.version,
        }
        yield Turn(turn.run_log(), extract_claims(turn.messages), source, turn.line,
                   dict(turn.skipped))


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


def _turn_records(log: LogFile) -> Iterator[Turn]:
    for index, (line, record) in enumerate(log.records()):
        if isinstance(record, list):  # a JSON list of records
            for inner, value in enumerate(record):
                yield _turn_record(log, value, inner, line)
        else:
            yield _turn_record(log, record, index, line)


def _turn_record(log: LogFile, record: object, index: int, line: int | None) -> Turn:
    if not isinstance(record, dict) or not isinstance(record.get("run_log"), dict):
        raise log.error(f"record {index}: not a turn record", line)
    source = record.get("source")
    return Turn(record["run_log"], list(record.get("claims") or []),
                dict(source) if isinstance(source, dict) else {"file": log.name, "turn": index},
                line)
