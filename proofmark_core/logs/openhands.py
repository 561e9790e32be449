"""OpenHands logs: V0 event lists and evaluation records, and V1 conversations.

Three shapes are read, told apart event by event:

- V0 (2025): a JSON list of events (the trajectory export), or evaluation records
  (one per JSONL line, or one JSON document) whose ``history`` is such a list. An
  event has ``action`` + ``args``, or ``observation`` + ``content`` + ``extras`` and the
  ``cause`` that names its action's ``id``.
- Flat V0 (2024, resolver output): records whose ``history`` items hold the action's
  fields at top level and no ids; an observation answers the oldest action still open.
- Paired V0 (the earliest, 2024): records whose ``history`` is a list of
  ``[action, observation]`` pairs; the observation answers the action of its pair.
- V1 (software-agent-sdk): one event per file of a conversation folder, or one per
  JSONL line; each has a ``kind`` (``ActionEvent``, ``ObservationEvent``,
  ``MessageEvent``...), and observations name their action by ``action_id`` or
  ``tool_call_id``.

Every user message starts a turn; events before the first one (a headless run) make a
turn of their own. Each evaluation record is a session of its own, its ``instance_id``
the session id. Choices where the logs leave room:

- An exit code of -1 means the command was still running when its output was taken:
  it ran, with no exit code (null). A V1 terminal observation that is an error with no
  exit code and no timeout never ran (the tool refused the command).
- Input sent to a running process (``is_input``, or an empty command) is a
  ``terminal_input`` event, not a command.
- An edit whose result is an error wrote nothing: its event stays, as no write, and
  its path does not count as written. ``undo_edit`` is a write with no payload.
- ``think`` is an event of its own with no effect; the thought is not prose.
- The ``thought`` an action carries is the agent's prose, said before the call;
  ``<think>`` blocks inside it are reasoning, and left out.
- A flat V0 message has no ``source``: it is the agent's when it waits for a response
  (as agent questions do), the user's otherwise.
- MCP calls are external actions unless the tool's name reads as a query (get, list,
  search, read...) with no word of change in it.
"""

from __future__ import annotations

import re
from collections.abc import Iterable, Iterator
from pathlib import Path

from proofmark_core.logs._file import LogFile
from proofmark_core.logs._openhands_events import apply, mapping, user_message
from proofmark_core.logs._openhands_session import Session
from proofmark_core.logs._runlog import TurnLog

NAME = "openhands"

RECOGNISED_EVENTS = 8
PAIRED = "v0-pairs"
V1_SOURCES = frozenset({"agent", "user", "environment", "hook"})
ACTION_NAME_RE = re.compile(r"[a-z_]+")


def recognise(sample: list[object]) -> bool:
    """V0 event lists, evaluation records with a history, or V1 events."""
    return bool(sample) and all(_is_log_record(value) for value in sample)


def companion(path: Path) -> bool:
    """A conversation's ``base_state.json`` is read with its events."""
    return path.name == "base_state.json"


def read(log: LogFile) -> Iterator[TurnLog]:
    base = _base_state(log)
    stream: Session | None = None
    empty = True
    for line, record in log.records():
        empty = False
        if isinstance(record, dict) and "history" in record:
            session = Session(log, line, _session_id(record), base.get("cwd"))
            if _paired(record["history"]):
                session.version = PAIRED
            yield from _run(session, _history(log, record, line), line)
        elif isinstance(record, list):
            yield from _run(Session(log, line, base.get("id"), base.get("cwd")),
                            _events(log, record, line), line)
        elif isinstance(record, dict):
            if stream is None:
                stream = Session(log, line, base.get("id"), base.get("cwd"))
            yield from _feed(stream, record, line)
        else:
            raise log.error("expected a list of events, an evaluation record or an event, "
                            f"got {_json_type(record)}", line)
    if stream is not None:
        yield from stream.close()
    if empty:
        raise log.error("a folder without event files is not a log" if log.path.is_dir()
                        else "empty log")


# Recognition


def _is_log_record(value: object) -> bool:
    if isinstance(value, list):
        return _is_event_list(value)
    if isinstance(value, dict):
        return _is_eval_record(value) if "history" in value else _is_v1_event(value)
    return False


def _is_event_list(items: list[object]) -> bool:
    return bool(items) and all(_is_v0_event(item) or _is_v1_event(item)
                               for item in items[:RECOGNISED_EVENTS])


def _paired(history: object) -> bool:
    """A history of ``[action, observation]`` pairs (its first entries, at least)."""
    return isinstance(history, list) and bool(history) and all(
        isinstance(pair, list) and len(pair) == 2 and all(_is_v0_event(item) for item in pair)
        for pair in history[:RECOGNISED_EVENTS])


def _is_eval_record(record: dict[str, object]) -> bool:
    history = record["history"]
    if not isinstance(history, list):
        return False
    if not history:
        return "instruction" in record
    return _is_event_list(history) or _paired(history)


def _is_v0_event(item: object) -> bool:
    """One of ``action`` and ``observation``, named as OpenHands names them (SWE-agent
    steps have both, message lists neither)."""
    if not isinstance(item, dict) or "role" in item:
        return False
    names = [item.get(key) for key in ("action", "observation") if key in item]
    return len(names) == 1 and isinstance(names[0], str) \
        and ACTION_NAME_RE.fullmatch(names[0]) is not None


def _is_v1_event(item: object) -> bool:
    return isinstance(item, dict) and isinstance(item.get("kind"), str) and "id" in item \
        and item.get("source") in V1_SOURCES


# Records and their events


def _base_state(log: LogFile) -> dict[str, str]:
    """The id and working directory of a conversation folder, from its ``base_state.json``."""
    if not log.path.is_dir():
        return {}
    folders = [log.path, log.path.parent] if log.path.name == "events" else [log.path]
    for folder in folders:
        if (folder / "base_state.json").is_file():
            state = mapping(LogFile(folder / "base_state.json").document())
            found = {"id": state.get("id"),
                     "cwd": mapping(state.get("workspace")).get("working_dir")}
            return {key: value for key, value in found.items() if isinstance(value, str)}
    return {}


def _session_id(record: dict[str, object]) -> str | None:
    """The instance id of an evaluation record, or the issue a resolver record fixed."""
    instance = record.get("instance_id")
    if isinstance(instance, (str, int)) and not isinstance(instance, bool):
        return str(instance)
    issue = mapping(record.get("issue"))
    if issue.get("owner") and issue.get("repo") and issue.get("number") is not None:
        return f"{issue['owner']}/{issue['repo']}#{issue['number']}"
    return None


def _history(log: LogFile, record: dict[str, object],
             line: int | None) -> Iterator[dict[str, object]]:
    history = record["history"]
    if not isinstance(history, list):
        raise log.error(f"history: expected a list of events, got {_json_type(history)}", line)
    if _paired(history):
        return _pairs(log, history, line)
    return _events(log, history, line, "history")


def _pairs(log: LogFile, history: list[object],
           line: int | None) -> Iterator[dict[str, object]]:
    """The action and observation of each pair, linked as ``id`` and ``cause`` are when the
    pair does not link them itself."""
    for index, pair in enumerate(history):
        if not isinstance(pair, list) or len(pair) != 2 or \
                not all(isinstance(item, dict) for item in pair):
            raise log.error(f"history[{index}]: expected an [action, observation] pair", line)
        action, observation = pair
        if "id" not in action and "cause" not in observation:
            action = {**action, "id": f"pair {index}"}
            observation = {**observation, "cause": f"pair {index}"}
        yield action
        yield observation


def _events(log: LogFile, items: list[object], line: int | None,
            where: str = "event") -> Iterator[dict[str, object]]:
    for index, item in enumerate(items):
        if not isinstance(item, dict):
            raise log.error(f"{where}[{index}]: expected an event object, "
                            f"got {_json_type(item)}", line)
        yield item


def _json_type(value: object) -> str:
    if value is None:
        return "null"
    return {bool: "boolean", int: "number", float: "number", str: "string",
            list: "array", dict: "object"}.get(type(value), type(value).__name__)


def _run(session: Session, events: Iterable[dict[str, object]],
         line: int | None) -> Iterator[TurnLog]:
    for event in events:
        yield from _feed(session, event, line)
    yield from session.close()


def _feed(session: Session, event: dict[str, object], line: int | None) -> Iterator[TurnLog]:
    """Each turn is yielded once the user message that starts the next one comes."""
    session.line = line
    if session.version is None:
        session.version = "v1" if "kind" in event else "v0" if "id" in event else "v0-flat"
    if user_message(event):
        yield from session.close()
        session.start(line)
    else:
        apply(session, event)
