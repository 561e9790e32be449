"""The turns of an agent log, or of a file of turn records, each with its claims."""

from __future__ import annotations

from collections.abc import Iterator
from dataclasses import dataclass, field
from pathlib import Path
from typing import TYPE_CHECKING

from proofmark_core.logs import AGENTS, FORMATS, TURNS, LogFile, agent_turns, sniff

if TYPE_CHECKING:
    from proofmark_core.verify import Claim, RunLog


@dataclass(frozen=True, slots=True)
class Turn:
    """One turn of an agent log: its RunLog, its claims and where it comes from.

    ``source`` holds ``agent``, ``file``, ``session``, ``turn`` (counting from 0),
    ``cwd`` and ``version`` (the format version, when the log says). ``skipped``
    counts the log entries of unknown kinds that the reader passed over. ``line`` is
    where the turn starts in a JSONL log, ``closing_line`` where its closing message is.
    """

    run_log: RunLog
    claims: list[Claim]
    source: dict[str, object]
    line: int | None = None
    skipped: dict[str, int] = field(default_factory=dict)
    closing_line: int | None = None

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
    yield from _agent_turns(log, name)


def _agent_turns(log: LogFile, name: str) -> Iterator[Turn]:
    from proofmark_core.claims.extract import extract_claims  # not for turn records

    for index, turn in enumerate(agent_turns(log, name)):
        source: dict[str, object] = {
            "agent": name, "file": log.name, "session": turn.session, "turn": index,
            "cwd": turn.cwd, "version": turn.version,
        }
        yield Turn(turn.run_log(), extract_claims(turn.messages), source, turn.line,
                   dict(turn.skipped), turn.closing_line)


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
